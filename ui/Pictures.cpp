#include "ui/Pictures.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// A static library's resources are registered only when something calls their initialiser,
// which must be named outside any namespace.
static void RegisterPictures() {
  Q_INIT_RESOURCE(icons);
}

namespace ui {

namespace {

const char* const FileNames[] = {"disc", "pencil", "rip", "folder", "question", "door", "tavrune"};

} // namespace

QString PicturePath(TPicture Picture) {
  static const bool Registered = (RegisterPictures(), true);
  (void)Registered;
  return QStringLiteral(":/icons/%1.svg").arg(FileNames[static_cast<int>(Picture)]);
}

QIcon PictureIcon(TPicture Picture) {
  QSvgRenderer Renderer(PicturePath(Picture));
  QIcon Icon;
  for (int Size : {16, 24, 32, 48, 64, 96, 128}) {
    QPixmap Pixmap(Size, Size);
    Pixmap.fill(Qt::transparent);
    QPainter Painter(&Pixmap);
    Painter.setRenderHint(QPainter::Antialiasing);
    Renderer.render(&Painter);
    Painter.end();
    Icon.addPixmap(Pixmap);
  }
  return Icon;
}

} // namespace ui
