#include "discovery/DeviceSortKey.h"

#include "discovery/DiscoveryProtocol.h"

#include <charconv>
#include <optional>

namespace {

std::optional<std::uint64_t> readNumber(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = char(c - 'A' + 'a');
        }
    }
    return lower;
}

} // namespace

DeviceSortKey deviceSortKey(DeviceColumn column, std::string_view text, std::size_t found) {
    DeviceSortKey key;
    key.found = found;
    std::optional<std::uint64_t> value;
    switch (column) {
    case DeviceColumn::Number:
        key.value = found; // the order found, whatever the text says
        return key;
    case DeviceColumn::Address:
    case DeviceColumn::Mask:
    case DeviceColumn::Gateway:
        value = parseIpv4(text);
        break;
    case DeviceColumn::Port:
        value = readNumber(text);
        break;
    case DeviceColumn::Mac:
        key.text = lowerCase(text);
        return key;
    }
    if (value) {
        key.value = *value;
    } else {
        key.unreadable = 1;
        key.text = text;
    }
    return key;
}
