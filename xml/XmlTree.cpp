#include "xml/XmlTree.h"

#include "xml/XmlPages.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace xmldetail {

void XmlPages::release() {
    for (void* page : m_pages) {
        std::free(page);
    }
    m_pages.clear();
    m_next = m_end = nullptr;
    m_reserved = 0;
}

void* XmlPages::allocateSlow(std::size_t bytes) {
    // A large block gets a piece of its own; the current page stays in use for small records.
    const bool own = bytes > kPageSize / 4;
    const std::size_t size = own ? bytes : kPageSize;
    char* page = static_cast<char*>(std::malloc(size));
    if (!page) {
        return nullptr;
    }
    try {
        m_pages.push_back(page);
    } catch (const std::bad_alloc&) {
        std::free(page);
        return nullptr;
    }
    m_reserved += size;
    if (!own) {
        m_next = page + bytes;
        m_end = page + size;
    }
    return page;
}

namespace {

bool hasAttributeArray(XmlNodeKind kind) {
    switch (kind) {
    case NodeElement:
    case NodePi:
    case NodeDoctype:
    case NodeEntityDecl:
    case NodeAttlistDecl:
    case NodeElementDecl:
    case NodeNotationDecl:
        return true;
    default:
        return false;
    }
}

bool hasChildArray(XmlNodeKind kind) {
    return kind == NodeDocument || kind == NodeElement || kind == NodeDoctype;
}

// Grows a full pointer array by step entries. inPages tells where the array lives now and is
// updated to where it lives afterwards.
template <typename T>
bool growArray(T**& array, std::uint32_t count, std::uint32_t& capacity, std::uint32_t step, bool& inPages,
               XmlPages* pages) {
    if (step == 0) {
        step = 1;
    }
    if (capacity > std::numeric_limits<std::uint32_t>::max() - step) {
        return false;
    }
    const std::uint32_t newCapacity = capacity + step;
    const std::size_t bytes = std::size_t{newCapacity} * sizeof(T*);
    T** grown = nullptr;
    if (array && !inPages) {
        grown = static_cast<T**>(std::realloc(array, bytes));
        if (!grown) {
            return false;
        }
    } else {
        if (pages && newCapacity <= kMaxPagedArray) {
            grown = static_cast<T**>(pages->allocate(bytes));
            inPages = grown != nullptr;
        } else {
            grown = static_cast<T**>(std::malloc(bytes));
            inPages = false;
        }
        if (!grown) {
            return false;
        }
        if (count) {
            std::memcpy(grown, array, std::size_t{count} * sizeof(T*));
        }
    }
    array = grown;
    capacity = newCapacity;
    return true;
}

// The capacity that adding step entries to a full array, as often as needed, reaches for needed
// entries; 0 when that does not fit in 32 bits.
std::uint32_t grownCapacity(std::uint32_t capacity, std::size_t needed, std::uint32_t step) {
    if (step == 0) {
        step = 1;
    }
    if (needed <= capacity) {
        return capacity;
    }
    const std::uint64_t steps = (needed - capacity + step - 1) / step;
    const std::uint64_t grown = capacity + steps * step;
    return grown > std::numeric_limits<std::uint32_t>::max() ? 0 : static_cast<std::uint32_t>(grown);
}

// Moves a pointer array to newCapacity entries in one allocation (from pages when given and the
// array is not yet on the heap and not large).
template <typename T>
bool resizeArray(T**& array, std::uint32_t count, std::uint32_t& capacity, std::uint32_t newCapacity,
                 bool& inPages, XmlPages* pages) {
    if (newCapacity == capacity) {
        return true;
    }
    const std::size_t bytes = std::size_t{newCapacity} * sizeof(T*);
    T** moved = nullptr;
    if (array && !inPages) {
        moved = static_cast<T**>(std::realloc(array, bytes));
    } else {
        if (pages && newCapacity <= kMaxPagedFinalArray) {
            moved = static_cast<T**>(pages->allocate(bytes));
            inPages = true;
        } else {
            moved = static_cast<T**>(std::malloc(bytes));
            inPages = false;
        }
        if (moved && count) {
            std::memcpy(moved, array, std::size_t{count} * sizeof(T*));
        }
    }
    if (!moved) {
        return false;
    }
    array = moved;
    capacity = newCapacity;
    return true;
}

std::uint8_t withStorage(std::uint8_t storage, std::uint8_t bit, bool set) {
    return static_cast<std::uint8_t>(set ? storage | bit : storage & ~bit);
}

} // namespace

