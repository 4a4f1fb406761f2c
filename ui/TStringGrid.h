#pragma once

#include <QTableView>

#include <functional>
#include <string>

namespace ui {

class TGridModel;

// The track grid: a table of text cells whose row 0 is the fixed header row. Row 0 is a row of
// cells like any other (the window writes its texts, clicks on it are reported as row 0), shown
// in the header strip so that it stays in place when the list scrolls and its section edges
// resize the columns. Rows are 21 pixels high, a click selects a whole row, nothing is edited
// in place and the grid lines are drawn.
//
// A cell is plain text, a tick box or a progress bar whose value is its own integer text.
// Cells outside the grid read as empty and ignore writes, so that a late progress report for a
// row that the track-list refresh has removed does nothing. Texts are UTF-8.
class TStringGrid : public QTableView {
  Q_OBJECT

public:
  explicit TStringGrid(QWidget* Parent = nullptr);

  std::string Cells(int Col, int Row) const;
  void SetCells(int Col, int Row, const std::string& Text);

  // At least 1: row 0 is always there. New rows are empty; removed rows are gone.
  int RowCount() const;
  void SetRowCount(int Value);
  int ColCount() const;
  void SetColCount(int Value);
  int ColWidths(int Col) const;
  void SetColWidths(int Col, int Width);
  int RowHeight() const { return 21; }

  // Empties every cell of Row: text, tick box, progress bar and hint.
  void ClearRow(int Row);

  // Draws a tick box with State in the cell, beside its text. Clicks do not toggle it: the
  // window's click handler does.
  void AddCheckBox(int Col, int Row, bool State);
  // False when the cell holds no tick box.
  bool GetCheckBoxState(int Col, int Row, bool& State) const;

  // Draws the cell as a lime-green bar of its integer text, 0 to 100, with the percentage;
  // RemoveProgress makes it a plain text cell again.
  void AddProgress(int Col, int Row);
  void RemoveProgress(int Col, int Row);

  // The cell's tool tip; empty for none.
  std::string CellHint(int Col, int Row) const;
  void SetCellHint(int Col, int Row, const std::string& Text);

  // The current row: the selected one, never row 0; 0 when the grid has no data row.
  int Row() const;
  void SetRow(int Value);

  // Handlers run guarded: an error they raise goes to the application's error display.
  void SetOnClickCell(std::function<void(int Col, int Row)> Handler);
  void SetOnDblClick(std::function<void()> Handler);
  // Whether a double-click runs its handler; the handler itself is kept.
  bool DblClickEnabled() const { return FDblClickEnabled; }
  void SetDblClickEnabled(bool Value) { FDblClickEnabled = Value; }

protected:
  void mouseDoubleClickEvent(QMouseEvent* Event) override;

private:
  void ClickCell(int Col, int Row);
  void KeepDataRowCurrent();

  // A child of the grid.
  TGridModel* FModel;
  std::function<void(int, int)> FOnClickCell;
  std::function<void()> FOnDblClick;
  bool FDblClickEnabled = true;
};

} // namespace ui
