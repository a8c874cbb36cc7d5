#pragma once

#include <QStringView>

#include <cstdint>
#include <optional>

// Numbers typed into edit boxes, read as the form-value exchange reads them: blanks and tabs
// around the digits are allowed, a sign may lead, nothing else may follow, and the value must fit.

namespace desktop {

// An unsigned decimal number of 32 bits ("+" allowed, "-" refused).
std::optional<std::uint32_t> parseUnsigned32(QStringView text);

// A signed decimal number of 32 bits.
std::optional<std::int32_t> parseSigned32(QStringView text);

} // namespace desktop
