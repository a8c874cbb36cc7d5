#include "package/BlockCompressor.h"

#include "package/RomImage.h"

#include <algorithm>
#include <new>
#include <system_error>

const std::size_t BlockCompressor::kSlotSize = compressBound(kRomBlockSize);

namespace {
// Batches the workers may run ahead of the consumer: 64 of 32 blocks is 8 MB of input, about
// what two cores compress while the rest of the inputs is being read.
constexpr std::size_t kMinRing = 64;
} // namespace

BlockDeflater::BlockDeflater() {
    m_ok = deflateInit(&m_stream, Z_DEFAULT_COMPRESSION) == Z_OK;
}

BlockDeflater::~BlockDeflater() {
    if (m_ok)
        deflateEnd(&m_stream);
}

long BlockDeflater::Compress(const BlockRef& block, std::uint8_t* dst, std::size_t cap) {
    if (!m_ok || deflateReset(&m_stream) != Z_OK)
        return -1;
    m_stream.next_in = const_cast<Bytef*>(block.src);
    m_stream.avail_in = block.len;
    m_stream.next_out = dst;
    m_stream.avail_out = static_cast<uInt>(cap);
    if (deflate(&m_stream, Z_FINISH) != Z_STREAM_END)
        return -1;
    return static_cast<long>(m_stream.total_out);
}

BlockCompressor::BlockCompressor(unsigned nThreads) {
    if (nThreads == 0)
        nThreads = std::max(1u, std::thread::hardware_concurrency());
    if (nThreads > 1) {
        m_slots.resize(std::max<std::size_t>(kMinRing, 8 * static_cast<std::size_t>(nThreads)));
        try {
            for (unsigned i = 0; i < nThreads; ++i)
                m_threads.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            // Fewer threads than asked (or none): the ones running, or the caller, do the work.
        }
    }
    if (m_threads.empty()) {
        m_slots.clear();
        m_inline = std::make_unique<BlockDeflater>();
    }
}

BlockCompressor::~BlockCompressor() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_cvWork.notify_all();
    for (std::thread& t : m_threads)
        t.join();
}

void BlockCompressor::AddFile(const std::uint8_t* data, std::uint32_t size) {
    if (size == 0)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_files.push_back({data, size});
        m_blocksAdded += (size - 1) / kRomBlockSize + 1;
    }
    m_cvWork.notify_all();
}

void BlockCompressor::Finish() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
    }
    m_cvWork.notify_all();
}

// Whether a whole batch can be handed out; a short one only once all files are in. Called with
// the lock held.
bool BlockCompressor::BatchAvailable() const {
    std::size_t left = m_blocksAdded - m_blocksTaken;
    return left >= kBatch || (m_finished && left > 0);
}

// Hands out the next blocks (at most most), walking the files in order. Called with the lock
// held (or on the caller's thread in inline mode).
std::size_t BlockCompressor::TakeBlocks(BlockRef* refs, std::size_t most) {
    std::size_t n = 0;
    while (n < most && m_fileCursor < m_files.size()) {
        const FileRef& f = m_files[m_fileCursor];
        refs[n++] = {f.data + m_posCursor, std::min<std::uint32_t>(kRomBlockSize, f.size - m_posCursor)};
        m_posCursor += kRomBlockSize;
        if (m_posCursor >= f.size) {
            ++m_fileCursor;
            m_posCursor = 0;
        }
    }
    m_blocksTaken += n;
    return n;
}

bool BlockCompressor::Get(std::size_t i, const std::uint8_t*& data, std::size_t& len) {
    std::size_t batch = i / kBatch;
    if (m_inline) {
        Slot& slot = m_inlineSlot;
        if (slot.batch != batch) {
            if (i != m_blocksTaken || i >= m_blocksAdded)
                return false;
            slot.count = TakeBlocks(slot.refs, kBatch);
            slot.failed = !CompressBatch(*m_inline, slot);
            slot.batch = batch;
        }
        std::size_t k = i % kBatch;
        if (slot.failed || k >= slot.count)
            return false;
        data = slot.buf.data() + k * kSlotSize;
        len = slot.len[k];
        return true;
    }
    Slot& slot = m_slots[batch % m_slots.size()];
    if (batch != m_current) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (i >= m_blocksAdded)
            return false;
        if (m_current != kNone)
            m_consumed = m_current + 1;
        m_current = batch;
        m_cvWork.notify_all();
        m_waitingFor = batch;
        m_cvReady.wait(lock, [&] { return slot.batch == batch; });
        m_waitingFor = kNone;
    }
    std::size_t k = i % kBatch;
    if (slot.failed || k >= slot.count)
        return false;
    data = slot.buf.data() + k * kSlotSize;
    len = slot.len[k];
    return true;
}

// Compresses the slot's blocks into its buffer; false when memory or zlib failed.
bool BlockCompressor::CompressBatch(BlockDeflater& deflater, Slot& slot) {
    try {
        if (slot.buf.empty())
            slot.buf.resize(kBatch * kSlotSize);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (std::size_t k = 0; k < slot.count; ++k) {
        long n = deflater.Compress(slot.refs[k], slot.buf.data() + k * kSlotSize, kSlotSize);
        if (n < 0)
            return false;
        slot.len[k] = static_cast<std::uint32_t>(n);
    }
    return true;
}

void BlockCompressor::Work() {
    BlockDeflater deflater;
    for (;;) {
        std::size_t batch;
        Slot* slot;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cvWork.wait(lock, [&] {
                return m_stop || (m_finished && m_blocksTaken == m_blocksAdded) ||
                       (m_nextBatch < m_consumed + m_slots.size() && BatchAvailable());
            });
            if (m_stop || !BatchAvailable())
                return;
            batch = m_nextBatch++;
            slot = &m_slots[batch % m_slots.size()];
            slot->count = TakeBlocks(slot->refs, kBatch);
        }
        // The slot is ours alone until we mark it ready: the consumer reads it only after that,
        // and no other worker takes its next batch before the consumer has released this one.
        bool failed = !CompressBatch(deflater, *slot);
        bool wanted;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            slot->failed = failed;
            slot->batch = batch;
            wanted = m_waitingFor == batch;
        }
        // Waking the consumer for a batch it does not wait for yet would only cost a switch.
        if (wanted)
            m_cvReady.notify_one();
    }
}
