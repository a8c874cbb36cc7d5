// Block compression for the image writer: every 4096-byte block becomes the zlib stream that
// zlib's compress() gives at the default level, on as many threads as asked, handed back in
// block order so the image comes out byte-identical whatever the thread count.
#pragma once

#include <zlib.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct BlockRef {
    const std::uint8_t* src;
    std::uint32_t len; // at most one block
};

// One deflate state reused for block after block. compress() allocates and frees its state on
// every call, which on several threads at once spends more time in the allocator than in
// deflate; deflateReset gives the same bytes without that.
class BlockDeflater {
public:
    BlockDeflater();
    ~BlockDeflater();
    BlockDeflater(const BlockDeflater&) = delete;
    BlockDeflater& operator=(const BlockDeflater&) = delete;

    // Compresses block into dst (capacity cap, at least BlockCompressor::kSlotSize); returns the
    // compressed length or -1.
    long Compress(const BlockRef& block, std::uint8_t* dst, std::size_t cap);

private:
    z_stream m_stream{};
    bool m_ok = false;
};

class BlockCompressor {
public:
    // Room for any block that compress() can produce from kRomBlockSize bytes.
    static const std::size_t kSlotSize;

    // blocks must stay valid (and their data unchanged) until the compressor is destroyed.
    // nThreads 0 means one per core; with one thread (or too little work) compresses on the
    // caller's thread as blocks are asked for.
    BlockCompressor(const std::vector<BlockRef>& blocks, unsigned nThreads);
    ~BlockCompressor();
    BlockCompressor(const BlockCompressor&) = delete;
    BlockCompressor& operator=(const BlockCompressor&) = delete;

    // The compressed bytes of block i, valid until the next call. Blocks must be asked for in
    // order 0, 1, 2, ... from one thread. False when zlib failed on the block.
    bool Get(std::size_t i, const std::uint8_t*& data, std::size_t& len);

    // Threads actually compressing (0 when working on the caller's thread).
    std::size_t ThreadCount() const { return m_threads.size(); }

private:
    static constexpr std::size_t kBatch = 32; // blocks a worker takes at once
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    struct Slot {
        std::vector<std::uint8_t> buf;
        std::vector<std::uint32_t> len;
        std::size_t batch = kNone; // batch held, ready for the consumer
        bool failed = false;
    };

    void Work();

    const std::vector<BlockRef>& m_blocks;
    std::size_t m_nBatches = 0;

    // Caller's-thread mode.
    std::unique_ptr<BlockDeflater> m_inline;
    std::vector<std::uint8_t> m_inlineBuf;

    // Worker mode: a ring of slots; batch b goes to slot b % size once batch b - size has been
    // consumed, which bounds the memory to the ring whatever the image size (8 slots of about
    // 128 KiB per thread).
    std::vector<Slot> m_slots;
    std::mutex m_mutex;
    std::condition_variable m_cvSpace; // a slot was released, or stop
    std::condition_variable m_cvReady; // a batch is ready
    std::size_t m_nextBatch = 0;       // next batch a worker takes
    std::size_t m_consumed = 0;        // batches below this one are released
    std::size_t m_current = kNone;     // batch the consumer reads from
    std::size_t m_waitingFor = kNone;  // batch the consumer sleeps on
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};
