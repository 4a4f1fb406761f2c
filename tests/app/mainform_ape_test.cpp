// Ripping to "ape" through the window, on a generated disc in a virtual drive: the file our
// Monkey's Audio library writes decodes to the disc's bytes, and a missing library fails the
// track with its message. This program stands in front of the dynamic loader to refuse the
// library when asked.
#include "app/mainform.h"

#include "audio/encoders/ACS_MAC.h"
#include "tests/audio/encoders/EncoderTestSupport.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/Pump.h"
#include "tests/support/TempDir.h"
#include "tests/support/VirtualDrives.h"
#include "tools/DiscImage.h"
#include "ui/TStringGrid.h"

#include <dlfcn.h>

#include <QComboBox>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

namespace {

std::atomic<bool> RefuseLibrary{false};

} // namespace

// Every dlopen of the process comes here first; the program's own definition wins over the C
// library's.
extern "C" void* dlopen(const char* File, int Mode) {
  using TDlopen = void* (*)(const char*, int);
  static const auto Real = reinterpret_cast<TDlopen>(dlsym(RTLD_NEXT, "dlopen"));
  if (File != nullptr && RefuseLibrary && std::filesystem::path(File).filename() == "libMACDll.so")
    return nullptr;
  return Real(File, Mode);
}

namespace {

// Two short tracks and one of more than one compressor frame.
class TApeEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", Folder.Path().c_str(), 1);
    setenv("TAVRUNE_DEMO_DISC", Folder.File("no-demo.cue").c_str(), 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    unsetenv("TAVRUNE_LIBRARY_PATH");
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    std::vector<tools::TTrackSpec> Tracks(3);
    const uint32_t Lengths[3] = {75, 2250, 150};
    for (size_t I = 0; I < Tracks.size(); ++I) {
      Tracks[I].Sectors = Lengths[I];
      Tracks[I].Source = "chord " + std::to_string(I + 1);
    }
    Disc = tools::WriteDiscImage(Tracks, Folder.File("three.cue"));
    WriteDrivesIni(Folder.Path(), {Disc.CueFile});
  }

  // The image's bytes of a track: from its start to the next track's.
  std::string TrackBytes(int Track) const {
    const size_t I = static_cast<size_t>(Track - 1);
    const uint32_t End = I + 1 < Disc.Starts.size() ? Disc.Starts[I + 1] : Disc.LeadOut;
    const std::vector<uint8_t> Bytes = BinSectors(Disc.BinFile, Disc.Starts[I], End);
    return {Bytes.begin(), Bytes.end()};
  }

  TTempDir Folder;
  TFakeDesktop Desktop{Folder.Path()};
  tools::TDiscLayout Disc;
};
TApeEnvironment* Environment =
    static_cast<TApeEnvironment*>(::testing::AddGlobalTestEnvironment(new TApeEnvironment));

class ApeRipTest : public ::testing::Test {
protected:
  void SetUp() override {
    Form1 = std::make_unique<TForm1>();
    Form1->show();
    Form1->ComboBox1->setCurrentText("ape");
  }
  void TearDown() override {
    Form1->close();
    if (!Form1->OutputFolder.empty())
      std::filesystem::remove_all(Form1->OutputFolder);
    Form1.reset();
  }

  ui::TStringGrid& Grid() { return *Form1->sgCDSrc; }

  void RipOnly(std::initializer_list<int> Rows) {
    for (int Row = 1; Row < Grid().RowCount(); ++Row)
      Grid().AddCheckBox(0, Row, std::find(Rows.begin(), Rows.end(), Row) != Rows.end());
    Form1->AdvGlowButton2Click();
    ASSERT_TRUE(PumpUntil([&] { return !Form1->Ripping; }, 60000));
  }

  std::unique_ptr<TForm1> Form1;
};

TEST_F(ApeRipTest, TheWindowsMemberCarriesItsSettings) {
  EXPECT_EQ(Form1->MACOutCD->CompressionLevel(), 2000);
  EXPECT_EQ(Form1->MACOutCD->MaxAudioBytes(), -1);
  EXPECT_TRUE(Form1->MACOutCD->APEv2Tags()->IsBlank());
}

// Kept in one test: once loaded, the library stays loaded for the process.
TEST_F(ApeRipTest, AMissingLibraryFailsTheTrackAndALoadedOneRipsItExactly) {
  RefuseLibrary = true;
  RipOnly({1});
  RefuseLibrary = false;
  EXPECT_NE(Grid().Cells(5, 1), "completed");
  EXPECT_EQ(Grid().CellHint(5, 1), "MACDll.dll library could not be loaded.");
  EXPECT_FALSE(std::filesystem::exists(Form1->OutputFolder + "Track01.ape"));

  RipOnly({1, 2, 3});
  for (int Track = 1; Track <= 3; ++Track) {
    SCOPED_TRACE(Track);
    const std::string File = Form1->OutputFolder + "Track0" + std::to_string(Track) + ".ape";
    EXPECT_EQ(Grid().Cells(5, Track), "completed");
    const TCommandResult Decoded =
        RunCommand("ffmpeg -v error -err_detect crccheck+explode -i '" + File + "' -f s16le -");
    EXPECT_EQ(Decoded.Status, 0);
    EXPECT_TRUE(Decoded.Output == Environment->TrackBytes(Track))
        << Decoded.Output.size() << " bytes";
  }
  // No tag value was set, so no file carries a tag.
  const std::vector<uint8_t> Bytes = ReadBytes(Form1->OutputFolder + "Track02.ape");
  ASSERT_GE(Bytes.size(), 32u);
  EXPECT_NE(std::string(Bytes.end() - 32, Bytes.end() - 24), "APETAGEX");
}

} // namespace
