#include "ui/Pictures.h"

#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QSvgRenderer>

#include <gtest/gtest.h>

namespace {

class TPicturesTest : public testing::TestWithParam<ui::TPicture> {};

TEST_P(TPicturesTest, IsAValidDrawingOnThe48PixelGrid) {
  QString Path = ui::PicturePath(GetParam());
  ASSERT_TRUE(QFile::exists(Path)) << Path.toStdString();
  QSvgRenderer Renderer(Path);
  ASSERT_TRUE(Renderer.isValid()) << Path.toStdString();
  EXPECT_EQ(Renderer.viewBox(), QRect(0, 0, 48, 48));
}

TEST_P(TPicturesTest, ItsIconDrawsAShapeOnATransparentGround) {
  QIcon Icon = ui::PictureIcon(GetParam());
  for (int Size : {16, 48, 96}) {
    QImage Image = Icon.pixmap(Size, Size).toImage();
    ASSERT_EQ(Image.size(), QSize(Size, Size));
    int Opaque = 0;
    for (int Y = 0; Y < Size; ++Y)
      for (int X = 0; X < Size; ++X)
        Opaque += qAlpha(Image.pixel(X, Y)) > 128;
    double Share = double(Opaque) / (Size * Size);
    EXPECT_GT(Share, 0.2) << Size;
    EXPECT_LT(Share, 0.9) << Size;
    EXPECT_EQ(qAlpha(Image.pixel(0, 0)), 0) << Size;
  }
}

INSTANTIATE_TEST_SUITE_P(All, TPicturesTest,
                         testing::Values(ui::TPicture::Disc, ui::TPicture::Pencil,
                                         ui::TPicture::Rip, ui::TPicture::Folder,
                                         ui::TPicture::Question, ui::TPicture::Door,
                                         ui::TPicture::Application));

TEST(PicturesTest, EveryPictureIsADifferentDrawing) {
  const ui::TPicture All[] = {ui::TPicture::Disc,       ui::TPicture::Pencil,   ui::TPicture::Rip,
                              ui::TPicture::Folder,     ui::TPicture::Question, ui::TPicture::Door,
                              ui::TPicture::Application};
  for (ui::TPicture A : All)
    for (ui::TPicture B : All)
      if (A != B) {
        EXPECT_NE(ui::PictureIcon(A).pixmap(48, 48).toImage(),
                  ui::PictureIcon(B).pixmap(48, 48).toImage());
      }
}

} // namespace
