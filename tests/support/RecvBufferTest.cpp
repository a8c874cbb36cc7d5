// The receive buffer and the framing of the TCP stream, over an in-memory stream whose reads are
// scripted exactly, so that every split of the stream is tested deterministically.
#include "support/RecvBuffer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <vector>

using namespace Zorvik;

namespace {

using Bytes = std::vector<uint8_t>;

// A packet: header with payload length `payload` at bytes 4..7 (little-endian), first byte `tag`,
// then `payload` bytes of `fill`.
Bytes Packet(uint8_t tag, uint32_t payload, uint8_t fill = 0x5A) {
    Bytes b(32, 0);
    b.resize(32 + payload, fill);
    b[0] = tag;
    b[4] = static_cast<uint8_t>(payload);
    b[5] = static_cast<uint8_t>(payload >> 8);
    b[6] = static_cast<uint8_t>(payload >> 16);
    b[7] = static_cast<uint8_t>(payload >> 24);
    return b;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

// A stream of scripted reads: each entry is the bytes one read returns, or an error number.
struct Script {
    struct Step {
        Bytes bytes;
        int error = 0; // set: the read fails with it
    };
    std::deque<Step> steps;
    int reads = 0;

    Script& Data(Bytes b) {
        steps.push_back({std::move(b), 0});
        return *this;
    }
    Script& Fail(int error) {
        steps.push_back({{}, error});
        return *this;
    }
    Script& End() { return Data({}); }

    ssize_t operator()(void* into, size_t room) {
        ++reads;
        if (steps.empty()) {
            errno = EAGAIN;
            return -1;
        }
        Step& s = steps.front();
        if (s.error != 0) {
            errno = s.error;
            steps.pop_front();
            return -1;
        }
        const size_t n = std::min(room, s.bytes.size());
        if (n > 0) {
            std::memcpy(into, s.bytes.data(), n);
        }
        s.bytes.erase(s.bytes.begin(), s.bytes.begin() + static_cast<long>(n));
        if (s.bytes.empty()) {
            steps.pop_front();
        }
        return static_cast<ssize_t>(n);
    }
};

// Runs read steps the way the receive thread does and collects the packets handed out.
struct Receiver {
    CRecvBuffer buffer;
    std::vector<Bytes> packets;
    std::vector<const uint8_t*> where;

    Receiver() { EXPECT_TRUE(buffer.Allocate(16384)); }

    StreamRead Step(Script& script) {
        const StreamRead r = ReadStream(buffer, std::ref(script));
        if (r == StreamRead::Data) {
            buffer.SetInSync(CutPackets(buffer, [this](const uint8_t* p, uint32_t length) {
                packets.emplace_back(p, p + length);
                where.push_back(p);
            }));
        }
        return r;
    }
};

} // namespace

TEST(ByteBuffer, AllocateWriteCommitReadConsumeCompact) {
    CByteBuffer b;
    EXPECT_FALSE(b.IsAllocated());
    uint32_t size = 99;
    EXPECT_EQ(b.WriteSpace(size, true), nullptr);
    EXPECT_EQ(b.FreeSpace(true), 0u);
    EXPECT_FALSE(b.Allocate(0));

    ASSERT_TRUE(b.Allocate(16));
    EXPECT_EQ(b.Capacity(), 16u);
    EXPECT_EQ(b.FreeSpace(false), 16u);
    uint32_t count = 0;
    EXPECT_EQ(b.ReadData(count), nullptr);

    uint8_t* w = b.WriteSpace(size, false);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(size, 16u);
    for (uint8_t i = 0; i < 10; ++i) {
        w[i] = i;
    }
    b.Commit(10);
    b.Commit(0);
    const uint8_t* r = b.ReadData(count);
    ASSERT_EQ(r, w);
    EXPECT_EQ(count, 10u);

    b.Consume(4, false); // no compaction: the rest stays in place
    r = b.ReadData(count);
    EXPECT_EQ(r, w + 4);
    EXPECT_EQ(count, 6u);
    EXPECT_EQ(*r, 4);
    EXPECT_EQ(b.FreeSpace(false), 6u);

    EXPECT_EQ(b.FreeSpace(true), 10u); // compacting moves the six bytes to the front
    r = b.ReadData(count);
    EXPECT_EQ(r, w);
    EXPECT_EQ(count, 6u);
    EXPECT_EQ(r[0], 4);
    EXPECT_EQ(r[5], 9);

    w = b.WriteSpace(size, false);
    EXPECT_EQ(size, 10u);
    b.Commit(50); // cut down to the room there is
    EXPECT_EQ(b.UnreadCount(), 16u);
    EXPECT_EQ(b.WriteSpace(size, true), nullptr);

    b.Consume(100, true); // cut down to what is unread
    EXPECT_EQ(b.UnreadCount(), 0u);
    EXPECT_EQ(b.FreeSpace(false), 16u);

    b.Commit(3);
    b.Reset();
    EXPECT_EQ(b.ReadData(count), nullptr);
    b.Free();
    EXPECT_FALSE(b.IsAllocated());
    EXPECT_EQ(b.Capacity(), 0u);
}

TEST(Framing, HeaderSplitAcrossReadsYieldsOnePacketAfterTheSecondPiece) {
    const Bytes p = Packet(1, 10);
    Receiver rx;
    Script s;
    s.Data(Bytes(p.begin(), p.begin() + 20)).Data(Bytes(p.begin() + 20, p.end()));
    EXPECT_EQ(rx.Step(s), StreamRead::Data);
    EXPECT_TRUE(rx.packets.empty());
    EXPECT_EQ(rx.Step(s), StreamRead::Data);
    ASSERT_EQ(rx.packets.size(), 1u);
    EXPECT_EQ(rx.packets[0].size(), 42u);
    EXPECT_EQ(rx.packets[0], p);
}

TEST(Framing, PayloadSplitByteByByte) {
    const Bytes p = Packet(2, 7, 0x11);
    Receiver rx;
    Script s;
    for (uint8_t byte : p) {
        s.Data({byte});
    }
    for (size_t i = 0; i < p.size(); ++i) {
        EXPECT_EQ(rx.Step(s), StreamRead::Data);
        EXPECT_EQ(rx.packets.size(), i + 1 == p.size() ? 1u : 0u);
    }
    EXPECT_EQ(rx.packets.at(0), p);
}

TEST(Framing, PacketsJoinedInOneReadComeOutInOrderInPlace) {
    const Bytes a = Packet(1, 0), b = Packet(2, 10), c = Packet(3, 5);
    Receiver rx;
    Script s;
    s.Data(Join({a, b, c, Bytes(c.begin(), c.begin() + 3)})); // and 3 bytes of a fourth
    EXPECT_EQ(rx.Step(s), StreamRead::Data);
    ASSERT_EQ(rx.packets.size(), 3u);
    EXPECT_EQ(rx.packets[0], a);
    EXPECT_EQ(rx.packets[1], b);
    EXPECT_EQ(rx.packets[2], c);
    // Not copied and not moved between the packets of one step.
    EXPECT_EQ(rx.where[1], rx.where[0] + a.size());
    EXPECT_EQ(rx.where[2], rx.where[1] + b.size());
    EXPECT_EQ(rx.buffer.UnreadCount(), 3u);

    s.Data(Bytes(c.begin() + 3, c.end()));
    EXPECT_EQ(rx.Step(s), StreamRead::Data);
    ASSERT_EQ(rx.packets.size(), 4u);
    EXPECT_EQ(rx.packets[3], c);
}

TEST(Framing, LargestPayloadIsAcceptedAndOneMoreThrowsTheStreamOutOfStep) {
    const Bytes largest = Packet(7, 4096, 0x33);
    Receiver rx;
    Script s;
    s.Data(largest);
    while (rx.packets.empty() && rx.Step(s) == StreamRead::Data) {
    }
    ASSERT_EQ(rx.packets.size(), 1u);
    EXPECT_EQ(rx.packets[0].size(), 4128u);
    EXPECT_EQ(rx.packets[0], largest);

    // 4097: everything buffered goes, including a good packet behind it in the same read.
    const Bytes good = Packet(8, 3);
    Receiver bad;
    Script t;
    t.Data(Join({Packet(9, 4097), good}));
    EXPECT_EQ(bad.Step(t), StreamRead::Data);
    EXPECT_TRUE(bad.packets.empty());
    EXPECT_FALSE(bad.buffer.InSync());
    EXPECT_EQ(bad.buffer.UnreadCount(), 0u);
}

TEST(Framing, OutOfStepStreamIsReadEmptyOnceThenTakenAsANewPacket) {
    const Bytes good = Packet(4, 2, 0x77);
    Receiver rx;
    Script s;
    s.Data(Packet(9, 5000)).Data(Bytes(100, 0xEE)).Data(Bytes(40, 0xEF)).Fail(EAGAIN).Data(good);
    EXPECT_EQ(rx.Step(s), StreamRead::Data); // the bad header
    EXPECT_FALSE(rx.buffer.InSync());
    EXPECT_EQ(rx.Step(s), StreamRead::Nothing); // reads and drops until would-block
    EXPECT_TRUE(rx.buffer.InSync());
    EXPECT_EQ(s.reads, 4);
    EXPECT_EQ(rx.Step(s), StreamRead::Data);
    ASSERT_EQ(rx.packets.size(), 1u);
    EXPECT_EQ(rx.packets[0], good);
}

TEST(Framing, DrainingIsBoundedPerStepAndStaysOutOfStepWhileDataKeepsComing) {
    Receiver rx;
    Script s;
    s.Data(Packet(9, 4097));
    for (int i = 0; i < 70; ++i) {
        s.Data(Bytes(10, 1));
    }
    EXPECT_EQ(rx.Step(s), StreamRead::Data);
    EXPECT_EQ(rx.Step(s), StreamRead::Nothing);
    EXPECT_EQ(s.reads, 1 + 64);
    EXPECT_FALSE(rx.buffer.InSync());
    EXPECT_EQ(rx.Step(s), StreamRead::Nothing); // six more, then would-block
    EXPECT_TRUE(rx.buffer.InSync());
    EXPECT_TRUE(rx.packets.empty());
}

TEST(Framing, EndOfStreamAndErrorsAreReportedAsClosedAndInterruptionsAreNot) {
    Receiver rx;
    Script s;
    s.Fail(EINTR).Fail(EAGAIN).End();
    EXPECT_EQ(rx.Step(s), StreamRead::Nothing);
    EXPECT_EQ(rx.Step(s), StreamRead::Nothing);
    EXPECT_EQ(rx.Step(s), StreamRead::Closed);

    Receiver reset;
    Script t;
    t.Data(Bytes(10, 0)).Fail(ECONNRESET);
    EXPECT_EQ(reset.Step(t), StreamRead::Data);
    EXPECT_EQ(reset.Step(t), StreamRead::Closed);

    Receiver draining;
    Script u;
    u.Data(Packet(1, 9999)).Data(Bytes(5, 0)).End();
    EXPECT_EQ(draining.Step(u), StreamRead::Data);
    EXPECT_EQ(draining.Step(u), StreamRead::Closed);
}
