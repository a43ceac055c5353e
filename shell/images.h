// The toolbar's button images and the application icon, drawn by the program itself in the
// small 16-colour style of the original bitmaps (16 x 15 buttons, 16 and 32 pixel icons).
#pragma once

#include <QIcon>
#include <QPixmap>

enum class ToolbarImage { Pack, Unpack, Exit };

QPixmap DrawToolbarImage(ToolbarImage image);
QPixmap DrawAppIcon(int size);
QIcon AppIcon();
