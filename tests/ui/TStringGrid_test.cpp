#include "ui/TStringGrid.h"

#include "runtime/Exception.h"
#include "tests/ui/RecordedErrors.h"

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

const int Widths[] = {18, 35, 81, 65, 65, 245};
const char* const Headers[] = {"", "Num", "Title", "Length", "Output", "Track Status"};

// The track grid as the main window sets it up, with a few data rows, on screen.
class TStringGridTest : public testing::Test {
protected:
  TStringGridTest() {
    Grid.resize(526, 353);
    Grid.SetColCount(6);
    for (int Col = 0; Col < 6; ++Col) {
      Grid.SetColWidths(Col, Widths[Col]);
      Grid.SetCells(Col, 0, Headers[Col]);
    }
    FillRows(7);
    Grid.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&Grid));
  }

  void FillRows(int Count) {
    Grid.SetRowCount(Count + 1);
    for (int Row = 1; Row <= Count; ++Row) {
      Grid.AddCheckBox(0, Row, true);
      Grid.SetCells(1, Row, std::to_string(Row));
      Grid.SetCells(2, Row, "Track" + std::to_string(Row));
      Grid.SetCells(5, Row, "Prepared");
    }
  }

  // Where a click on the cell lands, and on which widget: row 0 is the header strip.
  std::pair<QWidget*, QPoint> CellCentre(int Col, int Row) {
    if (Row == 0) {
      QHeaderView* Header = Grid.horizontalHeader();
      return {Header->viewport(),
              QPoint(Header->sectionViewportPosition(Col) + Header->sectionSize(Col) / 2,
                     Header->height() / 2)};
    }
    return {Grid.viewport(), Grid.visualRect(Grid.model()->index(Row, Col)).center()};
  }

  void Click(int Col, int Row) {
    auto [Target, Point] = CellCentre(Col, Row);
    QTest::mouseClick(Target, Qt::LeftButton, {}, Point);
  }

  // What a user's double-click delivers: a click, then a press that is also a double-click.
  void DoubleClick(int Col, int Row) {
    auto [Target, Point] = CellCentre(Col, Row);
    QTest::mouseClick(Target, Qt::LeftButton, {}, Point);
    QTest::mouseDClick(Target, Qt::LeftButton, {}, Point);
  }

  // The share of the cell's pixel columns that show the bar's lime green.
  double LimeShare(int Col, int Row) {
    QImage Image = Grid.viewport()->grab().toImage();
    QRect Cell = Grid.visualRect(Grid.model()->index(Row, Col));
    int Lime = 0;
    for (int X = Cell.left(); X <= Cell.right(); ++X)
      for (int Y = Cell.top(); Y <= Cell.bottom(); ++Y)
        if (Image.pixel(X, Y) == qRgb(0x00, 0xFF, 0x00)) {
          ++Lime;
          break;
        }
    return double(Lime) / Cell.width();
  }

  ui::TStringGrid Grid;
};

TEST_F(TStringGridTest, CellsReadBackWhatWasWritten) {
  Grid.SetCells(2, 3, "Überlänge – Intro");
  EXPECT_EQ(Grid.Cells(2, 3), "Überlänge – Intro");
  EXPECT_EQ(Grid.Cells(2, 0), "Title");
  EXPECT_EQ(Grid.Cells(1, 7), "7");
  EXPECT_EQ(Grid.Cells(3, 1), "");
}

TEST_F(TStringGridTest, CellsOutsideTheGridReadEmptyAndIgnoreWrites) {
  for (auto [Col, Row] : {std::pair{5, 8}, {6, 1}, {-1, 1}, {0, -1}, {5, 100}}) {
    Grid.SetCells(Col, Row, "completed");
    Grid.AddProgress(Col, Row);
    Grid.AddCheckBox(Col, Row, true);
    EXPECT_EQ(Grid.Cells(Col, Row), "") << Col << "," << Row;
    bool State = false;
    EXPECT_FALSE(Grid.GetCheckBoxState(Col, Row, State));
  }
  EXPECT_EQ(Grid.RowCount(), 8);
}

TEST_F(TStringGridTest, TheRowCountKeepsTheHeaderRow) {
  Grid.SetRowCount(13);
  EXPECT_EQ(Grid.RowCount(), 13);
  Grid.SetRowCount(2);
  EXPECT_EQ(Grid.RowCount(), 2);
  Grid.SetRowCount(0);
  EXPECT_EQ(Grid.RowCount(), 1);
  for (int Col = 0; Col < 6; ++Col)
    EXPECT_EQ(Grid.Cells(Col, 0), Headers[Col]);
  EXPECT_EQ(Grid.horizontalHeader()->model()->headerData(2, Qt::Horizontal).toString(), "Title");
}

