// The rip batch, driven through the window on a generated disc in a virtual drive: what lands
// in the batch folder, what the rows say, what the file manager is asked to show.
#include "tests/app/RipWindow.h"

#include "audio/encoders/ACS_Wave.h"
#include "platform/Shell.h"
#include "platform/System.h"
#include "runtime/Application.h"
#include "tests/ui/RecordedErrors.h"
#include "ui/TGlowButton.h"

#include <QLineEdit>

#include <regex>

namespace {

[[maybe_unused]] const TRipEnvironment* const Registered = AddRipEnvironment(SixTracks());

class RipTest : public TRipWindowTest {
protected:
  RipTest() : TRipWindowTest("wav") {}

  // What the data chunk of a PCM WAV file holds.
  static std::vector<uint8_t> WavData(const std::string& File) {
    const std::vector<uint8_t> Bytes = FileBytes(File);
    return Bytes.size() < 44 ? std::vector<uint8_t>()
                             : std::vector<uint8_t>(Bytes.begin() + 44, Bytes.end());
  }
};

TEST_F(RipTest, TicksOnTwoTracksWriteTwoExactFilesIntoOneNewFolder) {
  TickOnly({2, 5});
  RipAndWait();
  const std::string Folder = Form1->OutputFolder;
  const std::string Base = platform::ProgramFolder() + "music/";
  ASSERT_EQ(Folder.compare(0, Base.size(), Base), 0) << Folder;
  EXPECT_TRUE(std::regex_match(Folder.substr(Base.size()), std::regex(R"([^/]+ \d\d-\d\d-\d\d/)")))
      << Folder;
  std::vector<std::string> Files;
  for (const auto& Entry : std::filesystem::directory_iterator(Folder))
    Files.push_back(Entry.path().filename().string());
  std::sort(Files.begin(), Files.end());
  EXPECT_EQ(Files, (std::vector<std::string>{"Track02.wav", "Track05.wav"}));
  for (int Track : {2, 5}) {
    SCOPED_TRACE(Track);
    EXPECT_TRUE(WavData(Folder + Files[Track == 2 ? 0 : 1]) == Environment->TrackBytes(Track));
  }
  for (int Row = 1; Row <= 6; ++Row)
    EXPECT_EQ(Grid().Cells(5, Row), Row == 2 || Row == 5 ? "completed" : "Prepared") << Row;
  // No session bus here: the file manager opens the folder.
  EXPECT_TRUE(
      PumpUntil([&] { return Environment->Desktop.Log() == "xdg-open [" + Folder + "]\n"; }));
  EXPECT_TRUE(Grid().DblClickEnabled());
}

TEST_F(RipTest, TheFileManagerIsAskedToShowTheLastFileOverTheSessionBus) {
  TickOnly({4});
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
  RipAndWait();
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  const std::string Expected = "dbus-send [--session] [--reply-timeout=5000] [--print-reply]"
                               " [--dest=org.freedesktop.FileManager1] [--type=method_call]"
                               " [/org/freedesktop/FileManager1]"
                               " [org.freedesktop.FileManager1.ShowItems] [array:string:" +
                               platform::FileUri(Form1->OutputFolder + "Track04.wav") +
                               "] [string:]\n";
  EXPECT_TRUE(PumpUntil([&] { return Environment->Desktop.Log() == Expected; }))
      << Environment->Desktop.Log();
}

TEST_F(RipTest, TitlesNameTheFiles) {
  TickOnly({2, 3});
  Grid().SetRow(2);
  Form3->Edit1->setText("Intro");
  Form3->AdvGlowButton1Click();
  // A title cannot reach outside the batch folder.
  Grid().SetCells(2, 3, "../AC/DC");
  RipAndWait();
  EXPECT_TRUE(WavData(Form1->OutputFolder + "Intro.wav") == Environment->TrackBytes(2));
  EXPECT_TRUE(WavData(Form1->OutputFolder + "..-AC-DC.wav") == Environment->TrackBytes(3));
}

TEST_F(RipTest, AFailingTrackKeepsItsBarAndTheBatchGoesOn) {
  TickOnly({1, 3});
  RipAndWait();
  EXPECT_NE(Grid().Cells(5, 1), "completed");
  // The reason is the failed row's tooltip.
  EXPECT_EQ(Grid().CellHint(5, 1), "Trying to rip a data track");
  EXPECT_EQ(Grid().Cells(5, 3), "completed");
  EXPECT_FALSE(std::filesystem::exists(Form1->OutputFolder + "Track01.wav") &&
               std::filesystem::file_size(Form1->OutputFolder + "Track01.wav") > 44);
  EXPECT_TRUE(WavData(Form1->OutputFolder + "Track03.wav") == Environment->TrackBytes(3));
}

TEST_F(RipTest, NothingTickedStartsNothing) {
  TickOnly({});
  std::vector<std::string> Messages;
  SetMessageDisplay([&](const std::string& Text) { Messages.push_back(Text); });
  Form1->AdvGlowButton2Click();
  SetMessageDisplay(nullptr);
  EXPECT_EQ(Messages, std::vector<std::string>{"Please select a track to rip!"});
  EXPECT_FALSE(Form1->Ripping);
  EXPECT_TRUE(Form1->OutputFolder.empty());
}

TEST_F(RipTest, TheFormatOfARunningBatchStaysAndASecondRipIsRefused) {
  TickOnly({2, 6});
  Form1->AdvGlowButton2Click();
  const std::string Folder = Form1->OutputFolder;
  Form1->ComboBox1->setCurrentText("mp3");
  EXPECT_EQ(Grid().Cells(4, 6), "mp3");
  {
    TRecordedErrors Errors;
    Form1->AdvGlowButton2->click();
    EXPECT_EQ(Errors.Texts(), std::vector<std::string>{"The component is busy."});
  }
  EXPECT_EQ(Form1->OutputFolder, Folder);
  ASSERT_TRUE(PumpUntil([&] { return !Form1->Ripping; }));
  EXPECT_TRUE(WavData(Folder + "Track06.wav") == Environment->TrackBytes(6));
  EXPECT_EQ(Grid().Cells(5, 6), "completed");
}

TEST_F(RipTest, ClosingTheWindowDuringABatchLeavesACompleteFile) {
  TickOnly({6});
  Form1->AdvGlowButton2Click();
  const std::string File = Form1->OutputFolder + "Track06.wav";
  Form1->close();
  EXPECT_FALSE(Form1->RunningWriter->Running());
  // A valid PCM WAV file, its header telling the bytes it holds.
  const std::vector<uint8_t> Bytes = FileBytes(File);
  ASSERT_GE(Bytes.size(), 44u);
  const auto Le32 = [&](size_t At) {
    return uint32_t{Bytes[At]} | uint32_t{Bytes[At + 1]} << 8 | uint32_t{Bytes[At + 2]} << 16 |
           uint32_t{Bytes[At + 3]} << 24;
  };
  EXPECT_EQ(Le32(4), Bytes.size() - 8);
  EXPECT_EQ(Le32(40), Bytes.size() - 44);
  const std::vector<uint8_t> Track = Environment->TrackBytes(6);
  EXPECT_TRUE(std::equal(Bytes.begin() + 44, Bytes.end(), Track.begin()));
}

} // namespace
