#pragma once

#include <QIcon>

namespace ui {

// The program's own pictures, drawn on a 48x48 grid in one palette.
enum class TPicture { Disc, Pencil, Rip, Folder, Question, Door, Application };

// The picture's resource path (":/icons/disc.svg").
QString PicturePath(TPicture Picture);

// The picture as an icon, rendered at the sizes buttons and window frames ask for, so that no
// icon-engine plugin needs to be found at run time.
QIcon PictureIcon(TPicture Picture);

} // namespace ui
