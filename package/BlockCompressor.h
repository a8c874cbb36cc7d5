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

// Compresses the blocks of the files it is given, in file order, on worker threads that start
// as soon as the first file is added: the caller can go on reading the next inputs while the
// first ones are compressed. The caller takes the compressed blocks back in order.
class BlockCompressor {
public:
    // Room for any block that compress() can produce from kRomBlockSize bytes.
    static const std::size_t kSlotSize;

    // nThreads 0 means one per core; with one thread compresses on the caller's thread as
    // blocks are asked for.
    explicit BlockCompressor(unsigned nThreads);
    ~BlockCompressor();
    BlockCompressor(const BlockCompressor&) = delete;
    BlockCompressor& operator=(const BlockCompressor&) = delete;

    // Appends a file's blocks. data must stay valid and unchanged until its last block has been
    // taken back with Get (or the compressor is gone). Caller's thread only.
    void AddFile(const std::uint8_t* data, std::uint32_t size);
    // No more files will come.
    void Finish();

    // Blocks are compressed and handed back in batches of this many.
    static constexpr std::size_t kBatch = 32;

    // The compressed bytes of block i (counting across files). They stay valid until a block of
    // another batch (i / kBatch) is asked for, so a whole batch can be written out at once.
    // Blocks must be asked for in order 0, 1, 2, ... after Finish. False when zlib failed on
    // the block or there is no such block.
    bool Get(std::size_t i, const std::uint8_t*& data, std::size_t& len);

    // Threads compressing (0 when working on the caller's thread).
    std::size_t ThreadCount() const { return m_threads.size(); }

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    struct Slot {
        std::vector<std::uint8_t> buf; // allocated on first use
        BlockRef refs[kBatch];
        std::uint32_t len[kBatch];
        std::size_t count = 0;
        std::size_t batch = kNone; // batch held, ready for the consumer
        bool failed = false;
    };

    struct FileRef {
        const std::uint8_t* data;
        std::uint32_t size;
    };

    void Work();
    bool CompressBatch(BlockDeflater& deflater, Slot& slot);
    bool BatchAvailable() const;
    std::size_t TakeBlocks(BlockRef* refs, std::size_t most);

    std::vector<FileRef> m_files;
    std::size_t m_fileCursor = 0; // next block to hand out: file, and offset in it
    std::uint32_t m_posCursor = 0;
    std::size_t m_blocksAdded = 0;
    std::size_t m_blocksTaken = 0; // handed to workers (or, inline, compressed)
    bool m_finished = false;

    // Caller's-thread mode: one slot, filled a batch at a time as blocks are asked for.
    std::unique_ptr<BlockDeflater> m_inline;
    Slot m_inlineSlot;

    // Worker mode: a ring of slots; batch b goes to slot b % size once batch b - size has been
    // consumed, which bounds the memory to the ring whatever the image size. The ring is long
    // enough for the workers to run well ahead while the caller is still reading inputs.
    std::vector<Slot> m_slots;
    std::mutex m_mutex;
    std::condition_variable m_cvWork;  // a slot was released, blocks were added, or stop
    std::condition_variable m_cvReady; // a batch is ready
    std::size_t m_nextBatch = 0;       // next batch a worker takes
    std::size_t m_consumed = 0;        // batches below this one are released
    std::size_t m_current = kNone;     // batch the consumer reads from
    std::size_t m_waitingFor = kNone;  // batch the consumer sleeps on
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};
