// Memory of the node tree: the pages a parser carves its nodes from, and the node and array
// helpers that the parser and the editing operations share. Not part of the public interface.
#pragma once

#include "xml/XmlTree.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace xmldetail {

// A bump allocator. Parsing a large file makes millions of small records; taking them from a
// few big pages instead of one heap allocation each is what keeps the parse fast. Records are
// never given back one by one: the pages are released together with the parser.
class XmlPages {
public:
    XmlPages() = default;
    XmlPages(const XmlPages&) = delete;
    XmlPages& operator=(const XmlPages&) = delete;
    ~XmlPages() { release(); }

    // 8-byte aligned memory of bytes, or null when no memory is left.
    void* allocate(std::size_t bytes) {
        bytes = (bytes + 7) & ~std::size_t{7};
        if (static_cast<std::size_t>(m_end - m_next) < bytes) {
            return allocateSlow(bytes);
        }
        void* result = m_next;
        m_next += bytes;
        return result;
    }

    void release();

    // Bytes taken from the system for pages so far.
    std::size_t reservedBytes() const { return m_reserved; }

private:
    void* allocateSlow(std::size_t bytes);

    // Pages stay below the C library's threshold for mapping memory of its own, so a freed tree's
    // pages are reused by the next parse instead of going back to the system.
    static constexpr std::size_t kPageSize = 64 * 1024 - 64;

    std::vector<void*> m_pages;
    char* m_next = nullptr;
    char* m_end = nullptr;
    std::size_t m_reserved = 0;
};

// An array that grows step by step is taken from the pages while it has up to this many entries;
// larger ones live on the heap, where growing them does not leave the old copy behind.
constexpr std::uint32_t kMaxPagedArray = 32;
// An array made at its final size is taken from the pages up to this many entries.
constexpr std::uint32_t kMaxPagedFinalArray = 4096;

// A new node of kind. From the heap (edits) it has the initial arrays of its kind: an attribute
// array of capacity 1 for elements, processing instructions, document type declarations and the
// declarations, a child array of capacity 1 for documents, elements and document type
// declarations. From pages (parsing) its arrays come with its entries, sized as if they had
// grown from that capacity of 1. Null when no memory is left.
XmlNode* createNode(XmlNodeKind kind, XmlPages* pages);

// Appends child to parent's child array, growing a full array by step entries (from pages when
// given and the array is small). False when no memory is left.
bool linkChild(XmlNode* parent, XmlNode* child, std::uint32_t step, XmlPages* pages);

// Appends a new attribute record with null name and value to node, growing a full array by step.
// The record is taken from pages when given. Null when no memory is left.
XmlAttribute* addAttribute(XmlNode* node, std::uint32_t step, XmlPages* pages);

// Appends count children at once. The array grows in one piece to the capacity that growing it
// by step for each full array would have reached. False when no memory is left (nothing added).
bool appendChildren(XmlNode* parent, XmlNode* const* children, std::size_t count, std::uint32_t step,
                    XmlPages* pages);

// Appends count attribute records that live in pages at once, the array growing as for
// appendChildren. False when no memory is left (nothing added).
bool appendPagedAttributes(XmlNode* node, XmlAttribute* const* records, std::size_t count, std::uint32_t step,
                           XmlPages* pages);

// Replaces target with an own terminated copy of text (allocated before the old one is freed, so
// text may point into target). False when no memory is left; target is then unchanged.
bool assignOwnCopy(XmlString& target, std::string_view text);

// Frees an own string and makes it null.
void releaseString(XmlString& s);

} // namespace xmldetail
