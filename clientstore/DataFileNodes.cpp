#include "clientstore/DataFileNodes.h"

#include <climits>

namespace datafile {

namespace {
constexpr std::size_t kNumberBytes = 255; // a number is read from at most this many bytes
} // namespace

std::uint32_t parseUnsigned(std::string_view text) {
    text = text.substr(0, kNumberBytes);
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            break;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > UINT32_MAX) {
            return UINT32_MAX;
        }
    }
    return static_cast<std::uint32_t>(value);
}

bool hasElement(const XmlNodeRef& document) {
    for (std::size_t i = 0; i < document.childCount(); ++i) {
        if (document.child(i).kind() == NodeElement) {
            return true;
        }
    }
    return false;
}

bool isElement(const XmlNodeRef& node, std::string_view name) {
    return node.kind() == NodeElement && node.name() == name;
}

std::uint32_t readUnsigned(XmlNodeRef node, const char* name) {
    return parseUnsigned(node.attribute(name).view());
}

std::string_view readText(XmlNodeRef node, const char* name) {
    return node.attribute(name).view();
}

bool setText(XmlNodeRef node, const char* name, std::string_view text) {
    return node.attribute(name).setText(text);
}

bool setNumber(XmlNodeRef node, const char* name, std::uint32_t value) {
    return node.attribute(name).setUnsigned(value);
}

XmlNodeRef firstElement(const XmlNodeRef& from, std::string_view name) {
    return walkBelow(from, [name](const XmlNodeRef& node) { return isElement(node, name); });
}

} // namespace datafile
