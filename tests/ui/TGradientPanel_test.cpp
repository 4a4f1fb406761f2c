#include "ui/TGradientPanel.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

bool Near(QColor A, QColor B) {
  return std::abs(A.red() - B.red()) <= 8 && std::abs(A.green() - B.green()) <= 8 &&
         std::abs(A.blue() - B.blue()) <= 8;
}

TEST(TGradientPanelTest, PaintsFromTheTopColourDownToTheBottomColour) {
  ui::TGradientPanel Panel;
  Panel.resize(153, 442);
  Panel.SetColors(QColor(0xff, 0xff, 0xff), QColor(0x20, 0x40, 0x80));
  QImage Image = Panel.grab().toImage();
  EXPECT_TRUE(Near(Image.pixelColor(10, 0), Panel.TopColor()));
  EXPECT_TRUE(Near(Image.pixelColor(10, 441), Panel.BottomColor()));
  EXPECT_TRUE(Near(Image.pixelColor(10, 221), QColor(0x8f, 0x9f, 0xbf)));
  EXPECT_EQ(Image.pixelColor(0, 300), Image.pixelColor(152, 300));
}

} // namespace