bool appendChildren(XmlNode* parent, XmlNode* const* children, std::size_t count, std::uint32_t step,
                    XmlPages* pages) {
    const std::uint32_t from = parent->children ? parent->childCapacity : 1;
    const std::uint32_t capacity = grownCapacity(from, parent->childCount + count, step);
    if (capacity == 0) {
        return false;
    }
    bool inPages = parent->storage & StorageChildrenInPages;
    if (!resizeArray(parent->children, parent->childCount, parent->childCapacity, capacity, inPages, pages)) {
        return false;
    }
    parent->storage = withStorage(parent->storage, StorageChildrenInPages, inPages);
    for (std::size_t i = 0; i < count; ++i) {
        children[i]->parent = parent;
        parent->children[parent->childCount++] = children[i];
    }
    return true;
}

bool appendPagedAttributes(XmlNode* node, XmlAttribute* const* records, std::size_t count, std::uint32_t step,
                           XmlPages* pages) {
    if (node->pagedAttributes != node->attributeCount) {
        return false; // records from pages must stay in front of those from the heap
    }
    const std::uint32_t from = node->attributes ? node->attributeCapacity : 1;
    const std::uint32_t capacity = grownCapacity(from, node->attributeCount + count, step);
    if (capacity == 0) {
        return false;
    }
    bool inPages = node->storage & StorageAttributesInPages;
    if (!resizeArray(node->attributes, node->attributeCount, node->attributeCapacity, capacity, inPages,
                     pages)) {
        return false;
    }
    node->storage = withStorage(node->storage, StorageAttributesInPages, inPages);
    std::memcpy(node->attributes + node->attributeCount, records, count * sizeof(XmlAttribute*));
    node->attributeCount += static_cast<std::uint32_t>(count);
    node->pagedAttributes += static_cast<std::uint32_t>(count);
    return true;
}

XmlNode* createNode(XmlNodeKind kind, XmlPages* pages) {
    if (pages) {
        // Arrays come when the parser knows how many entries the node has (appendChildren,
        // appendPagedAttributes); they start from the same capacity of 1 that a new node has.
        void* memory = pages->allocate(sizeof(XmlNode));
        if (!memory) {
            return nullptr;
        }
        XmlNode* node = new (memory) XmlNode;
        node->storage = StorageNodeInPages | StorageAttributesInPages | StorageChildrenInPages;
        node->kind = kind;
        return node;
    }
    XmlNode* node = static_cast<XmlNode*>(std::malloc(sizeof(XmlNode)));
    if (!node) {
        return nullptr;
    }
    new (node) XmlNode;
    if (hasAttributeArray(kind)) {
        node->attributes = static_cast<XmlAttribute**>(std::malloc(sizeof(XmlAttribute*)));
        node->attributeCapacity = node->attributes ? 1 : 0;
    }
    if (hasChildArray(kind)) {
        node->children = static_cast<XmlNode**>(std::malloc(sizeof(XmlNode*)));
        node->childCapacity = node->children ? 1 : 0;
    }
    node->kind = kind;
    return node;
}

bool linkChild(XmlNode* parent, XmlNode* child, std::uint32_t step, XmlPages* pages) {
    if (parent->childCount == parent->childCapacity) {
        bool inPages = parent->storage & StorageChildrenInPages;
        if (!growArray(parent->children, parent->childCount, parent->childCapacity, step, inPages, pages)) {
            return false;
        }
        parent->storage = static_cast<std::uint8_t>(inPages ? parent->storage | StorageChildrenInPages
                                                            : parent->storage & ~StorageChildrenInPages);
    }
    parent->children[parent->childCount++] = child;
    child->parent = parent;
    return true;
}

XmlAttribute* addAttribute(XmlNode* node, std::uint32_t step, XmlPages* pages) {
    if (node->attributeCount == node->attributeCapacity) {
        bool inPages = node->storage & StorageAttributesInPages;
        if (!growArray(node->attributes, node->attributeCount, node->attributeCapacity, step, inPages,
                       pages)) {
            return nullptr;
        }
        node->storage = static_cast<std::uint8_t>(inPages ? node->storage | StorageAttributesInPages
                                                          : node->storage & ~StorageAttributesInPages);
    }
    // Records from pages must stay in front of heap records so that freeing knows which is which;
    // once an edit has added a heap record, later records come from the heap too.
    const bool paged = pages && node->pagedAttributes == node->attributeCount;
    void* memory = paged ? pages->allocate(sizeof(XmlAttribute)) : std::malloc(sizeof(XmlAttribute));
    if (!memory) {
        return nullptr;
    }
    XmlAttribute* attribute = new (memory) XmlAttribute;
    node->attributes[node->attributeCount++] = attribute;
    if (paged) {
        ++node->pagedAttributes;
    }
    return attribute;
}

