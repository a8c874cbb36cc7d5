// The socket object's receive buffers and the cutting of a TCP byte stream into framed packets.
// Kept apart from the socket so that framing can be tested over an in-memory stream.
#pragma once

#include <cerrno>
#include <cstdint>
#include <memory>
#include <sys/types.h>

namespace Zorvik {

// A linear buffer: unread bytes lie between the read position and the end of the block, and new
// bytes are written after them into the tail.
class CByteBuffer {
public:
    CByteBuffer() = default;
    CByteBuffer(const CByteBuffer&) = delete;
    CByteBuffer& operator=(const CByteBuffer&) = delete;
    virtual ~CByteBuffer() = default;

    // Replaces any old block with one of `size` bytes, empty. False for size 0 or no memory.
    bool Allocate(uint32_t size);
    // Releases the block.
    void Free();
    // Forgets the unread bytes.
    void Reset();
    // Moves the unread bytes to the start of the block.
    void Compact();
    // Free bytes at the tail, optionally after compacting.
    uint32_t FreeSpace(bool compactFirst);
    // Where new bytes go, with the room there in `size`; null when there is no room.
    uint8_t* WriteSpace(uint32_t& size, bool compactFirst);
    // Adds `n` bytes written at WriteSpace to the unread ones (cut down to the room there was).
    void Commit(uint32_t n);
    // The unread bytes and their count; null when there are none.
    const uint8_t* ReadData(uint32_t& count) const;
    // Drops the first `n` unread bytes (cut down to the unread count), optionally compacting after.
    void Consume(uint32_t n, bool compactAfter);

    uint32_t Capacity() const { return m_nCapacity; }
    bool IsAllocated() const { return m_pStorage != nullptr; }
    uint32_t UnreadCount() const { return m_nUnread; }

private:
    std::unique_ptr<uint8_t[]> m_pStorage;
    uint32_t m_nCapacity = 0;
    uint8_t* m_pRead = nullptr;
    uint32_t m_nUnread = 0;
};

// A receive buffer that also knows whether its stream is in step, that is whether the next
// unread byte starts a packet header.
class CRecvBuffer : public CByteBuffer {
public:
    bool InSync() const { return m_bInSync; }
    void SetInSync(bool inSync) { m_bInSync = inSync; }

private:
    bool m_bInSync = true;
};

// Framing of the TCP stream: a 32-byte header whose bytes 4 to 7 hold the payload length,
// little-endian, then the payload.
inline constexpr uint32_t kFrameHeaderSize = 32;
inline constexpr uint32_t kFrameLengthOffset = 4;
inline constexpr uint32_t kMaxFramePayload = 4096;

inline uint32_t FramePayloadLength(const uint8_t* header) {
    const uint8_t* p = header + kFrameLengthOffset;
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Hands every complete packet in `buffer` to onPacket(pointer, 32 + L), in order, consuming each
// without compacting, so the bytes stay in place for the rest of the step. A header announcing more
// than 4096 payload bytes throws every unread byte away and returns false: the stream is out of
// step. Otherwise true.
template <class OnPacket> bool CutPackets(CRecvBuffer& buffer, OnPacket&& onPacket) {
    uint32_t unread = 0;
    while (const uint8_t* p = buffer.ReadData(unread)) {
        if (unread < kFrameHeaderSize) {
            return true;
        }
        const uint32_t payload = FramePayloadLength(p);
        if (payload > kMaxFramePayload) {
            buffer.Reset();
            return false;
        }
        if (unread < kFrameHeaderSize + payload) {
            return true;
        }
        onPacket(p, kFrameHeaderSize + payload);
        buffer.Consume(kFrameHeaderSize + payload, false);
    }
    return true;
}

enum class StreamRead {
    Data,    // new bytes were committed to the buffer: cut them
    Nothing, // nothing to cut (no bytes, or bytes thrown away while out of step)
    Closed,  // the peer closed the stream, or reading it failed for good
};

// Reads from the stream into `buffer`. read(destination, size) behaves like a non-blocking recv():
// a count, 0 at the end of the stream, or -1 with errno set.
//
// In step: one read into the tail, after compacting. Out of step: reads and throws away until the
// stream is empty (would-block), at most `maxDrainReads` times per call; then the stream is in step
// again and the next bytes to arrive start a new packet.
template <class Read> StreamRead ReadStream(CRecvBuffer& buffer, Read&& read, int maxDrainReads = 64) {
    uint32_t room = 0;
    uint8_t* space = buffer.WriteSpace(room, true);
    if (space == nullptr) {
        return StreamRead::Nothing;
    }
    const int reads = buffer.InSync() ? 1 : maxDrainReads;
    for (int i = 0; i < reads; ++i) {
        const ssize_t n = read(space, static_cast<size_t>(room));
        if (n > 0) {
            if (!buffer.InSync()) {
                continue; // thrown away
            }
            buffer.Commit(static_cast<uint32_t>(n));
            return StreamRead::Data;
        }
        if (n == 0) {
            return StreamRead::Closed;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            buffer.SetInSync(true);
            return StreamRead::Nothing;
        }
        if (errno != EINTR) {
            return StreamRead::Closed;
        }
    }
    return StreamRead::Nothing;
}

} // namespace Zorvik
