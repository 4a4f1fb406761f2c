#include "ui/TStringGrid.h"

#include "ui/ErrorDisplay.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>
#include <vector>

namespace ui {

namespace {

enum class TCellKind { Text, CheckBox, Progress };

struct TCell {
  QString Text;
  QString Hint;
  TCellKind Kind = TCellKind::Text;
  bool Checked = false;
};

const QColor ProgressColor(0x00, 0xFF, 0x00);

int ProgressValue(const TCell& Cell) {
  return std::clamp(Cell.Text.trimmed().toInt(), 0, 100);
}

} // namespace

// The cells, row by row. Row 0 is also the header strip's model, through headerData.
class TGridModel : public QAbstractTableModel {
public:
  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& Parent = {}) const override {
    return Parent.isValid() ? 0 : static_cast<int>(FRows.size());
  }
  int columnCount(const QModelIndex& Parent = {}) const override {
    return Parent.isValid() ? 0 : FColCount;
  }

  QVariant data(const QModelIndex& Index, int Role) const override {
    return CellData(At(Index.column(), Index.row()), Role);
  }

  QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override {
    if (Orientation != Qt::Horizontal || !Contains(Section, 0))
      return {};
    return CellData(At(Section, 0), Role);
  }

  Qt::ItemFlags flags(const QModelIndex& Index) const override {
    if (!Index.isValid() || Index.row() == 0)
      return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  }

  bool Contains(int Col, int Row) const {
    return Col >= 0 && Col < FColCount && Row >= 0 && Row < rowCount();
  }

  const TCell& At(int Col, int Row) const {
    static const TCell Empty;
    return Contains(Col, Row) ? FRows[Row][Col] : Empty;
  }

  // Changes one cell and repaints only that cell (or its header section).
  template <class TChange> void Change(int Col, int Row, TChange&& Apply) {
    if (!Contains(Col, Row))
      return;
    Apply(FRows[Row][Col]);
    CellChanged(Col, Col, Row);
  }

  void ClearRow(int Row) {
    if (!Contains(0, Row))
      return;
    std::fill(FRows[Row].begin(), FRows[Row].end(), TCell{});
    CellChanged(0, FColCount - 1, Row);
  }

  void SetRowCount(int Count) {
    int Old = rowCount();
    if (Count > Old) {
      beginInsertRows({}, Old, Count - 1);
      FRows.resize(Count, std::vector<TCell>(FColCount));
      endInsertRows();
    } else if (Count < Old) {
      beginRemoveRows({}, Count, Old - 1);
      FRows.resize(Count);
      endRemoveRows();
    }
  }

  void SetColCount(int Count) {
    int Old = FColCount;
    if (Count > Old) {
      beginInsertColumns({}, Old, Count - 1);
      Resize(Count);
      endInsertColumns();
    } else if (Count < Old) {
      beginRemoveColumns({}, Count, Old - 1);
      Resize(Count);
      endRemoveColumns();
    }
  }

private:
  static QVariant CellData(const TCell& Cell, int Role) {
    if (Role == Qt::DisplayRole)
      return Cell.Text;
    if (Role == Qt::ToolTipRole && !Cell.Hint.isEmpty())
      return Cell.Hint;
    return {};
  }

  void CellChanged(int FirstCol, int LastCol, int Row) {
    if (Row == 0) {
      emit headerDataChanged(Qt::Horizontal, FirstCol, LastCol);
      return;
    }
    emit dataChanged(index(Row, FirstCol), index(Row, LastCol));
  }

  void Resize(int Count) {
    FColCount = Count;
    for (std::vector<TCell>& Cells : FRows)
      Cells.resize(Count);
  }

  std::vector<std::vector<TCell>> FRows = std::vector<std::vector<TCell>>(1);
  int FColCount = 0;
};

namespace {

// Paints tick-box and progress cells over the ordinary cell background.
class TGridDelegate : public QStyledItemDelegate {
public:
  TGridDelegate(const TGridModel& Model, QObject* Parent)
      : QStyledItemDelegate(Parent), FModel(Model) {}

