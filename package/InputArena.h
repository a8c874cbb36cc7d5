// Memory for the inputs' contents, placed back to back in large mappings with transparent huge
// pages asked for. Filling tens of megabytes one 4 KiB page fault at a time costs, in a virtual
// machine, a good share of what compressing them does, and the compression itself runs faster
// over huge pages. Parts of a mapping never written are never taken from the system, so at
// most the last huge page of each mapping is more than the contents need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class InputArena {
public:
    InputArena() = default;
    ~InputArena();
    InputArena(const InputArena&) = delete;
    InputArena& operator=(const InputArena&) = delete;

    // Room for n bytes (n > 0) that stays until the arena goes; nullptr when none can be had.
    std::uint8_t* Allocate(std::size_t n);

private:
    static constexpr std::size_t kHugePage = 2u << 20;
    static constexpr std::size_t kChunk = 32u << 20;
    struct Chunk {
        void* map;
        std::size_t length;
    };
    std::vector<Chunk> m_chunks;
    std::uint8_t* m_next = nullptr;
    std::size_t m_left = 0;
};
