// The main window and the rename dialog, driven as the user would, on virtual drives.
#include "app/mainform.h"

#include "app/uRename.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/Pump.h"
#include "tests/support/TempDir.h"
#include "tests/support/VirtualDrives.h"
#include "tests/ui/RecordedErrors.h"
#include "tools/DiscImage.h"
#include "ui/TGlowButton.h"
#include "ui/TStringGrid.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

// The machine: a desktop that records what it is asked to open, SDL's disk driver for sound,
// and a disc of twelve tracks that the tests put in the drive or take out.
class TWindowEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", Folder.Path().c_str(), 1);
    setenv("TAVRUNE_DEMO_DISC", Folder.File("no-demo.cue").c_str(), 1);
    unsetenv("TAVRUNE_LIBRARY_PATH");
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", Folder.File("played.raw").c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "1", 1);
    std::vector<tools::TTrackSpec> Tracks(12);
    for (size_t I = 0; I < Tracks.size(); ++I) {
      Tracks[I].Sectors = 150;
      Tracks[I].Source = "pattern " + std::to_string(I + 1);
    }
    Tracks[2].Sectors = (4 * 60 + 5) * 75;   // 4:05
    Tracks[3].Sectors = (12 * 60 + 30) * 75; // 12:30
    Tracks[5].Data = true;
    Disc = tools::WriteDiscImage(Tracks, Folder.File("disc.cue"));
  }

  void InsertDisc() const { WriteDrivesIni(Folder.Path(), {Disc.CueFile}); }
  // The drive stays, with nothing in it.
  void RemoveDisc() const { WriteDrivesIni(Folder.Path(), {Folder.File("absent.cue")}); }

  TTempDir Folder;
  TFakeDesktop Desktop{Folder.Path()};
  tools::TDiscLayout Disc;
};
TWindowEnvironment* Environment =
    static_cast<TWindowEnvironment*>(::testing::AddGlobalTestEnvironment(new TWindowEnvironment));

class WindowTest : public ::testing::Test {
protected:
  void Start() {
    Form1 = std::make_unique<TForm1>();
    Form3 = std::make_unique<TForm3>(Form1.get());
    Form1->SetRenameDialog(Form3.get());
    Form1->show();
  }
  void TearDown() override {
    if (Form1)
      Form1->close();
    Form3.reset();
    Form1.reset();
  }

  ui::TStringGrid& Grid() { return *Form1->sgCDSrc; }

  QPoint CellCentre(int Col, int Row) {
    return Grid().visualRect(Grid().model()->index(Row, Col)).center();
  }

  void Rename(int Row, const QString& Title) {
    Grid().SetRow(Row);
    Form3->Edit1->setText(Title);
    Form3->AdvGlowButton1Click();
  }

  std::unique_ptr<TForm1> Form1;
  std::unique_ptr<TForm3> Form3;
};

TEST_F(WindowTest, WithoutADiscOneRowShowsTheFormatUntilTheFirstTick) {
  Environment->RemoveDisc();
  Start();
  EXPECT_EQ(Form1->windowTitle(), "Tavrune v2.1");
  EXPECT_EQ(Form1->size(), QSize(679, 442));
  ASSERT_EQ(Grid().RowCount(), 2);
  EXPECT_EQ(Grid().Cells(4, 1), "mp3");
  EXPECT_EQ(Grid().Cells(5, 1), "Prepared");
  const char* Headers[] = {"", "Num", "Title", "Length", "Output", "Track Status"};
  for (int Col = 0; Col < 6; ++Col)
    EXPECT_EQ(Grid().Cells(Col, 0), Headers[Col]);
  EXPECT_EQ(Form1->ComboBox2->currentText().toStdString(), "D: absent");

  Form1->Timer1Timer();
  EXPECT_EQ(Grid().RowCount(), 2);
  for (int Col = 0; Col < 6; ++Col)
    EXPECT_EQ(Grid().Cells(Col, 1), "");
}

TEST_F(WindowTest, ADiscInsertedWhileRunningFillsTheList) {
  Environment->RemoveDisc();
  Start();
  Environment->InsertDisc();
  Form1->Timer1Timer();
  ASSERT_EQ(Grid().RowCount(), 13);
  for (int Row = 1; Row <= 12; ++Row) {
    SCOPED_TRACE(Row);
    bool Ticked = false;
    EXPECT_TRUE(Grid().GetCheckBoxState(0, Row, Ticked));
    EXPECT_TRUE(Ticked);
    EXPECT_EQ(Grid().Cells(1, Row), std::to_string(Row));
    EXPECT_EQ(Grid().Cells(2, Row), (Row < 10 ? "Track0" : "Track") + std::to_string(Row));
    EXPECT_EQ(Grid().Cells(4, Row), "mp3");
    EXPECT_EQ(Grid().Cells(5, Row), "Prepared");
  }
  EXPECT_EQ(Grid().Cells(3, 1), "0:02");
  EXPECT_EQ(Grid().Cells(3, 3), "4:05");
  EXPECT_EQ(Grid().Cells(3, 4), "12:30");

  // Taken out again, the list empties at the next tick.
  Environment->RemoveDisc();
  Form1->Timer1Timer();
  EXPECT_EQ(Grid().RowCount(), 2);
  EXPECT_EQ(Grid().Cells(2, 1), "");
}

