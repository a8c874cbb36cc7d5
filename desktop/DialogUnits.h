#pragma once

#include <QFont>
#include <QRect>

// Dialog units: a horizontal unit is a quarter of the dialog font's average character width, a
// vertical unit an eighth of its height, so a dialog keeps its proportions whatever font it gets.

namespace desktop {

struct DialogBaseUnits {
    int cx = 0; // average character width in pixels
    int cy = 0; // character height in pixels
};

// The base units of a font, measured as the Windows dialog manager measures them: the width of
// the 52 letters A-Z a-z, halved per letter pair and rounded, and the font's full height.
DialogBaseUnits baseUnitsFor(const QFont& font);

// One coordinate in horizontal (x) or vertical (y) dialog units to pixels, rounded half away from
// zero as MulDiv does.
int dluToPixelsX(int x, const DialogBaseUnits& units);
int dluToPixelsY(int y, const DialogBaseUnits& units);

// A rectangle of dialog units (x, y, width, height) to pixels; each value is converted on its own.
QRect dluToPixels(const QRect& dlu, const DialogBaseUnits& units);

} // namespace desktop
