#pragma once

#include <QIcon>
#include <QPainter>

#include <functional>
#include <initializer_list>

// The programs draw their pictures rather than load them: the Qt build here has no SVG reader,
// and a drawing stays sharp at every size the window manager asks for.

// An icon with one pixmap per size in `sizes`; `draw` paints on a 64 by 64 grid, antialiased,
// on a transparent background, and the grid is scaled to each size.
QIcon DrawnIcon(std::initializer_list<int> sizes, const std::function<void(QPainter&)>& draw);
