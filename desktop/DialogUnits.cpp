#include "desktop/DialogUnits.h"

#include <QFontMetrics>

namespace desktop {

namespace {

// MulDiv(value, numerator, denominator) for the small positive denominators used here.
int mulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

} // namespace

DialogBaseUnits baseUnitsFor(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogBaseUnits{(width / 26 + 1) / 2, metrics.height()};
}

int dluToPixelsX(int x, const DialogBaseUnits& units) {
    return mulDiv(x, units.cx, 4);
}

int dluToPixelsY(int y, const DialogBaseUnits& units) {
    return mulDiv(y, units.cy, 8);
}

QRect dluToPixels(const QRect& dlu, const DialogBaseUnits& units) {
    return QRect(dluToPixelsX(dlu.x(), units), dluToPixelsY(dlu.y(), units), dluToPixelsX(dlu.width(), units),
                 dluToPixelsY(dlu.height(), units));
}

} // namespace desktop
