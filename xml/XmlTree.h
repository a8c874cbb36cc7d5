// The node tree of the XML engine: nodes, attributes, and the handles the data store works with.
//
// A tree made by XmlParser points into the parser's text buffer: names and values are runs of that
// text (pointer and length, not terminated) until an edit replaces them with an own terminated
// copy. The tree therefore must not outlive the XmlParser that made it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The kind of a node; the numbers are those of the stored kind field.
enum XmlNodeKind : std::uint8_t {
    NodeNull = 0,         // the empty node of a handle
    NodeDocument = 1,     // the top-level nodes are its children; it is its own parent
    NodeElement = 2,      // tag name, attributes, children
    NodeText = 3,         // character data
    NodeCdata = 4,        // the content of a CDATA section
    NodeComment = 5,      // the content of a comment
    NodePi = 6,           // processing instruction: target name and attributes
    NodeInclude = 7,      // the content of an INCLUDE section
    NodeDoctype = 8,      // one attribute per token, the internal subset as value and as children
    NodeEntityDecl = 9,   // declared name and the rest of the declaration
    NodeAttlistDecl = 10, // declared name and the rest
    NodeElementDecl = 11, // declared name and the rest
    NodeNotationDecl = 12 // declared name and the rest
};

// A name or value. In place: a run of the parsed text, never freed on its own. Otherwise an own
// terminated copy made by an edit, freed when replaced or when its node is freed. A null pointer
// means there is none (for example an attribute written without a value).
struct XmlString {
    const char* ptr = nullptr;
    std::uint32_t length = 0;
    bool inPlace = true;

    bool isNull() const { return ptr == nullptr; }
    std::string_view view() const { return ptr ? std::string_view(ptr, length) : std::string_view(); }
};

struct XmlAttribute {
    XmlString name;
    XmlString value;
};

// Which parts of a node live in the pages of the XmlParser that made them (and so are released
// with the parser rather than one by one).
enum XmlStorage : std::uint8_t {
    StorageNodeInPages = 1,
    StorageAttributesInPages = 2,
    StorageChildrenInPages = 4,
};

struct XmlNode {
    XmlNode* parent = nullptr; // the document node is its own parent
    XmlString name;
    XmlNodeKind kind = NodeNull;
    std::uint8_t storage = 0; // XmlStorage bits
    std::uint32_t attributeCount = 0;
    std::uint32_t attributeCapacity = 0;
    std::uint32_t pagedAttributes = 0; // the first this many attribute records live in pages
    XmlAttribute** attributes = nullptr;
    std::uint32_t childCount = 0;
    std::uint32_t childCapacity = 0;
    XmlNode** children = nullptr; // in document order
    XmlString value;
};

// Makes a free-standing document node (its own parent, no children) on the heap; release it with
// freeTree.
XmlNode* newDocumentNode();

// Frees a node and everything below it without recursion, however deep the tree. The node is
// first taken out of its parent's child list (unless it is its own parent). Own strings,
// attribute records, arrays and nodes are freed; what lives in a parser's pages or points into
// its text is left to the parser. An XmlParser's own document is freed by the parser (clear(),
// destruction), never by calling this on it.
void freeTree(XmlNode* node);

// True when the writer can put this attribute value out so that it reads back as the same bytes:
// it holds no zero byte and not both quote characters (a value with a double quote is written
// between single quotes). The data store refuses any other value before it reaches the tree.
bool isWritableValue(std::string_view value);

// A handle to one attribute, or to none. Every operation on an empty handle does nothing.
class XmlAttributeRef {
public:
    XmlAttributeRef() = default;
    explicit XmlAttributeRef(XmlAttribute* attribute) : m_attribute(attribute) {}

    bool isValid() const { return m_attribute != nullptr; }
    XmlAttribute* get() const { return m_attribute; }

