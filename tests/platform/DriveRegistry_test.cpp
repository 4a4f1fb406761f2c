#include "platform/DriveRegistry.h"

#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/support/VirtualDrives.h"
#include "tools/DiscImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

using namespace platform;
namespace fs = std::filesystem;

namespace {

// Audio, audio after a pregap, data: the pregap lies in the first track's range.
const std::vector<tools::TTrackSpec> MixedDisc = {
    {false, 30, 0, "pattern 1"},
    {false, 20, 5, "pattern 2"},
    {true, 15, 0, ""},
};

class DriveRegistryTest : public testing::Test {
protected:
  TTempDir Dir;
  const TScopedEnv ConfigHome{"XDG_CONFIG_HOME", Dir.Path().c_str()};
  const std::string DemoFile = Dir.File("demo/demo.cue");
  const TScopedEnv Demo{"TAVRUNE_DEMO_DISC", DemoFile.c_str()};
  // A machine with CD drives lists them first.
  const size_t Physical = std::ranges::count(CDDrives(), false, &TDriveInfo::Virtual);

  char Letter(size_t Image) const { return static_cast<char>('D' + Physical + Image); }

  tools::TDiscLayout MakeDisc(const std::string& Name,
                              const std::vector<tools::TTrackSpec>& Tracks = MixedDisc) {
    return tools::WriteDiscImage(Tracks, Dir.File(Name + ".cue"));
  }

  void Insert(const std::vector<std::string>& Images) { WriteDrivesIni(Dir.Path(), Images); }

