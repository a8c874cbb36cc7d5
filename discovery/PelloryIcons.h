#pragma once

#include <QIcon>

// The program's pictures, drawn (see desktop/DrawnIcon.h).

namespace pellory {

// Icon 128: a recorder with a signal, as in data/icons/pellory.svg; the window's large and small
// icon and the About box's picture.
QIcon programIcon();

// Icon 131: an organisation (a small building) for the organisation tree, 16 by 16 pixels.
QIcon organisationIcon();

} // namespace pellory