    // The name, empty for a token without name (document type declarations) and for none.
    std::string_view name() const;
    // True when the attribute carries a value (an attribute written as a bare name has none).
    bool hasValue() const { return m_attribute && !m_attribute->value.isNull(); }
    // The value as a string of exactly its length; empty when there is none.
    std::string text() const { return std::string(view()); }
    // The value without a copy; valid until the value is replaced or the tree freed.
    std::string_view view() const;

    // Replaces the value with an own copy of text (the old value is freed unless in place). A null
    // pointer stores an empty value. Gives false when nothing was stored (empty handle, no memory,
    // text of 4 GiB or more).
    bool setText(const char* text);
    bool setText(std::string_view text);
    // Stores the decimal text of the number ("%u"). Callers pass the low 8 or 16 bits where a
    // field is that narrow.
    bool setUnsigned(std::uint32_t number);

    friend bool operator==(const XmlAttributeRef&, const XmlAttributeRef&) = default;

private:
    XmlAttribute* m_attribute = nullptr;
};

// A handle to one node of a tree, or an empty handle. Lookups that find nothing give an empty
// handle; every operation on an empty handle finds nothing and changes nothing.
class XmlNodeRef {
public:
    XmlNodeRef() = default;
    explicit XmlNodeRef(XmlNode* node) : m_node(node && node->kind != NodeNull ? node : nullptr) {}

    // True when the handle refers to a node of a tree.
    bool isValid() const { return m_node != nullptr; }
    XmlNode* get() const { return m_node; }

    XmlNodeKind kind() const { return m_node ? m_node->kind : NodeNull; }
    // True for a document node (kind NodeDocument and its own parent).
    bool isDocument() const { return m_node && m_node->kind == NodeDocument && m_node->parent == m_node; }
    std::string_view name() const { return m_node ? m_node->name.view() : std::string_view(); }
    std::string_view value() const { return m_node ? m_node->value.view() : std::string_view(); }
    // The parent; a document is its own parent.
    XmlNodeRef parent() const { return XmlNodeRef(m_node ? m_node->parent : nullptr); }

    std::size_t childCount() const { return m_node ? m_node->childCount : 0; }
    // The child at index, or an empty handle when index is not below the count.
    XmlNodeRef child(std::size_t index) const;

    // The first node below this one (depth-first, document order, this node not tested) whose
    // name is exactly name; nodes without a name never match.
    XmlNodeRef firstByName(const char* name) const;
    // The first node below this one, in the same order, that is named nodeName (any name when
    // nodeName is null) and whose first attribute named attributeName has the value text
    // attributeValue. depth 0 looks at the children only, each further level one more; -1 (or
    // any negative depth) has no limit. Empty when attributeName or attributeValue is null.
    XmlNodeRef firstWithAttribute(const char* nodeName, const char* attributeName, const char* attributeValue,
                                  int depth = -1) const;

    std::size_t attributeCount() const { return m_node ? m_node->attributeCount : 0; }
    // The attribute at index, or an empty handle.
    XmlAttributeRef attributeAt(std::size_t index) const;
    // Index of the first attribute named name, or -1.
    int attributeIndex(const char* name) const;
    // Get-or-add: the first attribute named name; when there is none, a new attribute with an own
    // copy of name and an own empty value is appended and returned. Reading an attribute this way
    // therefore adds it. Empty for a null name and for nodes that carry no attributes (text,
    // CDATA, comment, INCLUDE section, document).
    XmlAttributeRef attribute(const char* name);

    // Appends a new node of kind as the last child and gives it; works on a document node and on
    // elements only (else an empty handle). NodeNull and NodeDocument cannot be appended.
    XmlNodeRef appendChild(XmlNodeKind kind);
    // Replaces the name with an own copy; true when stored.
    bool setName(std::string_view name);
    bool setName(const char* name) { return name && setName(std::string_view(name)); }

    friend bool operator==(const XmlNodeRef&, const XmlNodeRef&) = default;

private:
    XmlNode* m_node = nullptr;
};