  std::vector<std::string> ImagePaths() const {
    std::vector<std::string> Paths;
    for (const TDriveInfo& Drive : CDDrives())
      if (Drive.Virtual)
        Paths.push_back(Drive.Path);
    return Paths;
  }
};

TEST_F(DriveRegistryTest, ListsTheImagesInKeyOrderLetteredAfterThePhysicalDrives) {
  const std::string A = MakeDisc("album").CueFile, B = MakeDisc("second").CueFile;
  fs::create_directories(Dir.File("tavrune"));
  // Key order, not file order; a relative name is taken from the folder of drives.ini; keys
  // other than Image<N> and other sections are no drives.
  std::ofstream(Dir.File("tavrune/drives.ini"))
      << "[Other]\nImage3=" << A << "\n"
      << "[Images]\nImage10=" << A << "\nImage2=../"
      << "second.cue\nImageX=" << B << "\nImage1=" << B << "\nImage1=" << A << "\nTitle=x\n";

  const std::vector<TDriveInfo> Drives = CDDrives();
  ASSERT_EQ(Drives.size(), Physical + 3);
  const struct {
    std::string Name, Path;
  } Expected[] = {{"second", B}, {"second", B}, {"album", A}};
  for (size_t I = 0; I < 3; ++I) {
    const TDriveInfo& Drive = Drives[Physical + I];
    SCOPED_TRACE(I);
    EXPECT_EQ(Drive.Letter, Letter(I));
    EXPECT_EQ(Drive.Name, std::string(1, Letter(I)) + ": " + Expected[I].Name);
    EXPECT_EQ(Drive.Path, Expected[I].Path);
    EXPECT_TRUE(Drive.Virtual);
    EXPECT_EQ(GetDriveType(Drive.Letter), DRIVE_CDROM);
  }
  for (size_t I = 0; I < Physical; ++I)
    EXPECT_EQ(Drives[I].Letter, 'D' + static_cast<char>(I));
  EXPECT_EQ(GetDriveType(Letter(3)), DRIVE_NO_ROOT_DIR);
  EXPECT_EQ(GetDriveType('C'), DRIVE_NO_ROOT_DIR);
  EXPECT_EQ(GetDriveType(static_cast<char>(Letter(0) - 'A' + 'a')), DRIVE_CDROM);
}

TEST_F(DriveRegistryTest, SeesDrivesIniChangeWhileRunning) {
  const std::string A = MakeDisc("a").CueFile, B = MakeDisc("b").CueFile, C = MakeDisc("c").CueFile;
  const struct {
    const char* Step;
    std::vector<std::string> Images;
  } Steps[] = {
      {"insert", {A}},  {"insert a second", {A, B}}, {"remove the first", {B}},
      {"replace", {C}}, {"remove all", {}},          {"insert again", {A}},
  };
  EXPECT_TRUE(ImagePaths().empty());
  for (const auto& Step : Steps) {
    SCOPED_TRACE(Step.Step);
    Insert(Step.Images);
    EXPECT_EQ(ImagePaths(), Step.Images);
  }
}

TEST_F(DriveRegistryTest, ADiscOfADriveThatChangedInDrivesIniShowsAsChanged) {
  const std::string A = MakeDisc("a").CueFile, B = MakeDisc("b").CueFile, C = MakeDisc("c").CueFile;
  Insert({A, B});
  std::unique_ptr<TDisc> First = OpenDisc(Letter(0)), Second = OpenDisc(Letter(1));
  ASSERT_TRUE(First && Second);
  EXPECT_FALSE(First->Changed());
  EXPECT_FALSE(Second->Changed());

  // The first drive keeps its image; the second gets another one.
  Insert({A, C});
  EXPECT_FALSE(First->Changed());
  EXPECT_TRUE(Second->Changed());
  Insert({});
  EXPECT_TRUE(First->Changed());
}

TEST_F(DriveRegistryTest, AnImageThatDoesNotOpenIsADriveWithoutDisc) {
  fs::create_directories(Dir.File("folder.cue"));
  std::ofstream(Dir.File("garbage.cue")) << "this is no cue sheet\n";
  std::ofstream(Dir.File("lonely.bin")) << std::string(2352 * 4, 'x');
  const tools::TDiscLayout NoBin = MakeDisc("nobin");
  fs::remove(NoBin.BinFile);
  const std::vector<std::string> Images = {Dir.File("missing.cue"), Dir.File("folder.cue"),
                                           Dir.File("garbage.cue"), Dir.File("lonely.bin"),
                                           NoBin.CueFile};
  Insert(Images);
  ASSERT_EQ(ImagePaths(), Images);
  for (size_t I = 0; I < Images.size(); ++I) {
    SCOPED_TRACE(Images[I]);
    EXPECT_EQ(GetDriveType(Letter(I)), DRIVE_CDROM);
    EXPECT_EQ(OpenDisc(Letter(I)), nullptr);
  }
}

TEST_F(DriveRegistryTest, TheDemoDiscOnlyWhenThereIsNoDriveAndNoImage) {
  if (Physical > 0)
    GTEST_SKIP() << "this machine has CD drives";
  fs::create_directories(Dir.File("demo"));
  const std::string Image = MakeDisc("a").CueFile;
  EXPECT_TRUE(CDDrives().empty()) << "no image and no demo disc";

  tools::WriteDiscImage(MixedDisc, DemoFile);
  ASSERT_EQ(CDDrives().size(), 1u);
  EXPECT_EQ(CDDrives()[0].Name, "D: demo");
  EXPECT_EQ(CDDrives()[0].Path, DemoFile);
  EXPECT_NE(OpenDisc('D'), nullptr);

  Insert({Image});
  EXPECT_EQ(ImagePaths(), std::vector<std::string>{Image});
  // An image that does not open is still a drive, so the demo disc stays out.
  Insert({Dir.File("missing.cue")});
  EXPECT_EQ(ImagePaths(), std::vector<std::string>{Dir.File("missing.cue")});
  Insert({});
  EXPECT_EQ(ImagePaths(), std::vector<std::string>{DemoFile});
}

TEST_F(DriveRegistryTest, TheTableOfContentsIsTheImagesLayout) {
  const tools::TDiscLayout Layout = MakeDisc("a");
  Insert({Layout.CueFile});
  const std::unique_ptr<TDisc> Disc = OpenDisc(Letter(0));
  ASSERT_NE(Disc, nullptr);
  EXPECT_EQ(Disc->Letter(), Letter(0));
  EXPECT_TRUE(Disc->Virtual());
  EXPECT_NE(Disc->Handle(), nullptr);
  const TDiscToc& Toc = Disc->Toc();
  EXPECT_EQ(Toc.FirstTrack, 1);
  ASSERT_EQ(Toc.Tracks.size(), 3u);
  for (size_t I = 0; I < 3; ++I) {
    SCOPED_TRACE(I);
    EXPECT_EQ(Toc.Tracks[I].Number, I + 1);
    EXPECT_EQ(Toc.Tracks[I].Lsn, static_cast<int32_t>(Layout.Starts[I]));
    EXPECT_EQ(Toc.Tracks[I].Audio, !MixedDisc[I].Data);
  }
  EXPECT_EQ(Toc.LeadOut, static_cast<int32_t>(Layout.LeadOut));
  EXPECT_EQ(Layout.Starts[1], 35u) << "the second track's pregap follows the first track";
}

TEST_F(DriveRegistryTest, ReadsExactlyTheSectorsOnTheDisc) {
  const tools::TDiscLayout Layout = MakeDisc("a");
  Insert({Layout.CueFile});
  const std::unique_ptr<TDisc> Disc = OpenDisc(Letter(0));
  ASSERT_NE(Disc, nullptr);
  const int32_t LeadOut = static_cast<int32_t>(Layout.LeadOut);
  const struct {
    int32_t Lsn;
    uint32_t Count;
    bool Read;
  } Cases[] = {
      {0, 1, true},
      {0, 35, true},
      {33, 4, true},
      {LeadOut - 1, 1, true},
      {0, uint32_t(LeadOut), true},
      {-1, 2, false},
      {LeadOut, 1, false},
      {LeadOut - 1, 2, false},
      {0, 0, false},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(std::to_string(Case.Lsn) + "+" + std::to_string(Case.Count));
    std::vector<uint8_t> Buffer(size_t{Case.Count + 1} * CDSectorBytes, 0xEE);
    ASSERT_EQ(Disc->ReadAudioSectors(Case.Lsn, Case.Count, Buffer.data()), Case.Read);
    if (!Case.Read)
      continue;
    Buffer.resize(size_t{Case.Count} * CDSectorBytes);
    EXPECT_EQ(Buffer, BinSectors(Layout.BinFile, static_cast<uint32_t>(Case.Lsn),
                                 static_cast<uint32_t>(Case.Lsn) + Case.Count));
  }
  EXPECT_FALSE(Disc->ReadAudioSectors(0, 1, nullptr));
}

TEST_F(DriveRegistryTest, ADiscWhoseFilesChangeOrVanishShowsAsChanged) {
  const struct {
    const char* Name;
    std::function<void(const tools::TDiscLayout&)> Change;
  } Cases[] = {
      {"data file shortened", [](auto& Layout) { fs::resize_file(Layout.BinFile, 2352 * 10); }},
      {"data file removed", [](auto& Layout) { fs::remove(Layout.BinFile); }},
      {"cue sheet removed", [](auto& Layout) { fs::remove(Layout.CueFile); }},
      {"cue sheet rewritten",
       [](auto& Layout) { std::ofstream(Layout.CueFile, std::ios::app) << "REM changed\n"; }},
  };
  int Disc = 0;
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const tools::TDiscLayout Layout = MakeDisc("disc" + std::to_string(++Disc));
    Insert({Layout.CueFile});
    const std::unique_ptr<TDisc> Opened = OpenDisc(Letter(0));
    ASSERT_NE(Opened, nullptr);
    std::vector<uint8_t> Buffer(CDSectorBytes * 4);
    EXPECT_TRUE(Opened->ReadAudioSectors(20, 4, Buffer.data()));
    EXPECT_FALSE(Opened->Changed());

    Case.Change(Layout);
    EXPECT_TRUE(Opened->Changed());
    EXPECT_FALSE(Opened->ReadAudioSectors(20, 4, Buffer.data()));
  }
}

