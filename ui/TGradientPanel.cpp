#include "ui/TGradientPanel.h"

#include <QLinearGradient>
#include <QPainter>

namespace ui {

TGradientPanel::TGradientPanel(QWidget* Parent)
    : QWidget(Parent), FTopColor(0xe9, 0xf1, 0xfb), FBottomColor(0xbf, 0xd4, 0xee) {}

void TGradientPanel::SetColors(const QColor& Top, const QColor& Bottom) {
  FTopColor = Top;
  FBottomColor = Bottom;
  update();
}

void TGradientPanel::paintEvent(QPaintEvent*) {
  QPainter Painter(this);
  QLinearGradient Gradient(0, 0, 0, height());
  Gradient.setColorAt(0, FTopColor);
  Gradient.setColorAt(1, FBottomColor);
  Painter.fillRect(rect(), Gradient);
}

} // namespace ui
