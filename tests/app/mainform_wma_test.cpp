// Ripping to WMA through the window, on a generated disc in a virtual drive: what ffprobe and
// ffmpeg make of the files.
#include "app/mainform.h"

#include "app/uRename.h"
#include "audio/encoders/ACS_WinMedia.h"
#include "tests/audio/encoders/WmaTestSupport.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/Pump.h"
#include "tests/support/TempDir.h"
#include "tests/support/VirtualDrives.h"
#include "tools/DiscImage.h"
#include "ui/TStringGrid.h"

#include <QComboBox>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

// Samples per channel in one frame of the 44100 Hz encoder.
constexpr long CodecFrame = 2048;

// Three audio tracks: four seconds of chords, 17 sectors (not a whole number of codec frames)
// and a second of a sine.
class TWmaEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", Folder.Path().c_str(), 1);
    setenv("TAVRUNE_DEMO_DISC", Folder.File("no-demo.cue").c_str(), 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    unsetenv("TAVRUNE_LIBRARY_PATH");
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    Tracks.resize(3);
    Tracks[0] = {false, 300, 0, "chord 3"};
    Tracks[1] = {false, 17, 0, "sine 1000 0.4"};
    Tracks[2] = {false, 75, 0, "sine 440"};
    Disc = tools::WriteDiscImage(Tracks, Folder.File("three.cue"));
    WriteDrivesIni(Folder.Path(), {Disc.CueFile});
  }

  // No track has a gap before it: each one's bytes are its own sectors.
  std::vector<uint8_t> TrackBytes(int Track) const {
    const uint32_t Start = Disc.Starts[static_cast<size_t>(Track - 1)];
    return BinSectors(Disc.BinFile, Start, Start + Tracks[static_cast<size_t>(Track - 1)].Sectors);
  }

  TTempDir Folder;
  TFakeDesktop Desktop{Folder.Path()};
  std::vector<tools::TTrackSpec> Tracks;
  tools::TDiscLayout Disc;
};
TWmaEnvironment* Environment =
    static_cast<TWmaEnvironment*>(::testing::AddGlobalTestEnvironment(new TWmaEnvironment));

class WmaRipTest : public ::testing::Test {
protected:
  void SetUp() override {
    Form1 = std::make_unique<TForm1>();
    Form3 = std::make_unique<TForm3>(Form1.get());
    Form1->SetRenameDialog(Form3.get());
    Form1->show();
    Form1->ComboBox1->setCurrentText("wma");
  }
  void TearDown() override {
    Form1->close();
    if (!Form1->OutputFolder.empty())
      std::filesystem::remove_all(Form1->OutputFolder);
    Form3.reset();
    Form1.reset();
  }

  void RipTracks(std::initializer_list<int> Rows) {
    ui::TStringGrid& Grid = *Form1->sgCDSrc;
    for (int Row = 1; Row < Grid.RowCount(); ++Row)
      Grid.AddCheckBox(0, Row, std::find(Rows.begin(), Rows.end(), Row) != Rows.end());
    Form1->AdvGlowButton2Click();
    ASSERT_TRUE(PumpUntil([&] { return !Form1->Ripping; }, 60000));
    for (int Row : Rows)
      EXPECT_EQ(Grid.Cells(5, Row), "completed") << Row;
  }
  std::string TrackFile(int Track) const {
    return Form1->OutputFolder + "Track0" + std::to_string(Track) + ".wma";
  }

  std::unique_ptr<TForm1> Form1;
  std::unique_ptr<TForm3> Form3;
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
    // Every sample of the track, then the silence that completes its last codec frame and at
    // most one codec frame of silence.
    const std::vector<uint8_t> Source = Environment->TrackBytes(Track);
    const long Frames = static_cast<long>(Source.size() / 4);
    const long Padding = (CodecFrame - Frames % CodecFrame) % CodecFrame;
    const TDecodedSound Sound = CompareDecoded(File, Source);
    std::printf("Track %d: %ld frames after the sound, SNR %.1f dB, last 1000 frames %.1f dB\n",
                Track, Sound.Extra, Sound.SnrDb, Sound.TailSnrDb);
    EXPECT_GE(Sound.Extra, 0);
    EXPECT_LE(Sound.Extra, Padding + CodecFrame);
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