TEST_F(DriveRegistryTest, EjectTakesTheDiscOutUntilTheTrayCloses) {
  const std::string A = MakeDisc("a").CueFile, B = MakeDisc("b").CueFile;
  Insert({A, B});
  const std::string IniBefore = [&] {
    std::ifstream In(Dir.File("tavrune/drives.ini"));
    return std::string(std::istreambuf_iterator<char>(In), {});
  }();
  const std::unique_ptr<TDisc> Before = OpenDisc(Letter(0)), Other = OpenDisc(Letter(1));
  ASSERT_TRUE(Before && Other);

  EXPECT_TRUE(EjectDrive(Letter(0), true));
  EXPECT_EQ(OpenDisc(Letter(0)), nullptr);
  EXPECT_TRUE(Before->Changed());
  EXPECT_FALSE(Other->Changed());
  EXPECT_EQ(GetDriveType(Letter(0)), DRIVE_CDROM) << "the drive stays";

  EXPECT_TRUE(EjectDrive(Letter(0), false));
  const std::unique_ptr<TDisc> After = OpenDisc(Letter(0));
  ASSERT_NE(After, nullptr);
  EXPECT_FALSE(After->Changed());
  EXPECT_TRUE(Before->Changed()) << "a disc read before the tray opened stays changed";

  std::ifstream In(Dir.File("tavrune/drives.ini"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(In), {}), IniBefore);
  EXPECT_FALSE(EjectDrive(Letter(2), true));
}

