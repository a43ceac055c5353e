// The toolbar's button images and the application icon, drawn by the program itself in the
// palette of the original 16-colour bitmaps. Each picture is drawn as shapes on a grid and
// rendered at the size asked for, so it is sharp at every size from 16 to 256 pixels and on
// screens with a scale of 2 or more.
#pragma once

#include <QIcon>
#include <QPixmap>

enum class ToolbarImage {
    Pack,
    Unpack,
    Test,
    Exit
};

// The sizes an icon carries pictures for, in pixels.
extern const int kIconSizes[];
extern const int kIconSizeCount;

// One picture at size x size pixels.
QPixmap DrawToolbarImage(ToolbarImage image, int size = 16);
QPixmap DrawAppIcon(int size);
// Icons holding the picture at every size of kIconSizes.
QIcon ToolbarIcon(ToolbarImage image);
QIcon AppIcon();
