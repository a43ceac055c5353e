// Keeping windows on the screen: a place and size restored from the settings of another screen
// or another scale, and windows whose natural size is more than a small screen holds.
#pragma once

#include <QRect>
#include <QSize>

class QWidget;
class QScreen;

// The window's geometry moved and, where needed, shrunk (not below the window's minimum) so
// that the whole window, with the frame the desktop draws, lies on the screen it is mostly on.
// Before the window is first shown the desktop has drawn no frame yet; a frame of the usual
// size is assumed then, so the title bar and the bottom edge still fit.
QRect FitOnScreen(const QWidget& window, const QRect& geometry);

// size, made no larger than the share of the screen's free area (without panels) that a
// secondary window may take, so that it fits with its frame. A null screen leaves it as it is.
QSize FitSizeOnScreen(const QSize& size, const QScreen* screen);
