#include "shell/dialogunits.h"

#include <QFontMetrics>
#include <QString>

namespace {

int MulDiv(int value, int numerator, int denominator)
{
    // Rounded like the dialog manager does, so controls land on the same pixels.
    long long product = static_cast<long long>(value) * numerator;
    long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

} // namespace

DialogUnits DialogUnits::FromFont(const QFontMetrics& metrics)
{
    // The average width of the 52 letters, rounded, as dialog base units are defined.
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(letters / 26 + 1) / 2, metrics.height()};
}

int DialogUnits::X(int units) const
{
    return MulDiv(units, baseX, 4);
}

int DialogUnits::Y(int units) const
{
    return MulDiv(units, baseY, 8);
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const
{
    return QRect(X(x), Y(y), X(width), Y(height));
}
