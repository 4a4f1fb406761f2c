#include "ui/TGlowButton.h"

#include "ui/ErrorDisplay.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace ui {

namespace {

// The face of one state: the four stops of the glossy gradient, the border and the text.
struct TFace {
  QColor Top, UpperEdge, LowerEdge, Bottom, Border, Text;
};

const TFace NormalFace{{0xfd, 0xfe, 0xff}, {0xe4, 0xee, 0xfa}, {0xcb, 0xde, 0xf5},
                       {0xe3, 0xef, 0xfc}, {0x8d, 0xb2, 0xe3}, {0x15, 0x42, 0x8b}};
const TFace HoverFace{{0xff, 0xfc, 0xec}, {0xff, 0xeb, 0xa8}, {0xff, 0xd6, 0x60},
                      {0xff, 0xea, 0xa8}, {0xdb, 0xa5, 0x3a}, {0x15, 0x42, 0x8b}};
const TFace PressedFace{{0xf8, 0xcf, 0x98}, {0xf6, 0xb8, 0x64}, {0xf0, 0x9b, 0x30},
                        {0xf7, 0xc4, 0x7c}, {0xc2, 0x84, 0x2d}, {0x15, 0x42, 0x8b}};
const TFace DisabledFace{{0xf4, 0xf4, 0xf4}, {0xe8, 0xe8, 0xe8}, {0xdc, 0xdc, 0xdc},
                         {0xe6, 0xe6, 0xe6}, {0xb4, 0xb4, 0xb4}, {0x8c, 0x8c, 0x8c}};

const TFace& FaceOf(const QToolButton& Button) {
  if (!Button.isEnabled())
    return DisabledFace;
  if (Button.isDown() || Button.isChecked())
    return PressedFace;
  if (Button.underMouse())
    return HoverFace;
  return NormalFace;
}

constexpr int Margin = 10;
constexpr qreal Radius = 4;

} // namespace

TGlowButton::TGlowButton(QWidget* Parent) : QToolButton(Parent) {
  setAttribute(Qt::WA_Hover);
  setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  setIconSize(QSize(48, 48));
  QFont Bold = font();
  Bold.setBold(true);
  Bold.setPointSizeF(Bold.pointSizeF() + 1);
  setFont(Bold);
  connect(this, &QToolButton::clicked, this, [this] {
    // A copy, since the handler may replace itself.
    if (std::function<void()> Handler = FOnClick)
      Guarded(Handler);
  });
}

void TGlowButton::SetOnClick(std::function<void()> Handler) {
  FOnClick = std::move(Handler);
}

void TGlowButton::paintEvent(QPaintEvent*) {
  const TFace& Face = FaceOf(*this);
  QPainter Painter(this);
  Painter.setRenderHint(QPainter::Antialiasing);

  QRectF Body = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  QLinearGradient Gloss(0, 0, 0, height());
  Gloss.setColorAt(0, Face.Top);
  Gloss.setColorAt(0.45, Face.UpperEdge);
  Gloss.setColorAt(0.46, Face.LowerEdge);
  Gloss.setColorAt(1, Face.Bottom);
  QPainterPath Outline;
  Outline.addRoundedRect(Body, Radius, Radius);
  Painter.fillPath(Outline, Gloss);
  Painter.setPen(QPen(Face.Border, 1));
  Painter.drawPath(Outline);
  // An inner light line gives the face its depth.
  Painter.setPen(QPen(QColor(255, 255, 255, 150), 1));
  Painter.drawRoundedRect(Body.adjusted(1, 1, -1, -1), Radius - 1, Radius - 1);

  // Only the keyboard gives the button the focus; show where it is.
  if (hasFocus()) {
    Painter.setPen(QPen(Face.Border, 1, Qt::DotLine));
    Painter.drawRoundedRect(Body.adjusted(3, 3, -3, -3), Radius - 2, Radius - 2);
  }

  QRect Content = rect().adjusted(Margin, 0, -4, 0);
  Painter.setPen(Face.Text);
  if (icon().isNull()) {
    Painter.drawText(rect(), Qt::AlignCenter | Qt::TextShowMnemonic, text());
    return;
  }
  QSize Size = iconSize().boundedTo(QSize(height() - 8, height() - 8));
  QRect Picture(QPoint(Content.left(), (height() - Size.height()) / 2), Size);
  icon().paint(&Painter, Picture, Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
  Content.setLeft(Picture.right() + Margin);
  // A long text takes two lines rather than being cut.
  Painter.drawText(
      Content, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic | Qt::TextWordWrap, text());
}

} // namespace ui
