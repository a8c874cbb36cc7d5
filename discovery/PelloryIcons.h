#pragma once

#include <QIcon>

// The program's pictures, drawn rather than loaded: the Qt build here has no SVG reader, and a
// drawing stays sharp at every size the window manager asks for.

namespace pellory {

// Icon 128: a recorder with a signal, as in data/icons/pellory.svg; the window's large and small
// icon and the About box's picture.
QIcon programIcon();

// Icon 131: an organisation (a small building) for the organisation tree, 16 by 16 pixels.
QIcon organisationIcon();

} // namespace pellory
