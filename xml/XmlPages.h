// Memory of the node tree: the pages a parser carves its nodes from, and the node and array
// helpers that the parser and the editing operations share. Not part of the public interface.
#pragma once

#include "XmlTree.h"

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

    std::vector<void*> m_pages;
    char* m_next = nullptr;
    char* m_end = nullptr;
    std::size_t m_nextPageSize = 64 * 1024;
    std::size_t m_reserved = 0;
};

// Arrays up to this many entries are taken from the pages while parsing; larger ones live on the
// heap, where growing them does not leave the old copy behind.
constexpr std::uint32_t kMaxPagedArray = 32;

// A new node of kind with the initial arrays of its kind (attribute array of capacity 1 for
// elements, processing instructions, document type declarations and the declarations; child
// array of capacity 1 for documents, elements and document type declarations). Taken from pages
// when given, else from the heap. Null when no memory is left.
XmlNode* createNode(XmlNodeKind kind, XmlPages* pages);

// Appends child to parent's child array, growing a full array by step entries (from pages when
// given and the array is small). False when no memory is left.
bool linkChild(XmlNode* parent, XmlNode* child, std::uint32_t step, XmlPages* pages);

// Appends a new attribute record with null name and value to node, growing a full array by step.
// The record is taken from pages when given. Null when no memory is left.
XmlAttribute* addAttribute(XmlNode* node, std::uint32_t step, XmlPages* pages);

// Replaces target with an own terminated copy of text (allocated before the old one is freed, so
// text may point into target). False when no memory is left; target is then unchanged.
bool assignOwnCopy(XmlString& target, std::string_view text);

// Frees an own string and makes it null.
void releaseString(XmlString& s);

} // namespace xmldetail