TEST_F(WindowTest, ARenamedTitleStaysWhileTheDiscIsIn) {
  Environment->InsertDisc();
  Start();
  Rename(3, "Intro");
  EXPECT_EQ(Grid().Cells(2, 3), "Intro");
  for (int Tick = 0; Tick < 3; ++Tick)
    Form1->Timer1Timer();
  EXPECT_EQ(Grid().Cells(2, 3), "Intro");
  // The dialog keeps what was typed last.
  EXPECT_EQ(Form3->Edit1->text(), "Intro");
  // An empty title is taken as it is; Cancel changes nothing.
  Rename(4, "");
  EXPECT_EQ(Grid().Cells(2, 4), "");
  Grid().SetRow(5);
  Form3->Edit1->setText("Not this");
  Form3->AdvGlowButton2Click();
  EXPECT_EQ(Grid().Cells(2, 5), "Track05");
}

TEST_F(WindowTest, RenamingTheEmptyRowLastsUntilTheNextTick) {
  Environment->RemoveDisc();
  Start();
  Form1->Timer1Timer();
  Rename(1, "Nothing");
  EXPECT_EQ(Grid().Cells(2, 1), "Nothing");
  Form1->Timer1Timer();
  EXPECT_EQ(Grid().Cells(2, 1), "");
}

TEST_F(WindowTest, TheFormatFillsTheOutputColumn) {
  Environment->InsertDisc();
  Start();
  Form1->ComboBox1->setCurrentText("flac");
  for (int Row = 1; Row <= 12; ++Row)
    EXPECT_EQ(Grid().Cells(4, Row), "flac");
}

TEST_F(WindowTest, ATickBoxClickedTwice) {
  Environment->InsertDisc();
  Start();
  bool Ticked = false;
  QTest::mouseClick(Grid().viewport(), Qt::LeftButton, {}, CellCentre(0, 2));
  ASSERT_TRUE(Grid().GetCheckBoxState(0, 2, Ticked));
  EXPECT_FALSE(Ticked);
  // Far enough apart not to be a double-click.
  QTest::mouseClick(Grid().viewport(), Qt::LeftButton, {}, CellCentre(0, 2),
                    QApplication::doubleClickInterval() + 50);
  ASSERT_TRUE(Grid().GetCheckBoxState(0, 2, Ticked));
  EXPECT_TRUE(Ticked);
  // A click in another column leaves the tick alone.
  QTest::mouseClick(Grid().viewport(), Qt::LeftButton, {}, CellCentre(2, 3),
                    QApplication::doubleClickInterval() + 50);
  ASSERT_TRUE(Grid().GetCheckBoxState(0, 3, Ticked));
  EXPECT_TRUE(Ticked);
}

TEST_F(WindowTest, ADoubleClickPlaysTheRowsTrack) {
  Environment->InsertDisc();
  Start();
  QTest::mouseDClick(Grid().viewport(), Qt::LeftButton, {}, CellCentre(2, 3));
  EXPECT_EQ(Form1->Label1->text(), "Playing Track03");
  EXPECT_EQ(Form1->Label5->text(), "/4:05");
  EXPECT_EQ(Form1->CDPlayerCD->Status(), drPlaying);
  Form1->Timer1Timer();
  const QString First = Form1->Label2->text();
  EXPECT_FALSE(First.isEmpty());
  EXPECT_TRUE(PumpUntil([&] {
    Form1->Timer1Timer();
    return Form1->Label2->text() != First;
  }));
  // Another row stops the first and plays its own.
  Grid().SetRow(4);
  Form1->sgCDSrcDblClick();
  EXPECT_EQ(Form1->Label1->text(), "Playing Track04");
  EXPECT_EQ(Form1->Label5->text(), "/12:30");
  Form1->CDPlayerCD->Stop();
}

TEST_F(WindowTest, AnErrorOfTheDriveIsShownAndTheWindowGoesOn) {
  Environment->InsertDisc();
  Start();
  TRecordedErrors Errors;
  QTest::mouseDClick(Grid().viewport(), Qt::LeftButton, {}, CellCentre(2, 6));
  EXPECT_EQ(Errors.Texts(), std::vector<std::string>{"Trying to play a data track."});
  Form1->Timer1Timer();
  EXPECT_EQ(Grid().RowCount(), 13);
}

TEST_F(WindowTest, FindTargetBeforeAnyRipOpensTheEmptyText) {
  Environment->InsertDisc();
  Start();
  Environment->Desktop.Clear();
  Form1->AdvGlowButton8->click();
  EXPECT_TRUE(PumpUntil([] { return Environment->Desktop.Log() == "xdg-open []\n"; }));
  Form1->AdvGlowButton7->click();
  EXPECT_TRUE(PumpUntil(
      [] { return Environment->Desktop.Log() == "xdg-open []\nxdg-open [" + HelpPage() + "]\n"; }));
  EXPECT_TRUE(std::filesystem::exists(HelpPage()));
}

TEST_F(WindowTest, ExitClosesTheWindow) {
  Environment->InsertDisc();
  Start();
  Form1->AdvGlowButton5->click();
  EXPECT_FALSE(Form1->isVisible());
  // A picture of the filled window, when one is asked for.
  if (const char* Shot = getenv("TAVRUNE_SCREENSHOT")) {
    Form1->show();
    Grid().AddProgress(5, 2);
    Grid().SetCells(5, 2, "40");
    Grid().SetCells(5, 1, "completed");
    Form1->Label1->setText("Playing Track03");
    Form1->Label2->setText("1:07");
    Form1->Label5->setText("/4:05");
    for (QLabel* Label : {Form1->Label1, Form1->Label5})
      Label->adjustSize();
    Form1->grab().save(Shot);
  }
}

} // namespace