TEST_F(DriveRegistryTest, ThePlayingMarkBelongsToOneDrive) {
  Insert({MakeDisc("a").CueFile, MakeDisc("b").CueFile});
  EXPECT_FALSE(DrivePlaying(Letter(0)));
  SetDrivePlaying(Letter(0), true);
  EXPECT_TRUE(DrivePlaying(Letter(0)));
  EXPECT_FALSE(DrivePlaying(Letter(1)));
  EXPECT_FALSE(DrivePlaying(Letter(2)));
  SetDrivePlaying(Letter(0), false);
  EXPECT_FALSE(DrivePlaying(Letter(0)));
}

TEST_F(DriveRegistryTest, ServesSeveralThreadsWhileDrivesIniChanges) {
  const tools::TDiscLayout Layout = MakeDisc("a");
  const std::string B = MakeDisc("b").CueFile;
  const std::vector<uint8_t> Expected = BinSectors(Layout.BinFile, 0, 8);
  Insert({Layout.CueFile, B});
  std::atomic<bool> Stop{false};
  std::atomic<int> BadReads{0};
  // Drive D keeps its image throughout, so every read of it must give its bytes.
  const auto Reader = [&] {
    std::vector<uint8_t> Buffer(Expected.size());
    while (!Stop) {
      const std::unique_ptr<TDisc> Disc = OpenDisc(Letter(0));
      if (!Disc || !Disc->ReadAudioSectors(0, 8, Buffer.data()) || Buffer != Expected)
        ++BadReads;
      CDDrives();
      GetDriveType(Letter(1));
      SetDrivePlaying(Letter(0), !DrivePlaying(Letter(0)));
    }
  };
  std::thread First(Reader), Second(Reader);
  for (int I = 0; I < 50; ++I)
    Insert(I % 2 ? std::vector<std::string>{Layout.CueFile, B}
                 : std::vector<std::string>{Layout.CueFile});
  Stop = true;
  First.join();
  Second.join();
  EXPECT_EQ(BadReads, 0);
}

} // namespace
