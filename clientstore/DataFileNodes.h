// How the data file's elements are read and written. Reading goes through get-or-add access, as
// the client's own store does: an element that lacks an attribute it is asked for gains it,
// empty, so the order of the reads is the order in which the attributes appear.
#pragma once

#include "clientstore/ClientRecords.h"
#include "xml/XmlTree.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace datafile {

// Unsigned decimal from the start of the text up to the first non-digit; no digits read as 0.
// A number beyond 32 bits reads as the largest 32-bit number.
std::uint32_t parseUnsigned(std::string_view text);

// The document holds at least one element at its top.
bool hasElement(const XmlNodeRef& document);
bool isElement(const XmlNodeRef& node, std::string_view name);

std::uint32_t readUnsigned(XmlNodeRef node, const char* name);
std::string_view readText(XmlNodeRef node, const char* name);
bool setText(XmlNodeRef node, const char* name, std::string_view text);
bool setNumber(XmlNodeRef node, const char* name, std::uint32_t value);

// Fills a text field of a record from an attribute, cut at the field.
template <std::size_t N> void readField(char (&field)[N], XmlNodeRef node, const char* name) {
    copyToField(field, readText(node, name));
}

// Visits every node below `from`, depth first in document order, until `visit` returns true;
// that node is the result (an invalid node when none). A stack of its own keeps a deeply nested
// file from exhausting the call stack.
template <typename Visit> XmlNodeRef walkBelow(const XmlNodeRef& from, Visit&& visit) {
    std::vector<std::pair<XmlNodeRef, std::size_t>> stack;
    stack.emplace_back(from, 0);
    while (!stack.empty()) {
        const XmlNodeRef node = stack.back().first;
        const std::size_t index = stack.back().second;
        if (index >= node.childCount()) {
            stack.pop_back();
            continue;
        }
        ++stack.back().second;
        const XmlNodeRef child = node.child(index);
        if (visit(child)) {
            return child;
        }
        if (child.childCount() > 0) {
            stack.emplace_back(child, 0);
        }
    }
    return XmlNodeRef();
}

// The first element of this name below `from`, depth first in document order.
XmlNodeRef firstElement(const XmlNodeRef& from, std::string_view name);

// Walks the element children of DEVINFO in order up to the first one that `matches`; the result
// is that child's id when it is a device, else 0 (a later match does not count). Children that
// are not elements never match: get-or-add access would write attributes into a processing
// instruction.
template <typename Match> std::uint32_t findDevice(XmlNodeRef devinfo, Match matches) {
    const std::size_t n = devinfo.childCount();
    for (std::size_t i = 0; i < n; ++i) {
        XmlNodeRef child = devinfo.child(i);
        if (child.kind() != NodeElement || !matches(child)) {
            continue;
        }
        return isElement(child, "DEV") ? readUnsigned(child, "id") : 0;
    }
    return 0;
}

} // namespace datafile