TEST_F(TStringGridTest, RowsAddedAfterShrinkingAreEmpty) {
  Grid.SetRowCount(2);
  Grid.SetRowCount(5);
  EXPECT_EQ(Grid.Cells(2, 1), "Track1");
  EXPECT_EQ(Grid.Cells(2, 3), "");
  bool State = false;
  EXPECT_FALSE(Grid.GetCheckBoxState(0, 3, State));
}

TEST_F(TStringGridTest, EveryRowIs21PixelsHighAndTheHeaderRowToo) {
  Grid.SetRowCount(30);
  for (int Row : {1, 2, 29})
    EXPECT_EQ(Grid.rowHeight(Row), 21) << Row;
  EXPECT_EQ(Grid.horizontalHeader()->height(), 21);
  EXPECT_EQ(Grid.rowAt(1), 1) << "row 0 shows in the header strip only";
  EXPECT_FALSE(Grid.verticalHeader()->isVisible());
  EXPECT_EQ(Grid.ColWidths(5), 245);
}

TEST_F(TStringGridTest, TheUserResizesAColumnByDraggingItsHeaderEdge) {
  QWidget* Header = Grid.horizontalHeader()->viewport();
  QPoint Edge(Widths[0] + Widths[1] + Widths[2] - 1, 10);
  QTest::mousePress(Header, Qt::LeftButton, {}, Edge);
  QTest::mouseMove(Header, Edge + QPoint(40, 0));
  QTest::mouseRelease(Header, Qt::LeftButton, {}, Edge + QPoint(40, 0));
  EXPECT_EQ(Grid.ColWidths(2), Widths[2] + 40);
  EXPECT_EQ(Grid.ColWidths(1), Widths[1]);
}

TEST_F(TStringGridTest, ClearRowEmptiesEveryCellOfTheRow) {
  Grid.SetCells(5, 2, "40");
  Grid.AddProgress(5, 2);
  Grid.SetCellHint(5, 2, "Device is not ready.");
  Grid.ClearRow(2);
  bool State = false;
  EXPECT_FALSE(Grid.GetCheckBoxState(0, 2, State));
  for (int Col = 0; Col < 6; ++Col)
    EXPECT_EQ(Grid.Cells(Col, 2), "") << Col;
  EXPECT_EQ(LimeShare(5, 2), 0);
  EXPECT_FALSE(Grid.model()->index(2, 5).data(Qt::ToolTipRole).isValid());
  EXPECT_EQ(Grid.Cells(2, 3), "Track3");
}

TEST_F(TStringGridTest, ATickBoxKeepsTheStateItWasGiven) {
  Grid.AddCheckBox(0, 2, false);
  bool State = true;
  ASSERT_TRUE(Grid.GetCheckBoxState(0, 2, State));
  EXPECT_FALSE(State);
  ASSERT_TRUE(Grid.GetCheckBoxState(0, 3, State));
  EXPECT_TRUE(State);
  EXPECT_FALSE(Grid.GetCheckBoxState(2, 2, State));
}

TEST_F(TStringGridTest, AClickOnATickBoxLeavesItsStateToTheHandler) {
  Click(0, 2);
  bool State = false;
  ASSERT_TRUE(Grid.GetCheckBoxState(0, 2, State));
  EXPECT_TRUE(State);
}

TEST_F(TStringGridTest, ATickedAndAnUntickedBoxLookDifferent) {
  Grid.SetRow(7);
  QRect Box = Grid.visualRect(Grid.model()->index(2, 0));
  QImage Ticked = Grid.viewport()->grab(Box).toImage();
  Grid.AddCheckBox(0, 2, false);
  QImage Unticked = Grid.viewport()->grab(Box).toImage();
  EXPECT_NE(Ticked, Unticked);
  Grid.AddCheckBox(0, 2, true);
  EXPECT_EQ(Grid.viewport()->grab(Box).toImage(), Ticked);
}

TEST_F(TStringGridTest, TheCurrentRowIsADataRowAndIsSelectedWhole) {
  EXPECT_EQ(Grid.Row(), 1);
  Grid.SetRow(4);
  EXPECT_EQ(Grid.Row(), 4);
  Grid.SetRow(0);
  Grid.SetRow(8);
  EXPECT_EQ(Grid.Row(), 4);
  Click(2, 6);
  EXPECT_EQ(Grid.Row(), 6);
  QModelIndexList Selected = Grid.selectionModel()->selectedIndexes();
  EXPECT_EQ(Selected.size(), 6);
  for (const QModelIndex& Index : Selected)
    EXPECT_EQ(Index.row(), 6);
}

