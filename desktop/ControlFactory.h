#pragma once

#include "desktop/DialogTemplate.h"

class QWidget;

namespace desktop {

// Creates the Qt widget that stands in for one template control, with its text and styles
// applied, as a child of parent. Position, grouping and commands are the dialog's business.
QWidget* createControl(const ControlTemplate& control, QWidget* parent);

} // namespace desktop
