#pragma once

#include <QColor>
#include <QWidget>

namespace ui {

// A panel that paints a vertical gradient behind its children: the button column and the top
// and bottom bars of the main window.
class TGradientPanel : public QWidget {
  Q_OBJECT

public:
  explicit TGradientPanel(QWidget* Parent = nullptr);

  QColor TopColor() const { return FTopColor; }
  QColor BottomColor() const { return FBottomColor; }
  void SetColors(const QColor& Top, const QColor& Bottom);

protected:
  void paintEvent(QPaintEvent* Event) override;

private:
  QColor FTopColor;
  QColor FBottomColor;
};

} // namespace ui
