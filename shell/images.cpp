// The drawings keep to the classic 16-colour palette (black, dark grey, the dark and bright
// primaries) and to whole pixels, so they stay crisp at their native size.
#include "shell/images.h"

#include <QPainter>
#include <QPolygon>

namespace {

const QColor kBlack(0, 0, 0);
const QColor kDarkGrey(128, 128, 128);
const QColor kLightGrey(192, 192, 192);
const QColor kWhite(255, 255, 255);
const QColor kNavy(0, 0, 128);
const QColor kYellow(255, 255, 0);
const QColor kOlive(128, 128, 0);
const QColor kGreen(0, 128, 0);
const QColor kRed(128, 0, 0);
const QColor kBrown(128, 64, 0);

// A closed package: a box seen from the front with its lid and a strap.
void DrawBox(QPainter& p, int x, int y, int w, int h)
{
    p.fillRect(x, y, w, h, kOlive);
    p.fillRect(x + 1, y + 1, w - 2, 2, kYellow);
    p.setPen(kBlack);
    p.setBrush(Qt::NoBrush);
    p.drawRect(x, y, w - 1, h - 1);
    p.drawLine(x, y + 3, x + w - 1, y + 3);
    p.fillRect(x + w / 2 - 1, y + 4, 2, h - 5, kBrown);
}

// A thick arrow pointing down (into the box) or up (out of it), centred on x.
void DrawArrow(QPainter& p, int x, int top, bool down, const QColor& colour)
{
    p.setPen(kBlack);
    p.setBrush(colour);
    QPolygon arrow;
    if (down) {
        arrow << QPoint(x - 1, top) << QPoint(x + 1, top) << QPoint(x + 1, top + 3)
              << QPoint(x + 3, top + 3) << QPoint(x, top + 6) << QPoint(x - 3, top + 3)
              << QPoint(x - 1, top + 3);
    } else {
        arrow << QPoint(x, top) << QPoint(x + 3, top + 3) << QPoint(x + 1, top + 3)
              << QPoint(x + 1, top + 6) << QPoint(x - 1, top + 6) << QPoint(x - 1, top + 3)
              << QPoint(x - 3, top + 3);
    }
    p.drawPolygon(arrow);
}

} // namespace

QPixmap DrawToolbarImage(ToolbarImage image)
{
    QPixmap pixmap(16, 15);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    switch (image) {
    case ToolbarImage::Pack:
        // A sheet going down into the box.
        DrawArrow(p, 8, 0, true, kGreen);
        DrawBox(p, 2, 7, 12, 8);
        break;
    case ToolbarImage::Unpack:
        // The box opened, a sheet coming up out of it.
        DrawBox(p, 2, 7, 12, 8);
        p.fillRect(3, 6, 10, 1, kOlive);
        DrawArrow(p, 8, 0, false, kNavy);
        break;
    case ToolbarImage::Exit:
        // A door standing open in its frame, and the way out.
        p.fillRect(1, 1, 9, 14, kBlack);
        p.fillRect(2, 2, 7, 12, kDarkGrey);
        {
            QPolygon door;
            door << QPoint(2, 2) << QPoint(6, 3) << QPoint(6, 15) << QPoint(2, 13);
            p.setPen(kBlack);
            p.setBrush(kRed);
            p.drawPolygon(door);
        }
        p.setPen(kYellow);
        p.drawPoint(5, 8);
        p.setPen(kBlack);
        p.setBrush(kGreen);
        {
            QPolygon arrow;
            arrow << QPoint(10, 7) << QPoint(12, 7) << QPoint(12, 5) << QPoint(15, 8)
                  << QPoint(12, 11) << QPoint(12, 9) << QPoint(10, 9);
            p.drawPolygon(arrow);
        }
        break;
    }
    return pixmap;
}

QPixmap DrawAppIcon(int size)
{
    // Drawn on a 32-pixel grid and scaled for the smaller size.
    QPixmap big(32, 32);
    big.fill(Qt::transparent);
    {
        QPainter p(&big);
        // A floppy disk...
        p.setPen(kBlack);
        p.setBrush(kNavy);
        p.drawRect(1, 1, 29, 29);
        p.fillRect(8, 2, 15, 10, kLightGrey);
        p.fillRect(17, 3, 4, 8, kNavy);
        p.fillRect(5, 17, 22, 13, kWhite);
        p.setPen(kDarkGrey);
        p.drawLine(7, 21, 24, 21);
        p.drawLine(7, 25, 24, 25);
        // ...with a package in front of it.
        p.setPen(kBlack);
        p.setBrush(kOlive);
        p.drawRect(14, 16, 16, 14);
        p.fillRect(15, 17, 15, 3, kYellow);
        p.drawLine(14, 20, 30, 20);
        p.fillRect(21, 21, 3, 9, kBrown);
    }
    if (size == 32) {
        return big;
    }
    return big.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QIcon AppIcon()
{
    QIcon icon;
    icon.addPixmap(DrawAppIcon(16));
    icon.addPixmap(DrawAppIcon(32));
    return icon;
}
