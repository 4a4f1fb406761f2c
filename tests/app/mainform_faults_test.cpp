// What the user sees when a rip cannot be done as asked: a disc that goes in the middle of a
// track, a batch folder that cannot be made, a title too long for a file name.
#include "tests/app/RipWindow.h"

#include "audio/encoders/ACS_Wave.h"
#include "tests/support/Command.h"
#include "tests/support/ScopedEnv.h"
#include "tests/ui/RecordedErrors.h"
#include "ui/TGlowButton.h"

#include <sys/stat.h>

namespace {

// Track 1 is long enough (4 minutes) to be still ripping when its first progress arrives.
[[maybe_unused]] const TRipEnvironment* const Registered =
    AddRipEnvironment({{false, 18000, 0, "pattern 1"}, {false, 75, 0, "chord 2"}});

class FaultsTest : public TRipWindowTest {
protected:
  FaultsTest() : TRipWindowTest("wav") {}
};

TEST_F(FaultsTest, ADiscRemovedDuringATrackFailsItLeavesNoFileAndTheBatchEnds) {
  const std::string Bin = Environment->Disc.BinFile;
  const std::string Kept = Bin + ".kept";
  std::filesystem::create_hard_link(Bin, Kept);
  // The disc goes once the track is under way.
  TWaveOut* Writer = Form1->WaveOutCD;
  const TOutputProgressEvent Progress = Writer->OnProgress();
  Writer->SetOnProgress([&](TComponent* Sender) {
    std::error_code Ignored;
    std::filesystem::remove(Bin, Ignored);
    Progress(Sender);
  });
  TickOnly({1, 2});
  {
    // With a file manager to ask, it still cannot be asked to select a file that is not there.
    const TScopedEnv Bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    RipAndWait();
  }
  std::filesystem::rename(Kept, Bin);

  EXPECT_NE(Grid().Cells(5, 1), "completed");
  EXPECT_EQ(Grid().CellHint(5, 1), "The disc was removed or changed during the rip");
  // The next track finds no disc: it fails too, and the batch ends.
  EXPECT_NE(Grid().Cells(5, 2), "completed");
  EXPECT_EQ(Grid().CellHint(5, 2), "The drive is not ready");
  EXPECT_EQ(BatchFiles(), std::vector<std::string>{});
  EXPECT_TRUE(Grid().DblClickEnabled());
  EXPECT_TRUE(PumpUntil(
      [&] { return Environment->Desktop.Log() == "xdg-open [" + Form1->OutputFolder + "]\n"; }))
      << Environment->Desktop.Log();
}

struct LongTitleCase {
  const char* Name;
  std::string Title;
  std::string FileName;
};

class LongTitleTest : public FaultsTest, public ::testing::WithParamInterface<LongTitleCase> {};

// A name holds at most 255 bytes: the title is shortened to fit with its extension, never
// inside a character, and the track is ripped.
TEST_P(LongTitleTest, IsShortenedToAFileNameAndTheTrackIsRipped) {
  const LongTitleCase& Case = GetParam();
  TickOnly({2});
  Grid().SetCells(2, 2, Case.Title);
  RipAndWait();
  EXPECT_EQ(Grid().Cells(5, 2), "completed") << Grid().CellHint(5, 2);
  EXPECT_EQ(BatchFiles(), std::vector<std::string>{Case.FileName});
  const std::vector<uint8_t> Bytes = FileBytes(Form1->OutputFolder + Case.FileName);
  ASSERT_GE(Bytes.size(), 44u);
  EXPECT_TRUE(std::vector<uint8_t>(Bytes.begin() + 44, Bytes.end()) == Environment->TrackBytes(2));
}

std::string Repeated(const std::string& Text, size_t Count) {
  std::string Result;
  for (size_t I = 0; I < Count; ++I)
    Result += Text;
  return Result;
}

INSTANTIATE_TEST_SUITE_P(
    Titles, LongTitleTest,
    ::testing::Values(
        LongTitleCase{"ThreeHundredBytes", std::string(300, 'a'), std::string(251, 'a') + ".wav"},
        // 251 bytes would end inside the 126th character.
        LongTitleCase{"TwoByteCharacters", Repeated("\xC3\xA9", 150),
                      Repeated("\xC3\xA9", 125) + ".wav"},
        LongTitleCase{"JustFits", std::string(251, 'b'), std::string(251, 'b') + ".wav"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// Runs only in the child process that the test below starts as nobody, whose home folder (and
// so the batch's base folder) cannot be written.
TEST_F(FaultsTest, DISABLED_AsAUserWhoseMusicFolderCannotBeMadeTheBatchIsRefused) {
  const TTempDir Home;
  ASSERT_EQ(chmod(Home.Path().c_str(), 0555), 0);
  const std::string HomeFolder = Home.Path().substr(0, Home.Path().size() - 1);
  const TScopedEnv HomeEnv("HOME", HomeFolder.c_str());
  TickOnly({2});
  {
    TRecordedErrors Errors;
    Form1->AdvGlowButton2->click();
    ASSERT_EQ(Errors.Texts().size(), 1u);
    EXPECT_EQ(Errors.Texts()[0].rfind("The folder " + HomeFolder + "/Music/Tavrune/", 0), 0u)
        << Errors.Texts()[0];
    EXPECT_NE(Errors.Texts()[0].find(": Permission denied"), std::string::npos)
        << Errors.Texts()[0];
  }
  EXPECT_FALSE(Form1->Ripping);
  EXPECT_EQ(Form1->OutputFolder, "");
  EXPECT_EQ(Grid().Cells(5, 2), "Prepared");
  EXPECT_TRUE(std::filesystem::is_empty(Home.Path()));
  EXPECT_TRUE(Grid().DblClickEnabled());
}

TEST(UnwritableMusicFolderTest, TheRipIsRefusedWithTheReasonAndNothingIsWritten) {
  const auto Child =
      RunSelfAsNobody("FaultsTest.DISABLED_AsAUserWhoseMusicFolderCannotBeMadeTheBatchIsRefused");
  if (!Child)
    GTEST_SKIP() << "running this program as another user needs root and setpriv";
  EXPECT_EQ(Child->Status, 0) << Child->Output;
  EXPECT_NE(Child->Output.find("[  PASSED  ] 1 test."), std::string::npos) << Child->Output;
}

} // namespace
