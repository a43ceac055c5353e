#include "shell/screenfit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <algorithm>

namespace {

// The frame the desktop draws around the window. A window not yet shown has none yet, though
// it will: then a title bar and borders of the style's sizes are counted, so a window placed
// before it is shown does not end up with its bottom edge under the screen's.
QMargins FrameMargins(const QWidget& window)
{
    const QRect frame = window.frameGeometry();
    const QRect inner = window.geometry();
    const QMargins known(inner.left() - frame.left(), inner.top() - frame.top(),
                         frame.right() - inner.right(), frame.bottom() - inner.bottom());
    if (!known.isNull() || window.isVisible()) {
        return known;
    }
    const QStyle* style = window.style();
    const int border =
        std::max(2, style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, &window));
    const int title = std::max(border + window.fontMetrics().height() + 8,
                               style->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window));
    return QMargins(border, title, border, border);
}

} // namespace

QRect FitOnScreen(const QWidget& window, const QRect& geometry)
{
    // The screen the rectangle mostly lies on, else the window's own, else the primary one.
    QScreen* best = nullptr;
    qint64 bestArea = 0;
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect common = screen->availableGeometry().intersected(geometry);
        const qint64 area = qint64(common.width()) * common.height();
        if (area > bestArea) {
            best = screen;
            bestArea = area;
        }
    }
    if (best == nullptr) {
        best = window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
    }
    if (best == nullptr) {
        return geometry;
    }
    // The frame counts, so the title bar stays reachable and the bottom edge (the status bar
    // and the size grip) stays on the screen.
    const QRect room = best->availableGeometry().marginsRemoved(FrameMargins(window));
    QRect fitted = geometry;
    fitted.setWidth(std::max(std::min(fitted.width(), room.width()), window.minimumWidth()));
    fitted.setHeight(std::max(std::min(fitted.height(), room.height()), window.minimumHeight()));
    fitted.moveLeft(
        std::max(room.left(), std::min(fitted.left(), room.right() + 1 - fitted.width())));
    fitted.moveTop(
        std::max(room.top(), std::min(fitted.top(), room.bottom() + 1 - fitted.height())));
    return fitted;
}

QSize FitSizeOnScreen(const QSize& size, const QScreen* screen)
{
    if (screen == nullptr) {
        return size;
    }
    // Nine tenths of the free area leaves room for the frame and a little of what is behind.
    const QRect free = screen->availableGeometry();
    return QSize(std::min(size.width(), free.width() * 9 / 10),
                 std::min(size.height(), free.height() * 9 / 10));
}
