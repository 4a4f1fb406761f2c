// The whole path of a user through the window, for every format: pick the format in its box
// with the mouse, click "Rip", wait until the file manager is asked to show the files, and read
// every file back with the tools others wrote.
#include "tests/app/RipWindow.h"

#include "tests/app/TrackChecks.h"
#include "tests/ui/RecordedErrors.h"
#include "ui/TApplication.h"
#include "ui/TGlowButton.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QTest>

namespace {

// A mixed-mode disc: the data track first, then music. Track 3 is a sine shorter than a second
// (with the 30 sectors of track 4's pregap at its end, still under 75 sectors). The longer
// tracks are chords: the lag of the MP3 decoding is found by matching, which a long pure sine
// would make ambiguous by whole periods.
std::vector<tools::TTrackSpec> UserDisc() {
  return {{true, 150, 0, ""},
          {false, 300, 0, "chord 1"},
          {false, 40, 0, "sine 440 0.4"},
          {false, 225, 30, "chord 2"},
          {false, 150, 0, "chord 3"}};
}
[[maybe_unused]] const TRipEnvironment* const Registered = AddRipEnvironment(UserDisc());

constexpr int DataRow = 1;
constexpr int AudioRows[] = {2, 3, 4, 5};

// The format that the box shows before the user picks one: the next one in the box.
const char* AnotherFormat(const std::string& Format) {
  const auto Case = std::find_if(std::begin(FormatCases), std::end(FormatCases),
                                 [&](const TFormatCase& C) { return C.Format == Format; });
  return FormatCases[(Case - std::begin(FormatCases) + 1) % std::size(FormatCases)].Format;
}

class UserRipTest : public TRipWindowTest, public ::testing::WithParamInterface<TFormatCase> {
protected:
  UserRipTest() : TRipWindowTest(AnotherFormat(GetParam().Format)) {}

  // As in the program: deliveries from the workers wake Qt's loop, and only that loop runs.
  static void SetUpTestSuite() { ui::InstallSynchronizeWakeUp(); }

  void SetUp() override {
    TRipWindowTest::SetUp();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form1.get()));
  }

  // Opens the format box with a click and clicks the format's entry in its list.
  void PickFormat(const std::string& Format) {
    QComboBox* Box = Form1->ComboBox1;
    QTest::mouseClick(Box, Qt::LeftButton);
    QAbstractItemView* List = Box->view();
    ASSERT_TRUE(QTest::qWaitFor([&] { return List->isVisible(); }));
    const int Entry = Box->findText(QString::fromStdString(Format));
    ASSERT_GE(Entry, 0);
    const QPoint Centre = List->visualRect(List->model()->index(Entry, 0)).center();
    QTest::mouseMove(List->viewport(), Centre);
    // The box ignores a release that comes within a double-click of its opening press.
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    QTest::mouseClick(List->viewport(), Qt::LeftButton, {}, Centre);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !List->isVisible(); }));
  }
};

TEST_P(UserRipTest, PickingTheFormatAndClickingRipMakesAFileOfEveryAudioTrack) {
  const TFormatCase& Case = GetParam();
  const TRecordedErrors Errors;
  ASSERT_NE(Form1->ComboBox1->currentText().toStdString(), Case.Format);
  PickFormat(Case.Format);
  EXPECT_EQ(Form1->ComboBox1->currentText().toStdString(), Case.Format);
  for (int Row = 1; Row < Grid().RowCount(); ++Row)
    EXPECT_EQ(Grid().Cells(4, Row), Case.Format) << Row;

  QTest::mouseClick(Form1->AdvGlowButton2, Qt::LeftButton);
  // No session bus here: the file manager is asked to open the batch folder.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Environment->Desktop.Log().empty(); }, 120000));
  EXPECT_FALSE(Form1->Ripping);
  EXPECT_EQ(Environment->Desktop.Log(), "xdg-open [" + Form1->OutputFolder + "]\n");
  EXPECT_TRUE(Errors.Texts().empty());

  EXPECT_NE(Grid().Cells(5, DataRow), "completed");
  EXPECT_EQ(Grid().CellHint(5, DataRow), "Trying to rip a data track");
  EXPECT_TRUE(ShowsABar(5, DataRow));
  for (int Row : AudioRows) {
    SCOPED_TRACE(Row);
    EXPECT_EQ(Grid().Cells(5, Row), "completed");
    EXPECT_FALSE(ShowsABar(5, Row));
    const std::string File = Form1->OutputFolder + Grid().Cells(2, Row) + Case.Extension;
    ASSERT_TRUE(std::filesystem::exists(File)) << File;
    Case.Check(File, Row);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, UserRipTest, ::testing::ValuesIn(FormatCases),
                         [](const auto& Info) { return std::string(Info.param.Format); });

} // namespace
