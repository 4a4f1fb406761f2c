// Ripping to WMA through the window, on a generated disc in a virtual drive: what ffprobe and
// ffmpeg make of the files.
#include "tests/app/RipWindow.h"

#include "audio/encoders/ACS_WinMedia.h"
#include "tests/audio/encoders/WmaTestSupport.h"

namespace {

// Samples per channel in one frame of the 44100 Hz encoder.
constexpr long CodecFrame = 2048;

// Three audio tracks: four seconds of chords, 17 sectors (not a whole number of codec frames)
// and a second of a sine.
std::vector<tools::TTrackSpec> WmaTracks() {
  return {{false, 300, 0, "chord 3"}, {false, 17, 0, "sine 1000 0.4"}, {false, 75, 0, "sine 440"}};
}
[[maybe_unused]] const TRipEnvironment* const Registered = AddRipEnvironment(WmaTracks());

class WmaRipTest : public TRipWindowTest {
protected:
  WmaRipTest() : TRipWindowTest("wma") {}

  void RipTracks(std::initializer_list<int> Rows) {
    TickOnly(Rows);
    RipAndWait();
    for (int Row : Rows)
      EXPECT_EQ(Grid().Cells(5, Row), "completed") << Row;
  }
  std::string TrackFile(int Track) { return TRipWindowTest::TrackFile(Track, ".wma"); }
};

TEST_F(WmaRipTest, TracksBecomeWmaFilesThatDecodeToTheirSound) {
  RipTracks({1, 2, 3});
  for (int Track : {1, 2, 3}) {
    SCOPED_TRACE(Track);
    const std::string File = TrackFile(Track);
    auto Stream = ProbeEntries(File, "stream=codec_name,sample_rate,channels,bit_rate");
    EXPECT_EQ(Stream["codec_name"], "wmav2");
    EXPECT_EQ(Stream["sample_rate"], "44100");
    EXPECT_EQ(Stream["channels"], "2");
    EXPECT_NEAR(std::stod(Stream["bit_rate"]), 256000, 1000);
    // Every sample of the track, then the silence that completes its last codec frame and one
    // codec frame of silence.
    const std::vector<uint8_t> Source = Environment->TrackBytes(Track);
    const long Frames = static_cast<long>(Source.size() / 4);
    const long Padding = (CodecFrame - Frames % CodecFrame) % CodecFrame;
    const TDecodedSound Sound = CompareDecoded(File, Source);
    std::printf("Track %d: %ld frames after the sound, SNR %.1f dB, last 1000 frames %.1f dB\n",
                Track, Sound.Extra, Sound.SnrDb, Sound.TailSnrDb);
    EXPECT_EQ(Sound.Extra, Padding + CodecFrame);
    EXPECT_GT(Sound.SnrDb, 30);
    EXPECT_GT(Sound.TailSnrDb, 30);
  }
}

TEST_F(WmaRipTest, TagValuesAppearInTheFilesOnlyWhenSet) {
  RipTracks({3});
  EXPECT_EQ(ProbeEntries(TrackFile(3), "format_tags"), (std::map<std::string, std::string>{}));

  TId3v2Tags Tags;
  Tags.SetArtist(u"Somebody");
  Tags.SetTitle(u"Something");
  Tags.SetYear("2001");
  Form1->WMAOutCD->SetId3v2Tags(Tags);
  RipTracks({3});
  EXPECT_EQ(ProbeEntries(TrackFile(3), "format_tags"),
            (std::map<std::string, std::string>{
                {"TAG:artist", "Somebody"}, {"TAG:title", "Something"}, {"TAG:WM/Year", "2001"}}));
}

} // namespace
