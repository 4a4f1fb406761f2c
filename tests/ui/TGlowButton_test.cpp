#include "ui/TGlowButton.h"

#include "runtime/Exception.h"
#include "tests/ui/RecordedErrors.h"
#include "ui/Pictures.h"

#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <set>

namespace {

// The "Rip" button as the main window places it.
class TGlowButtonTest : public testing::Test {
protected:
  TGlowButtonTest() {
    Window.resize(300, 200);
    Button.setGeometry(1, 1, 151, 80);
    Button.setText("Rip");
    Button.setToolTip("show cd rip window");
    Button.setIcon(ui::PictureIcon(ui::TPicture::Rip));
    Window.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&Window));
  }

  // A point of the face's lower half, clear of the picture and the text.
  QRgb FacePixel() { return Button.grab().toImage().pixel(Button.width() - 6, 70); }

  QWidget Window;
  ui::TGlowButton Button{&Window};
};

TEST_F(TGlowButtonTest, AClickRunsTheHandler) {
  int Clicks = 0;
  Button.SetOnClick([&] { ++Clicks; });
  QTest::mouseClick(&Button, Qt::LeftButton);
  QTest::mouseClick(&Button, Qt::LeftButton);
  EXPECT_EQ(Clicks, 2);
}

TEST_F(TGlowButtonTest, AnErrorInTheHandlerIsShownAndTheButtonGoesOn) {
  TRecordedErrors Errors;
  int Clicks = 0;
  Button.SetOnClick([&] {
    ++Clicks;
    throw Exception("The component is busy");
  });
  QTest::mouseClick(&Button, Qt::LeftButton);
  QTest::mouseClick(&Button, Qt::LeftButton);
  EXPECT_EQ(Clicks, 2);
  EXPECT_EQ(Errors.Texts(),
            (std::vector<std::string>{"The component is busy.", "The component is busy."}));
}

TEST_F(TGlowButtonTest, NormalHoverPressedAndDisabledFacesDiffer) {
  // Moved through the window, so that Qt works out what is under the mouse.
  QTest::mouseMove(Window.windowHandle(), QPoint(250, 150));
  std::set<QRgb> Faces{FacePixel()};
  QTest::mouseMove(Window.windowHandle(), QPoint(75, 40));
  ASSERT_TRUE(Button.underMouse());
  Faces.insert(FacePixel());
  Button.setDown(true);
  Faces.insert(FacePixel());
  Button.setDown(false);
  Button.setEnabled(false);
  Faces.insert(FacePixel());
  EXPECT_EQ(Faces.size(), 4u);
}

TEST_F(TGlowButtonTest, TheFaceIsLighterAtTheTopThanAtTheBottomHalf) {
  QImage Face = Button.grab().toImage();
  int X = Button.width() - 6;
  EXPECT_GT(qGray(Face.pixel(X, 4)), qGray(Face.pixel(X, 50)));
}

} // namespace