TEST_F(TStringGridTest, AClickOnTheHeaderRowSelectsNothing) {
  Grid.SetRow(3);
  Click(2, 0);
  EXPECT_EQ(Grid.Row(), 3);
}

TEST_F(TStringGridTest, EmptyingTheListLeavesRowOneCurrent) {
  Grid.SetRow(5);
  Grid.SetRowCount(2);
  EXPECT_EQ(Grid.Row(), 1);
  Grid.SetRowCount(1);
  EXPECT_EQ(Grid.Row(), 0);
  Grid.SetRowCount(13);
  EXPECT_EQ(Grid.Row(), 1);
}

TEST_F(TStringGridTest, NothingIsEditedInPlace) {
  DoubleClick(2, 3);
  QTest::keyClicks(Grid.viewport(), "Intro");
  QTest::keyClick(Grid.viewport(), Qt::Key_Return);
  EXPECT_EQ(Grid.Cells(2, 3), "Track3");
}

// A desktop palette that greys the selection of inactive windows, for one test.
class TGreyingDesktop {
public:
  TGreyingDesktop() : FDesktop(QApplication::palette()) {
    QPalette Greying = FDesktop;
    Greying.setColor(QPalette::Inactive, QPalette::Highlight, Qt::gray);
    QApplication::setPalette(Greying);
  }
  ~TGreyingDesktop() { QApplication::setPalette(FDesktop); }
  TGreyingDesktop(const TGreyingDesktop&) = delete;
  TGreyingDesktop& operator=(const TGreyingDesktop&) = delete;

private:
  QPalette FDesktop;
};

// Such a desktop would hide the row being ripped while the user works in another window.
TEST(TStringGridHighlightTest, TheCurrentRowKeepsItsHighlightWhileAnotherWindowIsActive) {
  TGreyingDesktop Desktop;
  ui::TStringGrid Grid;
  Grid.SetColCount(2);
  Grid.SetRowCount(3);
  Grid.show();
  QWidget Other;
  Other.show();
  Other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Other));
  QImage Image = Grid.viewport()->grab().toImage();
  QPoint Cell = Grid.visualRect(Grid.model()->index(1, 1)).center();
  EXPECT_EQ(Image.pixelColor(Cell),
            QApplication::palette().color(QPalette::Active, QPalette::Highlight));
}

struct TProgressCase {
  const char* Text;
  double Share;
};

class TProgressTest : public TStringGridTest, public testing::WithParamInterface<TProgressCase> {};

TEST_P(TProgressTest, TheBarFillsTheShareOfTheCellThatItsTextSays) {
  Grid.SetCells(5, 2, "");
  Grid.AddProgress(5, 2);
  Grid.SetCells(5, 2, GetParam().Text);
  EXPECT_NEAR(LimeShare(5, 2), GetParam().Share, 0.04);
}

// The bar is inset in its cell by a few pixels on each side, so a full bar covers ~97 %.
INSTANTIATE_TEST_SUITE_P(Values, TProgressTest,
                         testing::Values(TProgressCase{"", 0}, TProgressCase{"0", 0},
                                         TProgressCase{"50", 0.49}, TProgressCase{"100", 0.97},
                                         TProgressCase{"250", 0.97}, TProgressCase{"-5", 0},
                                         TProgressCase{"abc", 0}));

TEST_F(TStringGridTest, ASelectedRowShowsItsBarToo) {
  Grid.SetCells(5, 2, "50");
  Grid.AddProgress(5, 2);
  Grid.SetRow(2);
  EXPECT_NEAR(LimeShare(5, 2), 0.49, 0.04);
}

TEST_F(TStringGridTest, RemoveProgressMakesThePlainCellAgain) {
  Grid.SetCells(5, 2, "100");
  Grid.AddProgress(5, 2);
  Grid.RemoveProgress(5, 2);
  Grid.SetCells(5, 2, "completed");
  EXPECT_EQ(LimeShare(5, 2), 0);
  EXPECT_EQ(Grid.Cells(5, 2), "completed");
  QImage Plain = Grid.viewport()->grab(Grid.visualRect(Grid.model()->index(2, 5))).toImage();
  QImage Other = Grid.viewport()->grab(Grid.visualRect(Grid.model()->index(3, 5))).toImage();
  EXPECT_NE(Plain, Other) << "completed and Prepared are drawn as text";
}

TEST_F(TStringGridTest, AProgressChangeRepaintsOneCellOnly) {
  Grid.AddProgress(5, 2);
  QSignalSpy Changed(Grid.model(), &QAbstractItemModel::dataChanged);
  Grid.SetCells(5, 2, "41");
  Grid.SetCells(5, 2, "41");
  ASSERT_EQ(Changed.size(), 1);
  QModelIndex Index = Grid.model()->index(2, 5);
  EXPECT_EQ(Changed[0][0].toModelIndex(), Index);
  EXPECT_EQ(Changed[0][1].toModelIndex(), Index);
}

