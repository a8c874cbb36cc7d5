// Helpers shared by the XML suites: a node-by-node rendering of a tree.
#pragma once

#include "xml/XmlTree.h"

#include <string>
#include <vector>

namespace xmltest {

inline const char* kindName(XmlNodeKind kind) {
    switch (kind) {
    case NodeNull:
        return "null";
    case NodeDocument:
        return "document";
    case NodeElement:
        return "element";
    case NodeText:
        return "text";
    case NodeCdata:
        return "cdata";
    case NodeComment:
        return "comment";
    case NodePi:
        return "pi";
    case NodeInclude:
        return "include";
    case NodeDoctype:
        return "doctype";
    case NodeEntityDecl:
        return "entity";
    case NodeAttlistDecl:
        return "attlist";
    case NodeElementDecl:
        return "elementdecl";
    case NodeNotationDecl:
        return "notation";
    }
    return "?";
}

// One line per node below `node` (the node itself is not listed), two spaces per level:
// the kind, the name when there is one, each attribute as name="value", a bare name when it has
// no value, ="value" when it has no name, and ': "value"' when the node has a value.
inline std::string dumpChildren(XmlNodeRef node) {
    std::string out;
    struct Frame {
        XmlNodeRef node;
        std::size_t next;
    };
    std::vector<Frame> stack{{node, 0}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next >= frame.node.childCount()) {
            stack.pop_back();
            continue;
        }
        XmlNodeRef child = frame.node.child(frame.next++);
        out.append(2 * (stack.size() - 1), ' ');
        out += kindName(child.kind());
        const XmlNode* raw = child.get();
        if (!raw->name.isNull()) {
            out += ' ';
            out += child.name();
        }
        for (std::size_t i = 0; i < child.attributeCount(); ++i) {
            const XmlAttributeRef attribute = child.attributeAt(i);
            out += ' ';
            out += attribute.name();
            if (attribute.hasValue()) {
                out += "=\"" + attribute.text() + '"';
            }
        }
        if (!raw->value.isNull()) {
            out += ": \"" + std::string(child.value()) + '"';
        }
        out += '\n';
        if (child.childCount() > 0) {
            stack.push_back({child, 0});
        }
    }
    return out;
}

} // namespace xmltest
