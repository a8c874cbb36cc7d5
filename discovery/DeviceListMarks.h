#pragma once

// The recorder list's marks: a row whose address another row or this computer also uses, or that
// lies outside every subnet of this computer, gets a background colour and a tooltip that says
// why, naming the other rows. The six columns and their texts stay as they are.

#include "discovery/DeviceMarks.h"

#include <QColor>
#include <QString>
#include <QTableWidget>

#include <vector>

inline constexpr QColor kConflictMark{255, 214, 153};
inline constexpr QColor kOtherSubnetMark{222, 222, 222};

// Marks again every row whose address column shows `address`; called after a row with that
// address was added, since its arrival may turn the rows before it into conflicts.
void markRowsAt(QTableWidget& list, const QString& address, const std::vector<LocalNetwork>& networks);
