// A track ripped from the window in "mp3" with our MP3 encoder library, checked with ffprobe
// and ffmpeg against the disc's audio.
#include "tests/app/RipWindow.h"

#include "audio/encoders/ACS_LAME.h"
#include "tests/audio/encoders/Mp3Frames.h"

namespace {

// Two audio tracks of a sine and of chords, five and three seconds long.
std::vector<tools::TTrackSpec> Mp3Tracks() {
  std::vector<tools::TTrackSpec> Tracks(2);
  Tracks[0].Sectors = 5 * 75;
  Tracks[0].Source = "sine 440 0.25";
  Tracks[1].Sectors = 3 * 75;
  Tracks[1].Source = "chord 3";
  return Tracks;
}
[[maybe_unused]] const TRipEnvironment* const Registered = AddRipEnvironment(Mp3Tracks());

// One rip of each track from the window, shared by the tests.
class Mp3RipTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    auto Form1 = std::make_unique<TForm1>();
    TForm3 Form3(Form1.get());
    Form1->SetRenameDialog(&Form3);
    Form1->show();
    Form1->ComboBox1->setCurrentText("mp3");
    Form1->AdvGlowButton2Click();
    ASSERT_TRUE(PumpUntil([&] { return !Form1->Ripping; }, 120000));
    Folder = Form1->OutputFolder;
    for (int Row : {1, 2})
      Status.push_back(Form1->sgCDSrc->Cells(5, Row));
    Form1->close();
  }
  static void TearDownTestSuite() {
    if (!Folder.empty())
      std::filesystem::remove_all(Folder);
  }
  static std::string File(int Track) { return Folder + "Track0" + std::to_string(Track) + ".mp3"; }
  static std::string Probe(const std::string& Entries, int Track) {
    return RunCommand("ffprobe -v error -select_streams a -show_entries " + Entries +
                      " -of default=nw=1 '" + File(Track) + "'")
        .Output;
  }

  static inline std::string Folder;
  static inline std::vector<std::string> Status;
};

TEST_F(Mp3RipTest, BothTracksAreCompleted) {
  EXPECT_EQ(Status, (std::vector<std::string>{"completed", "completed"}));
  EXPECT_TRUE(std::filesystem::exists(File(1)));
  EXPECT_TRUE(std::filesystem::exists(File(2)));
}

TEST_F(Mp3RipTest, FfprobeReadsMpeg1LayerIIIAt128kbpsStereo) {
  EXPECT_EQ(Probe("stream=codec_name,sample_rate,channels,bit_rate", 1),
            "codec_name=mp3\nsample_rate=44100\nchannels=2\nbit_rate=128000\n");
}

TEST_F(Mp3RipTest, EveryFrameIsMpeg1LayerIIIStereoAt128kbpsWithTheOriginalBit) {
  const std::vector<uint8_t> Bytes = ReadBytes(File(1));
  ASSERT_GT(Bytes.size(), Id3v1BlockSize);
  const size_t End = Bytes.size() - Id3v1BlockSize;
  const std::vector<TMp3Frame> Frames = Mp3Frames(Bytes, End);
  ASSERT_FALSE(Frames.empty());
  // Nothing but frames up to the tag, and no VBR header in the first.
  EXPECT_EQ(Frames.back().Offset + Frames.back().Size, End);
  EXPECT_FALSE(XingFrameCount(Bytes, Frames.front()));
  for (const TMp3Frame& Frame : Frames) {
    ASSERT_EQ(Frame.Kbps, 128u) << Frame.Offset;
    ASSERT_EQ(Frame.Rate, 44100u) << Frame.Offset;
    ASSERT_EQ(Frame.Mode, 0) << Frame.Offset;
    ASSERT_TRUE(Frame.Original) << Frame.Offset;
    ASSERT_FALSE(Frame.Crc) << Frame.Offset;
  }
}

TEST_F(Mp3RipTest, TheFileEndsInAnEmptyId3v1Block) {
  const std::vector<uint8_t> Bytes = ReadBytes(File(1));
  ASSERT_GT(Bytes.size(), Id3v1BlockSize);
  std::vector<uint8_t> Expected = {'T', 'A', 'G'};
  Expected.resize(Id3v1BlockSize - 1, 0);
  Expected.push_back(255);
  EXPECT_EQ(std::vector<uint8_t>(Bytes.end() - Id3v1BlockSize, Bytes.end()), Expected);
  // Genre 0 would be "Blues".
  EXPECT_EQ(Probe("format_tags", 1).find("Blues"), std::string::npos);
}

TEST_F(Mp3RipTest, DecodedTheTracksMatchTheDiscAfterTheEncoderDelay) {
  for (int Track : {1, 2}) {
    SCOPED_TRACE(Track);
    const std::vector<int16_t> Source = Environment->TrackSamples(Track);
    const std::vector<int16_t> Decoded = DecodeWithFfmpeg(File(Track));
    const TAlignment Match = Align(Source, Decoded, 2, 3000);
    std::printf("track %d: lag %zu frames, SNR %.1f dB, %zu frames decoded of %zu\n", Track,
                Match.Lag, Match.SnrDb, Decoded.size() / 2, Source.size() / 2);
    EXPECT_GT(Match.SnrDb, 20);
    // LAME's 576 samples of encoder delay and the decoder's 529; less than a frame of padding.
    EXPECT_EQ(Match.Lag, 1105u);
    ASSERT_GE(Decoded.size(), 2 * Match.Lag + Source.size());
    EXPECT_LT(Decoded.size() - 2 * Match.Lag - Source.size(), 2 * 1152u);
  }
}

} // namespace
