#pragma once

// How the recorder list sorts when a column heading is clicked: addresses, masks, gateways and
// ports by their value (10.0.0.9 before 10.0.0.10), the MAC text without regard to case, and the
// "No." column by the order the recorders were found. Texts a column cannot read as its kind come
// after those it can, by their text. Rows that tie keep the order they were found in, so that a
// sort gives the same list however the rows stood before.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The list's columns, in the order the window shows them.
enum class DeviceColumn { Number = 0, Address = 1, Port = 2, Mask = 3, Gateway = 4, Mac = 5 };

struct DeviceSortKey {
    int unreadable = 0;      // 0: read as the column's kind, 1: kept as text
    std::uint64_t value = 0; // the value read
    std::string text;        // the text, when unreadable or for the MAC column (lower case)
    std::size_t found = 0;   // the place the recorder was found at

    auto operator<=>(const DeviceSortKey&) const = default;
};

// The key of a cell with this text in this column, for a recorder found at place `found`
// (0 for the first).
DeviceSortKey deviceSortKey(DeviceColumn column, std::string_view text, std::size_t found);