bool assignOwnCopy(XmlString& target, std::string_view text) {
    if (text.size() >= std::numeric_limits<std::uint32_t>::max()) {
        return false;
    }
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (!copy) {
        return false;
    }
    if (!text.empty()) {
        std::memcpy(copy, text.data(), text.size());
    }
    copy[text.size()] = '\0';
    releaseString(target);
    target.ptr = copy;
    target.length = static_cast<std::uint32_t>(text.size());
    target.inPlace = false;
    return true;
}

void releaseString(XmlString& s) {
    if (!s.inPlace) {
        std::free(const_cast<char*>(s.ptr));
    }
    s = XmlString{};
}

} // namespace xmldetail

using namespace xmldetail;

namespace {

bool sameName(const XmlString& name, std::string_view wanted) {
    return !name.isNull() && name.view() == wanted;
}

// Frees one node that has no children left: its strings, attributes and arrays, and the node
// itself unless those live in pages.
void releaseNode(XmlNode* node) {
    releaseString(node->name);
    releaseString(node->value);
    for (std::uint32_t i = 0; i < node->attributeCount; ++i) {
        XmlAttribute* attribute = node->attributes[i];
        releaseString(attribute->name);
        releaseString(attribute->value);
        if (i >= node->pagedAttributes) {
            std::free(attribute);
        }
    }
    if (!(node->storage & StorageAttributesInPages)) {
        std::free(node->attributes);
    }
    if (!(node->storage & StorageChildrenInPages)) {
        std::free(node->children);
    }
    if (!(node->storage & StorageNodeInPages)) {
        std::free(node);
    } else {
        node->kind = NodeNull;
    }
}

struct SearchFrame {
    const XmlNode* node;
    std::uint32_t next;
    int depth;
};

} // namespace

XmlNode* newDocumentNode() {
    XmlNode* document = createNode(NodeDocument, nullptr);
    if (document) {
        document->parent = document;
    }
    return document;
}

void freeTree(XmlNode* node) {
    if (!node) {
        return;
    }
    XmlNode* parent = node->parent;
    if (parent && parent != node) {
        // Take the node out of its parent's list, wherever it stands in it.
        for (std::uint32_t i = parent->childCount; i-- > 0;) {
            if (parent->children[i] == node) {
                std::memmove(parent->children + i, parent->children + i + 1,
                             std::size_t{parent->childCount - i - 1} * sizeof(XmlNode*));
                --parent->childCount;
                break;
            }
        }
    }
    XmlNode* current = node;
    for (;;) {
        if (current->childCount > 0) {
            current = current->children[current->childCount - 1];
            continue;
        }
        if (current == node) {
            releaseNode(current);
            return;
        }
        XmlNode* up = current->parent;
        releaseNode(current);
        --up->childCount;
        current = up;
    }
}

bool isWritableValue(std::string_view value) {
    if (value.find('\0') != std::string_view::npos) {
        return false;
    }
    return value.find('"') == std::string_view::npos || value.find('\'') == std::string_view::npos;
}

std::string_view XmlAttributeRef::name() const {
    return m_attribute ? m_attribute->name.view() : std::string_view();
}

std::string_view XmlAttributeRef::view() const {
    return m_attribute ? m_attribute->value.view() : std::string_view();
}

bool XmlAttributeRef::setText(const char* text) {
    return setText(text ? std::string_view(text) : std::string_view());
}

bool XmlAttributeRef::setText(std::string_view text) {
    return m_attribute && assignOwnCopy(m_attribute->value, text);
}

bool XmlAttributeRef::setUnsigned(std::uint32_t number) {
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, number);
    return setText(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
}

XmlNodeRef XmlNodeRef::child(std::size_t index) const {
    if (!m_node || index >= m_node->childCount) {
        return XmlNodeRef();
    }
    return XmlNodeRef(m_node->children[index]);
}

