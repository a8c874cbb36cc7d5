#include "package/InputArena.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>

InputArena::~InputArena() {
    for (const Chunk& c : m_chunks)
        ::munmap(c.map, c.length);
}

std::uint8_t* InputArena::Allocate(std::size_t n) {
    n = (n + 63) & ~std::size_t{63};
    if (n > m_left) {
        std::size_t size = std::max(kChunk, (n + kHugePage - 1) & ~(kHugePage - 1));
        std::size_t length = size + kHugePage; // room to start on a huge-page boundary
        void* map = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED)
            return nullptr;
        try {
            m_chunks.push_back({map, length});
        } catch (const std::bad_alloc&) {
            ::munmap(map, length);
            return nullptr;
        }
        auto aligned = (reinterpret_cast<std::uintptr_t>(map) + kHugePage - 1) & ~(kHugePage - 1);
        m_next = reinterpret_cast<std::uint8_t*>(aligned);
        m_left = size;
        ::madvise(m_next, size, MADV_HUGEPAGE); // only a hint
    }
    std::uint8_t* p = m_next;
    m_next += n;
    m_left -= n;
    return p;
}
