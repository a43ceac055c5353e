// The drawings keep to the classic 16-colour palette (black, greys, the dark and bright
// primaries). Toolbar pictures are laid out on a 16-unit grid and the icon on a 32-unit grid,
// with whole units, so they land on whole pixels at their native size and at every multiple
// of it; at other sizes they are drawn smoothed rather than scaled from a bitmap.
#include "shell/images.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

const int kIconSizes[] = {16, 20, 22, 24, 32, 40, 48, 64, 96, 128, 256};
const int kIconSizeCount = int(sizeof(kIconSizes) / sizeof(kIconSizes[0]));

namespace {

const QColor kBlack(0, 0, 0);
const QColor kDarkGrey(128, 128, 128);
const QColor kLightGrey(192, 192, 192);
const QColor kWhite(255, 255, 255);
const QColor kNavy(0, 0, 128);
const QColor kBlue(0, 0, 255);
const QColor kYellow(255, 255, 0);
const QColor kOlive(128, 128, 0);
const QColor kGreen(0, 128, 0);
const QColor kLime(0, 255, 0);
const QColor kMaroon(128, 0, 0);
const QColor kRed(255, 0, 0);

// A painter on a transparent pixmap of size pixels whose coordinates run over grid units.
class GridPainter {
public:
    GridPainter(int size, int grid) : m_pixmap(size, size)
    {
        m_pixmap.fill(Qt::transparent);
        m_painter.begin(&m_pixmap);
        const qreal scale = qreal(size) / grid;
        // Whole multiples of the grid stay on whole pixels; other sizes are smoothed.
        m_painter.setRenderHint(QPainter::Antialiasing, size % grid != 0);
        m_painter.scale(scale, scale);
    }
    // A filled shape with a one-unit black outline lying inside its cells.
    void Shape(const QPolygonF& polygon, const QColor& fill)
    {
        QPainterPath path;
        path.addPolygon(polygon);
        path.closeSubpath();
        m_painter.fillPath(path, kBlack);
        // The fill, one unit in from the outline (the outline's cells stay black).
        QPainterPathStroker stroker;
        stroker.setWidth(2.0);
        stroker.setJoinStyle(Qt::MiterJoin);
        const QPainterPath inner = path.subtracted(stroker.createStroke(path));
        m_painter.fillPath(inner, fill);
    }
    void Box(qreal x, qreal y, qreal w, qreal h, const QColor& fill)
    {
        Shape(QPolygonF(QRectF(x, y, w, h)), fill);
    }
    void Fill(qreal x, qreal y, qreal w, qreal h, const QColor& colour)
    {
        m_painter.fillRect(QRectF(x, y, w, h), colour);
    }
    QPixmap Finish()
    {
        m_painter.end();
        return m_pixmap;
    }

private:
    QPixmap m_pixmap;
    QPainter m_painter;
};

QPolygonF Points(std::initializer_list<QPointF> points)
{
    return QPolygonF(QList<QPointF>(points));
}

// A thick arrow, seven units wide, eight long, its point at (x, tip).
QPolygonF Arrow(qreal x, qreal tip, bool down)
{
    const qreal d = down ? -1 : 1; // from the tip back along the shaft
    return Points({{x, tip},
                   {x + 4, tip + 4 * d},
                   {x + 1.5, tip + 4 * d},
                   {x + 1.5, tip + 8 * d},
                   {x - 1.5, tip + 8 * d},
                   {x - 1.5, tip + 4 * d},
                   {x - 4, tip + 4 * d}});
}

// The closed, taped box of a packed file, in the lower half of the image.
void DrawClosedBox(GridPainter& g)
{
    g.Box(1, 9, 14, 7, kOlive);
    g.Fill(2, 10, 12, 1, kYellow);
    g.Fill(7, 9, 2, 7, kYellow);
}

void DrawPack(GridPainter& g)
{
    // A sheet going down into a closed, taped box.
    g.Box(1, 0, 7, 7, kWhite);
    g.Fill(2.5, 2, 4, 1, kDarkGrey);
    g.Fill(2.5, 4, 4, 1, kDarkGrey);
    DrawClosedBox(g);
    g.Shape(Arrow(11.5, 9, true), kLime);
}

void DrawUnpack(GridPainter& g)
{
    // An opened box, its flaps up, and a sheet coming up out of it.
    g.Box(2, 10, 12, 6, kOlive);
    g.Shape(Points({{2, 10}, {0, 6}, {4, 6}, {5, 10}}), kYellow);
    g.Shape(Points({{14, 10}, {16, 6}, {12, 6}, {11, 10}}), kYellow);
    g.Box(5, 3, 6, 8, kWhite);
    g.Fill(6.5, 5, 3, 1, kDarkGrey);
    g.Fill(6.5, 7, 3, 1, kDarkGrey);
    g.Shape(Arrow(8, 0, false), kBlue);
}

void DrawTest(GridPainter& g)
{
    // The closed, taped box of Pack, and a green tick over it: the set is sound.
    DrawClosedBox(g);
    g.Shape(Points({{0, 4}, {3, 4}, {5, 7}, {11, 0}, {14, 0}, {5, 11}}), kLime);
}

void DrawExit(GridPainter& g)
{
    // A door standing open in its dark frame, and a red arrow leading out of it.
    g.Box(0, 0, 10, 16, kDarkGrey);
    g.Shape(Points({{1, 1}, {6, 3}, {6, 16}, {1, 15}}), kMaroon);
    g.Fill(4, 8, 1, 2, kYellow);
    g.Shape(Points({{8, 6.5}, {12, 6.5}, {12, 3.5}, {16, 8}, {12, 12.5}, {12, 9.5}, {8, 9.5}}),
            kRed);
}

} // namespace

QPixmap DrawToolbarImage(ToolbarImage image, int size)
{
    GridPainter g(size, 16);
    switch (image) {
    case ToolbarImage::Pack: DrawPack(g); break;
    case ToolbarImage::Unpack: DrawUnpack(g); break;
    case ToolbarImage::Test: DrawTest(g); break;
    case ToolbarImage::Exit: DrawExit(g); break;
    }
    return g.Finish();
}

QPixmap DrawAppIcon(int size)
{
    GridPainter g(size, 32);
    // A floppy disk: its shutter, its label...
    g.Box(1, 1, 30, 30, kNavy);
    g.Box(8, 1, 16, 11, kLightGrey);
    g.Fill(18, 3, 4, 7, kNavy);
    g.Box(5, 16, 22, 15, kWhite);
    g.Fill(7, 20, 18, 1, kDarkGrey);
    g.Fill(7, 24, 10, 1, kDarkGrey);
    // ...with a package in front of it.
    g.Box(14, 15, 17, 16, kOlive);
    g.Fill(15, 16, 15, 3, kYellow);
    g.Fill(14, 19, 17, 1, kBlack);
    g.Fill(21, 20, 3, 10, kGreen);
    return g.Finish();
}

QIcon ToolbarIcon(ToolbarImage image)
{
    QIcon icon;
    for (int i = 0; i < kIconSizeCount; ++i) {
        icon.addPixmap(DrawToolbarImage(image, kIconSizes[i]));
    }
    return icon;
}

QIcon AppIcon()
{
    QIcon icon;
    for (int i = 0; i < kIconSizeCount; ++i) {
        icon.addPixmap(DrawAppIcon(kIconSizes[i]));
    }
    return icon;
}