  void paint(QPainter* Painter, const QStyleOptionViewItem& Option,
             const QModelIndex& Index) const override {
    // Drawn as in an active window, so that the row being ripped stays highlighted while the
    // user works in another one, on desktops that grey inactive selections too.
    QStyleOptionViewItem Active = Option;
    Active.state |= QStyle::State_Active;
    const TCell& Cell = FModel.At(Index.column(), Index.row());
    if (Cell.Kind == TCellKind::Text) {
      QStyledItemDelegate::paint(Painter, Active, Index);
      return;
    }
    QStyleOptionViewItem Background = Active;
    initStyleOption(&Background, Index);
    Background.text.clear();
    const QWidget* View = Option.widget;
    View->style()->drawControl(QStyle::CE_ItemViewItem, &Background, Painter, View);
    if (Cell.Kind == TCellKind::CheckBox)
      PaintCheckBox(Painter, Active, Cell);
    else
      PaintProgress(Painter, Active, Cell);
  }

private:
  static void PaintCheckBox(QPainter* Painter, const QStyleOptionViewItem& Option,
                            const TCell& Cell) {
    const QWidget* View = Option.widget;
    QStyleOptionButton Box;
    int Side = View->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, View);
    QRect Area = Option.rect;
    // Alone in its cell the box is centred; beside a text it leads.
    int Left = Cell.Text.isEmpty() ? Area.left() + (Area.width() - Side) / 2 : Area.left() + 3;
    Box.rect = QRect(Left, Area.top() + (Area.height() - Side) / 2, Side, Side);
    Box.state = QStyle::State_Enabled | (Cell.Checked ? QStyle::State_On : QStyle::State_Off);
    View->style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &Box, Painter, View);
    if (Cell.Text.isEmpty())
      return;
    QRect TextArea = Area.adjusted(Side + 7, 0, 0, 0);
    Painter->setPen(Option.palette.color(QPalette::Active, Option.state & QStyle::State_Selected
                                                               ? QPalette::HighlightedText
                                                               : QPalette::Text));
    Painter->drawText(TextArea, Qt::AlignLeft | Qt::AlignVCenter, Cell.Text);
  }

  static void PaintProgress(QPainter* Painter, const QStyleOptionViewItem& Option,
                            const TCell& Cell) {
    int Value = ProgressValue(Cell);
    QRect Trough = Option.rect.adjusted(2, 2, -2, -2);
    Painter->fillRect(Trough, Qt::white);
    Painter->setPen(QColor(0x90, 0x9c, 0xaa));
    Painter->drawRect(Trough.adjusted(0, 0, -1, -1));
    QRect Bar = Trough.adjusted(1, 1, -1, -1);
    Bar.setWidth(Bar.width() * Value / 100);
    Painter->fillRect(Bar, ProgressColor);
    Painter->setPen(Qt::black);
    Painter->drawText(Trough, Qt::AlignCenter, QStringLiteral("%1%").arg(Value));
  }

  const TGridModel& FModel;
};

} // namespace

TStringGrid::TStringGrid(QWidget* Parent) : QTableView(Parent), FModel(new TGridModel(this)) {
  setModel(FModel);
  setItemDelegate(new TGridDelegate(*FModel, this));
  setSelectionBehavior(SelectRows);
  setSelectionMode(SingleSelection);
  setEditTriggers(NoEditTriggers);
  setShowGrid(true);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  setTabKeyNavigation(false);

  verticalHeader()->hide();
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(RowHeight());
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);

  QHeaderView* Header = horizontalHeader();
  Header->setFixedHeight(RowHeight());
  Header->setMinimumSectionSize(1);
  Header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  Header->setSectionResizeMode(QHeaderView::Interactive);
  Header->setSectionsClickable(true);
  Header->setHighlightSections(false);
  Header->setStretchLastSection(false);

  setRowHidden(0, true);
  connect(this, &QAbstractItemView::clicked, this,
          [this](const QModelIndex& Index) { ClickCell(Index.column(), Index.row()); });
  connect(Header, &QHeaderView::sectionClicked, this, [this](int Col) { ClickCell(Col, 0); });
}

