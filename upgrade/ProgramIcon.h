// The program icon (resource 128): the same picture as data/icons/kestrion.svg, drawn in code so
// that the window and the tray need no image plugin.
#pragma once

#include <QIcon>

// The icon at the usual window, tray and task bar sizes.
QIcon ProgramIcon();
