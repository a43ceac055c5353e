// Dialog units: the measure the window and the dialogs are laid out in, converted to pixels
// from the dialog font's metrics.
#pragma once

#include <QRect>

class QFontMetrics;

// Dialog units as dialogs define them: a horizontal unit is a quarter of the font's average
// character width, a vertical unit an eighth of its height.
struct DialogUnits {
    int baseX; // average character width in pixels
    int baseY; // character height in pixels

    static DialogUnits FromFont(const QFontMetrics& metrics);
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;
};