std::string TStringGrid::Cells(int Col, int Row) const {
  return FModel->At(Col, Row).Text.toStdString();
}

void TStringGrid::SetCells(int Col, int Row, const std::string& Text) {
  QString Value = QString::fromStdString(Text);
  if (FModel->At(Col, Row).Text == Value)
    return;
  FModel->Change(Col, Row, [&](TCell& Cell) { Cell.Text = Value; });
}

int TStringGrid::RowCount() const {
  return FModel->rowCount();
}

void TStringGrid::SetRowCount(int Value) {
  FModel->SetRowCount(std::max(Value, 1));
  KeepDataRowCurrent();
}

int TStringGrid::ColCount() const {
  return FModel->columnCount();
}

void TStringGrid::SetColCount(int Value) {
  FModel->SetColCount(std::max(Value, 0));
}

int TStringGrid::ColWidths(int Col) const {
  return columnWidth(Col);
}

void TStringGrid::SetColWidths(int Col, int Width) {
  setColumnWidth(Col, Width);
}

void TStringGrid::ClearRow(int Row) {
  FModel->ClearRow(Row);
}

void TStringGrid::AddCheckBox(int Col, int Row, bool State) {
  FModel->Change(Col, Row, [&](TCell& Cell) {
    Cell.Kind = TCellKind::CheckBox;
    Cell.Checked = State;
  });
}

bool TStringGrid::GetCheckBoxState(int Col, int Row, bool& State) const {
  const TCell& Cell = FModel->At(Col, Row);
  if (Cell.Kind != TCellKind::CheckBox)
    return false;
  State = Cell.Checked;
  return true;
}

void TStringGrid::AddProgress(int Col, int Row) {
  FModel->Change(Col, Row, [](TCell& Cell) { Cell.Kind = TCellKind::Progress; });
}

void TStringGrid::RemoveProgress(int Col, int Row) {
  if (FModel->At(Col, Row).Kind != TCellKind::Progress)
    return;
  FModel->Change(Col, Row, [](TCell& Cell) { Cell.Kind = TCellKind::Text; });
}

std::string TStringGrid::CellHint(int Col, int Row) const {
  return FModel->At(Col, Row).Hint.toStdString();
}

void TStringGrid::SetCellHint(int Col, int Row, const std::string& Text) {
  FModel->Change(Col, Row, [&](TCell& Cell) { Cell.Hint = QString::fromStdString(Text); });
}

int TStringGrid::Row() const {
  QModelIndex Current = currentIndex();
  return Current.isValid() ? Current.row() : 0;
}

void TStringGrid::SetRow(int Value) {
  if (Value < 1 || Value >= RowCount())
    return;
  int Col = std::max(currentIndex().column(), 0);
  selectionModel()->setCurrentIndex(FModel->index(Value, Col), QItemSelectionModel::ClearAndSelect |
                                                                   QItemSelectionModel::Rows);
}

void TStringGrid::SetOnClickCell(std::function<void(int Col, int Row)> Handler) {
  FOnClickCell = std::move(Handler);
}

void TStringGrid::SetOnDblClick(std::function<void()> Handler) {
  FOnDblClick = std::move(Handler);
}

void TStringGrid::mouseDoubleClickEvent(QMouseEvent* Event) {
  QTableView::mouseDoubleClickEvent(Event);
  if (!FDblClickEnabled)
    return;
  // Copies, since a handler may replace itself.
  if (std::function<void()> Handler = FOnDblClick)
    Guarded(Handler);
}

void TStringGrid::ClickCell(int Col, int Row) {
  if (std::function<void(int, int)> Handler = FOnClickCell)
    Guarded([&] { Handler(Col, Row); });
}

void TStringGrid::KeepDataRowCurrent() {
  if (Row() < 1)
    SetRow(1);
}

} // namespace ui