TEST_F(TStringGridTest, ChangingCellsKeepsTheScrollPosition) {
  FillRows(60);
  // The scroll range follows the rows once the view has laid them out.
  QCoreApplication::processEvents();
  Grid.verticalScrollBar()->setValue(20);
  ASSERT_EQ(Grid.verticalScrollBar()->value(), 20);
  Grid.SetCells(5, 1, "completed");
  Grid.SetCells(5, 40, "12");
  Grid.AddProgress(5, 40);
  Grid.AddCheckBox(0, 2, false);
  Grid.SetCells(2, 0, "Title");
  EXPECT_EQ(Grid.verticalScrollBar()->value(), 20);
}

TEST_F(TStringGridTest, ACellHintIsItsToolTip) {
  Grid.SetCellHint(5, 2, "Device is not ready.");
  EXPECT_EQ(Grid.model()->index(2, 5).data(Qt::ToolTipRole).toString(), "Device is not ready.");
  EXPECT_FALSE(Grid.model()->index(3, 5).data(Qt::ToolTipRole).isValid());
  Grid.SetCellHint(5, 2, "");
  EXPECT_FALSE(Grid.model()->index(2, 5).data(Qt::ToolTipRole).isValid());
}

TEST_F(TStringGridTest, AClickReportsItsColumnAndRow) {
  std::vector<std::pair<int, int>> Clicks;
  Grid.SetOnClickCell([&](int Col, int Row) { Clicks.emplace_back(Col, Row); });
  const std::vector<std::pair<int, int>> Cells = {{0, 1}, {2, 3}, {5, 7}, {0, 0}, {2, 0}};
  for (auto [Col, Row] : Cells)
    Click(Col, Row);
  EXPECT_EQ(Clicks, Cells);
}

TEST_F(TStringGridTest, AClickBelowTheLastRowReportsNothing) {
  int Clicks = 0;
  Grid.SetOnClickCell([&](int, int) { ++Clicks; });
  QTest::mouseClick(Grid.viewport(), Qt::LeftButton, {}, QPoint(100, 330));
  EXPECT_EQ(Clicks, 0);
}

TEST_F(TStringGridTest, TheDoubleClickReactionCanBeSwitchedOffAndOn) {
  int DoubleClicks = 0;
  Grid.SetOnDblClick([&] { ++DoubleClicks; });
  DoubleClick(2, 3);
  EXPECT_EQ(DoubleClicks, 1);
  EXPECT_EQ(Grid.Row(), 3);
  Grid.SetDblClickEnabled(false);
  EXPECT_FALSE(Grid.DblClickEnabled());
  DoubleClick(2, 4);
  EXPECT_EQ(DoubleClicks, 1);
  Grid.SetDblClickEnabled(true);
  DoubleClick(2, 5);
  EXPECT_EQ(DoubleClicks, 2);
  EXPECT_EQ(Grid.Row(), 5);
}

TEST_F(TStringGridTest, ADoubleClickIsOneClickAndOneDoubleClick) {
  std::vector<std::string> Events;
  Grid.SetOnClickCell([&](int Col, int Row) {
    Events.push_back("click " + std::to_string(Col) + "," + std::to_string(Row));
  });
  Grid.SetOnDblClick([&] { Events.push_back("double-click row " + std::to_string(Grid.Row())); });
  DoubleClick(0, 4);
  EXPECT_EQ(Events, (std::vector<std::string>{"click 0,4", "double-click row 4"}));
}

TEST_F(TStringGridTest, AnErrorInAHandlerIsShownAndTheGridGoesOn) {
  TRecordedErrors Errors;
  Grid.SetOnClickCell([](int, int) { throw Exception("Track out of range."); });
  Grid.SetOnDblClick([] { throw Exception("Device is not ready"); });
  Click(2, 3);
  DoubleClick(2, 4);
  EXPECT_EQ(Errors.Texts(), (std::vector<std::string>{"Track out of range.", "Track out of range.",
                                                      "Device is not ready."}));
  EXPECT_EQ(Grid.Row(), 4);
}

TEST_F(TStringGridTest, AHandlerMayReplaceItself) {
  int Second = 0;
  Grid.SetOnClickCell([&](int, int) { Grid.SetOnClickCell([&](int, int) { ++Second; }); });
  Click(2, 3);
  Click(2, 3);
  EXPECT_EQ(Second, 1);
}

} // namespace