XmlNodeRef XmlNodeRef::firstByName(const char* name) const {
    if (!m_node || !name) {
        return XmlNodeRef();
    }
    const std::string_view wanted(name);
    // An explicit stack instead of recursion: a deeply nested file must not exhaust the stack.
    std::vector<SearchFrame> stack;
    stack.push_back({m_node, 0, -1});
    while (!stack.empty()) {
        SearchFrame& frame = stack.back();
        if (frame.next >= frame.node->childCount) {
            stack.pop_back();
            continue;
        }
        XmlNode* candidate = frame.node->children[frame.next++];
        if (sameName(candidate->name, wanted)) {
            return XmlNodeRef(candidate);
        }
        if (candidate->childCount > 0) {
            stack.push_back({candidate, 0, -1});
        }
    }
    return XmlNodeRef();
}

XmlNodeRef XmlNodeRef::firstWithAttribute(const char* nodeName, const char* attributeName,
                                          const char* attributeValue, int depth) const {
    if (!m_node || !attributeName || !attributeValue) {
        return XmlNodeRef();
    }
    const std::string_view wantedAttribute(attributeName);
    const std::string_view wantedValue(attributeValue);
    std::vector<SearchFrame> stack;
    stack.push_back({m_node, 0, depth < 0 ? -1 : depth});
    while (!stack.empty()) {
        SearchFrame& frame = stack.back();
        if (frame.next >= frame.node->childCount) {
            stack.pop_back();
            continue;
        }
        XmlNode* candidate = frame.node->children[frame.next++];
        const int frameDepth = frame.depth;
        bool matches = !nodeName || sameName(candidate->name, nodeName);
        if (matches) {
            matches = false;
            for (std::uint32_t i = 0; i < candidate->attributeCount; ++i) {
                const XmlAttribute* attribute = candidate->attributes[i];
                if (sameName(attribute->name, wantedAttribute)) {
                    matches = attribute->value.view() == wantedValue;
                    break;
                }
            }
        }
        if (matches) {
            return XmlNodeRef(candidate);
        }
        if (frameDepth != 0 && candidate->childCount > 0) {
            stack.push_back({candidate, 0, frameDepth < 0 ? -1 : frameDepth - 1});
        }
    }
    return XmlNodeRef();
}

XmlAttributeRef XmlNodeRef::attributeAt(std::size_t index) const {
    if (!m_node || index >= m_node->attributeCount) {
        return XmlAttributeRef();
    }
    return XmlAttributeRef(m_node->attributes[index]);
}

int XmlNodeRef::attributeIndex(const char* name) const {
    if (!m_node || !name) {
        return -1;
    }
    const std::string_view wanted(name);
    for (std::uint32_t i = 0; i < m_node->attributeCount; ++i) {
        if (sameName(m_node->attributes[i]->name, wanted)) {
            return i <= static_cast<std::uint32_t>(std::numeric_limits<int>::max()) ? static_cast<int>(i)
                                                                                    : -1;
        }
    }
    return -1;
}

XmlAttributeRef XmlNodeRef::attribute(const char* name) {
    if (!m_node || !name || !hasAttributeArray(m_node->kind)) {
        return XmlAttributeRef();
    }
    const std::string_view wanted(name);
    for (std::uint32_t i = 0; i < m_node->attributeCount; ++i) {
        if (sameName(m_node->attributes[i]->name, wanted)) {
            return XmlAttributeRef(m_node->attributes[i]);
        }
    }
    // Copies first, so that a failure leaves the node as it was.
    XmlString ownName;
    XmlString ownValue;
    if (!assignOwnCopy(ownName, wanted) || !assignOwnCopy(ownValue, std::string_view())) {
        releaseString(ownName);
        return XmlAttributeRef();
    }
    XmlAttribute* attribute = addAttribute(m_node, 1, nullptr);
    if (!attribute) {
        releaseString(ownName);
        releaseString(ownValue);
        return XmlAttributeRef();
    }
    attribute->name = ownName;
    attribute->value = ownValue;
    return XmlAttributeRef(attribute);
}

XmlNodeRef XmlNodeRef::appendChild(XmlNodeKind kind) {
    if (!m_node || !(isDocument() || m_node->kind == NodeElement)) {
        return XmlNodeRef();
    }
    if (kind <= NodeDocument || kind > NodeNotationDecl) {
        return XmlNodeRef();
    }
    XmlNode* node = createNode(kind, nullptr);
    if (!node) {
        return XmlNodeRef();
    }
    if (!linkChild(m_node, node, 1, nullptr)) {
        node->parent = node;
        freeTree(node);
        return XmlNodeRef();
    }
    return XmlNodeRef(node);
}

bool XmlNodeRef::setName(std::string_view name) {
    return m_node && assignOwnCopy(m_node->name, name);
}
