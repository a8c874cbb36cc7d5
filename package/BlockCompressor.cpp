#include "BlockCompressor.h"

#include "RomImage.h"

#include <algorithm>
#include <system_error>

const std::size_t BlockCompressor::kSlotSize = compressBound(kRomBlockSize);

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

BlockCompressor::BlockCompressor(const std::vector<BlockRef>& blocks, unsigned nThreads) : m_blocks(blocks) {
    m_nBatches = (blocks.size() + kBatch - 1) / kBatch;
    if (nThreads == 0)
        nThreads = std::max(1u, std::thread::hardware_concurrency());
    if (nThreads > m_nBatches)
        nThreads = static_cast<unsigned>(m_nBatches);
    if (nThreads > 1) {
        // Enough batches ahead that the workers keep going while the consumer waits for a core.
        m_slots.resize(std::min<std::size_t>(m_nBatches, 8 * static_cast<std::size_t>(nThreads)));
        for (Slot& s : m_slots) {
            s.buf.resize(kBatch * kSlotSize);
            s.len.resize(kBatch);
        }
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
        m_inlineBuf.resize(kSlotSize);
    }
}

BlockCompressor::~BlockCompressor() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_cvSpace.notify_all();
    for (std::thread& t : m_threads)
        t.join();
}

bool BlockCompressor::Get(std::size_t i, const std::uint8_t*& data, std::size_t& len) {
    if (i >= m_blocks.size())
        return false;
    if (m_inline) {
        long n = m_inline->Compress(m_blocks[i], m_inlineBuf.data(), m_inlineBuf.size());
        if (n < 0)
            return false;
        data = m_inlineBuf.data();
        len = static_cast<std::size_t>(n);
        return true;
    }
    std::size_t batch = i / kBatch;
    Slot& slot = m_slots[batch % m_slots.size()];
    if (batch != m_current) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_current != kNone)
            m_consumed = m_current + 1;
        m_current = batch;
        m_cvSpace.notify_all();
        m_waitingFor = batch;
        m_cvReady.wait(lock, [&] { return slot.batch == batch; });
        m_waitingFor = kNone;
    }
    if (slot.failed)
        return false;
    std::size_t k = i % kBatch;
    data = slot.buf.data() + k * kSlotSize;
    len = slot.len[k];
    return true;
}

void BlockCompressor::Work() {
    BlockDeflater deflater;
    for (;;) {
        std::size_t batch;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cvSpace.wait(lock, [&] {
                return m_stop || m_nextBatch >= m_nBatches || m_nextBatch < m_consumed + m_slots.size();
            });
            if (m_stop || m_nextBatch >= m_nBatches)
                return;
            batch = m_nextBatch++;
        }
        // The slot is ours alone until we mark it ready: the consumer reads it only after that,
        // and no other worker takes its next batch before the consumer has released this one.
        Slot& slot = m_slots[batch % m_slots.size()];
        bool failed = false;
        std::size_t first = batch * kBatch;
        std::size_t end = std::min(first + kBatch, m_blocks.size());
        for (std::size_t i = first; i < end && !failed; ++i) {
            long n = deflater.Compress(m_blocks[i], slot.buf.data() + (i - first) * kSlotSize, kSlotSize);
            if (n < 0)
                failed = true;
            else
                slot.len[i - first] = static_cast<std::uint32_t>(n);
        }
        bool wanted;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            slot.failed = failed;
            slot.batch = batch;
            wanted = m_waitingFor == batch;
        }
        // Waking the consumer for a batch it does not wait for yet would only cost a switch.
        if (wanted)
            m_cvReady.notify_one();
    }
}
