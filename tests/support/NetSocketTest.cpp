// The socket object for real on 127.0.0.1: connecting, framing, sending, closing and the object's
// self-deletion on its receive thread. Every wait is on a condition, never a sleep.
#include "tests/support/SocketTestKit.h"

#include "support/Exceptions.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>

using namespace Zorvik;
using namespace sockettest;

namespace {

class NetSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CNetSocketCore::LiveObjects(), 0);
        ASSERT_TRUE(CreateNetSocket(&owner, &socket));
        ASSERT_NE(socket, nullptr);
    }
    void TearDown() override {
        ReleaseNetSocket(socket);
        EXPECT_TRUE(AllSocketsGone()) << "a released socket object was not deleted";
    }
    // Connects the object to `listener` and returns the accepted peer.
    Fd ConnectTo(const Listener& listener) {
        EXPECT_TRUE(socket->Connect("127.0.0.1", listener.Port(), 2000));
        EXPECT_TRUE(socket->IsConnected());
        return listener.Accept();
    }

    RecordingOwner owner;
    CNetSocket* socket = nullptr;
};

} // namespace

TEST(NetSocketLifecycle, CreateRefusesNullOwnerAndLeavesThePointer) {
    RecordingOwner owner;
    auto* sentinel = reinterpret_cast<CNetSocket*>(0x1234);
    CNetSocket* out = sentinel;
    EXPECT_FALSE(CreateNetSocket(nullptr, &out));
    EXPECT_EQ(out, sentinel);
    EXPECT_FALSE(CreateNetSocket(&owner, nullptr));
    EXPECT_EQ(CNetSocketCore::LiveObjects(), 0);

    CNetSocket* none = nullptr;
    ReleaseNetSocket(none); // nothing to release, nothing happens
    EXPECT_EQ(none, nullptr);
}

TEST(NetSocketLifecycle, ReleaseClearsThePointerAndTheObjectDeletesItself) {
    RecordingOwner owner;
    CNetSocket* a = nullptr;
    CNetSocket* b = nullptr;
    ASSERT_TRUE(CreateNetSocket(&owner, &a));
    ASSERT_TRUE(CreateNetSocket(&owner, &b));
    EXPECT_EQ(CNetSocketCore::LiveObjects(), 2);
    EXPECT_FALSE(a->IsConnected());
    EXPECT_FALSE(a->IsMulticastOpen());
    ReleaseNetSocket(a);
    EXPECT_EQ(a, nullptr);
    EXPECT_TRUE(CNetSocketCore::WaitForLiveObjects(1, kPatienceMs));
    ReleaseNetSocket(b);
    EXPECT_TRUE(AllSocketsGone());
    EXPECT_EQ(owner.Closes(), 0);
}

TEST_F(NetSocketTest, ConnectRefusesBadAddressesWithoutConnecting) {
    Listener listener;
    EXPECT_FALSE(socket->Connect(nullptr, listener.Port(), 500));
    EXPECT_FALSE(socket->Connect("255.255.255.255", listener.Port(), 500));
    EXPECT_FALSE(socket->Connect("localhost", listener.Port(), 500)); // no name lookup
    EXPECT_FALSE(socket->Connect("127.0.0.1.5", listener.Port(), 500));
    EXPECT_FALSE(socket->Connect("", listener.Port(), 500));
    EXPECT_FALSE(socket->Connect("127.0.0.1", 0, 500));
    EXPECT_FALSE(socket->Connect("127.0.0.1", 70000, 500));
    EXPECT_FALSE(socket->IsConnected());
    // Nothing reached the listener.
    pollfd p{listener.Get(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);
}

TEST_F(NetSocketTest, ConnectToARefusingPortFailsWhenTheRefusalArrives) {
    int port = 0;
    {
        Listener closed; // bound, then closed: nobody listens on its port any more
        port = closed.Port();
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(socket->Connect("127.0.0.1", port, 20000));
    EXPECT_LT(ElapsedMs(start), 20000u) << "waited for the limit instead of the refusal";
    EXPECT_FALSE(socket->IsConnected());
}

TEST_F(NetSocketTest, ConnectWhereNobodyAnswersFailsAfterTheLimit) {
    // A listener with a full accept queue drops further connection requests unanswered.
    Listener listener(0);
    std::vector<Fd> fillers;
    for (int i = 0; i < 8; ++i) {
        Fd f(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(listener.Port()));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(f.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
        pollfd p{f.Get(), POLLOUT, 0};
        const bool answered = ::poll(&p, 1, 300) == 1;
        fillers.push_back(std::move(f));
        if (!answered) {
            break; // the queue is full now
        }
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(socket->Connect("127.0.0.1", listener.Port(), 400));
    EXPECT_GE(ElapsedMs(start), 400u);
    EXPECT_FALSE(socket->IsConnected());
}

TEST_F(NetSocketTest, ConnectWhileConnectedFailsAndKeepsTheConnection) {
    Listener listener;
    Fd peer = ConnectTo(listener);
    ASSERT_TRUE(peer);
    EXPECT_FALSE(socket->Connect("127.0.0.1", listener.Port(), 500));
    EXPECT_TRUE(socket->IsConnected());
    const Bytes p = Packet(1, 4);
    EXPECT_TRUE(socket->Send(p.data(), static_cast<uint32_t>(p.size()), 3000));
    EXPECT_EQ(peer.ReadExactly(p.size()), p);
}

TEST_F(NetSocketTest, PacketsArriveWholeWhetherSplitOrJoined) {
    Listener listener;
    Fd peer = ConnectTo(listener);
    peer.NoDelay();
    const Bytes a = Packet(1, 10), b = Packet(2, 0), c = Packet(3, 300, 0x42), d = Packet(4, 1);
    ASSERT_TRUE(peer.SendAll(Bytes(a.begin(), a.begin() + 20)));
    ASSERT_TRUE(peer.SendAll(Bytes(a.begin() + 20, a.end())));
    ASSERT_TRUE(owner.WaitForPackets(1));
    Bytes joined = b;
    joined.insert(joined.end(), c.begin(), c.end());
    ASSERT_TRUE(peer.SendAll(joined));
    for (uint8_t byte : d) {
        ASSERT_TRUE(peer.SendAll({byte}));
    }
    ASSERT_TRUE(owner.WaitForPackets(4));
    const auto packets = owner.Packets();
    ASSERT_EQ(packets.size(), 4u);
    EXPECT_EQ(packets[0].bytes, a);
    EXPECT_EQ(packets[0].bytes.size(), 42u);
    EXPECT_EQ(packets[1].bytes, b);
    EXPECT_EQ(packets[2].bytes, c);
    EXPECT_EQ(packets[3].bytes, d);
    for (const auto& p : packets) {
        EXPECT_NE(p.thread, std::this_thread::get_id()) << "callbacks come on the receive thread";
    }
    EXPECT_EQ(owner.Sender(), socket);
}

TEST_F(NetSocketTest, LargestPacketIsAcceptedAndAnOversizedHeaderIsDroppedUntilResynchronised) {
    Listener listener;
    Fd peer = ConnectTo(listener);
    const Bytes largest = Packet(5, 4096, 0x61);
    ASSERT_TRUE(peer.SendAll(largest));
    ASSERT_TRUE(owner.WaitForPackets(1));
    EXPECT_EQ(owner.Packets()[0].bytes.size(), 4128u);
    EXPECT_EQ(owner.Packets()[0].bytes, largest);

    // A header announcing 4097 bytes throws the stream out of step. Once the receiver has read the
    // socket empty the next bytes start a packet again; a packet sent while it is still emptying
    // is thrown away with the rest, so good packets are sent until one comes through.
    ASSERT_TRUE(peer.SendAll(Packet(6, 4097)));
    bool through = false;
    for (uint8_t attempt = 0; attempt < 50 && !through; ++attempt) {
        ASSERT_TRUE(peer.SendAll(Packet(7, 8, attempt)));
        through = owner.WaitForPackets(2, 200);
    }
    ASSERT_TRUE(through);
    const auto packets = owner.Packets();
    for (size_t i = 1; i < packets.size(); ++i) {
        ASSERT_EQ(packets[i].bytes.size(), 40u);
        EXPECT_EQ(packets[i].bytes[0], 7); // only whole good packets, never the oversized one
    }
}

TEST_F(NetSocketTest, SendOfNothingSucceedsAndSendWithoutConnectionFailsWithOnClose) {
    const uint8_t byte = 1;
    uint32_t sent = 99;
    EXPECT_TRUE(socket->Send(&byte, 0, 100, &sent));
    EXPECT_EQ(sent, 0u);
    EXPECT_EQ(owner.Closes(), 0);
    sent = 99;
    EXPECT_FALSE(socket->Send(&byte, 1, 100, &sent));
    EXPECT_EQ(sent, 0u);
    EXPECT_EQ(owner.Closes(), 1);
    EXPECT_EQ(owner.CloseThreads().at(0), std::this_thread::get_id()); // on the sending thread
}

TEST_F(NetSocketTest, SendToAPeerThatStopsReadingTimesOutWithoutOnClose) {
    Listener listener;
    Fd peer = ConnectTo(listener);
    const int small = 4096;
    ::setsockopt(peer.Get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    const Bytes big(16 << 20, 0x3C); // far more than both socket buffers hold
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(socket->Send(big.data(), static_cast<uint32_t>(big.size()), 300));
    EXPECT_GE(ElapsedMs(start), 300u);
    EXPECT_EQ(owner.Closes(), 0);
    EXPECT_TRUE(socket->IsConnected());
}

// A time-out that strikes part-way leaves the bytes already handed out on their way to the peer.
// The count tells the caller where to go on, so that the peer reads every byte once, in order.
TEST_F(NetSocketTest, SendCutShortByItsLimitTellsHowFarItGotAndTheRestFollowsInStep) {
    Listener listener;
    Fd peer = ConnectTo(listener);
    // A fixed receive buffer bounds what the connection can hold, so that the big packet cannot
    // all go out; it is still several segments, so that the reading later is not held up by
    // window probes as with a tiny one.
    const int bounded = 256 * 1024;
    ::setsockopt(peer.Get(), SOL_SOCKET, SO_RCVBUF, &bounded, sizeof bounded);
    const Bytes first = Packet(1, 100, 0x11);
    const Bytes last = Packet(3, 100, 0x33);
    Bytes big = Packet(2, 16 << 20); // far more than both socket buffers hold
    for (size_t i = 32; i < big.size(); ++i) {
        // No short period: a repeated stretch of the stream cannot line up with the original.
        big[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    }
    const auto bigSize = static_cast<uint32_t>(big.size());

    uint32_t sent = 0;
    ASSERT_TRUE(socket->Send(first.data(), static_cast<uint32_t>(first.size()), 3000, &sent));
    EXPECT_EQ(sent, first.size());

    // The peer does not read: the big packet is cut short, twice.
    uint32_t offset = 0;
    ASSERT_FALSE(socket->Send(big.data(), bigSize, 200, &sent));
    ASSERT_GT(sent, 0u);
    ASSERT_LT(sent, bigSize);
    offset += sent;
    sent = bigSize;
    ASSERT_FALSE(socket->Send(big.data() + offset, bigSize - offset, 50, &sent));
    ASSERT_LT(sent, bigSize - offset);
    offset += sent;
    EXPECT_EQ(owner.Closes(), 0) << "a time-out is no failure of the connection";

    // The peer reads again; the sender goes on from where the cut fell, then sends the next packet.
    Bytes expected = first;
    expected.insert(expected.end(), big.begin(), big.end());
    expected.insert(expected.end(), last.begin(), last.end());
    Bytes received;
    std::thread reader([&] { received = peer.ReadExactly(expected.size()); });
    EXPECT_TRUE(socket->Send(big.data() + offset, bigSize - offset, 60000, &sent));
    EXPECT_EQ(sent, bigSize - offset);
    EXPECT_TRUE(socket->Send(last.data(), static_cast<uint32_t>(last.size()), 60000));
    reader.join();

    ASSERT_EQ(received.size(), expected.size());
    const auto diverge = std::mismatch(received.begin(), received.end(), expected.begin());
    EXPECT_TRUE(diverge.first == received.end())
        << "the stream differs from what was sent at byte " << (diverge.first - received.begin());
}

TEST_F(NetSocketTest, ConcurrentSendsAreNeverInterleaved) {
    Listener listener;
    Fd peer = ConnectTo(listener);
    constexpr int kPerThread = 300;
    auto sender = [&](uint8_t tag) {
        const Bytes p = Packet(tag, 1024, tag);
        for (int i = 0; i < kPerThread; ++i) {
            EXPECT_TRUE(socket->Send(p.data(), static_cast<uint32_t>(p.size()), 5000));
        }
    };
    std::thread one(sender, uint8_t{0xA1}), two(sender, uint8_t{0xB2});
    int seen[2] = {0, 0};
    for (int i = 0; i < 2 * kPerThread; ++i) {
        const Bytes p = peer.ReadExactly(1056);
        ASSERT_EQ(p.size(), 1056u);
        const uint8_t tag = p[0];
        ASSERT_TRUE(tag == 0xA1 || tag == 0xB2);
        for (size_t k = 32; k < p.size(); ++k) {
            ASSERT_EQ(p[k], tag) << "packet " << i << " mixes two senders";
        }
        ++seen[tag == 0xA1 ? 0 : 1];
    }
    one.join();
    two.join();
    EXPECT_EQ(seen[0], kPerThread);
    EXPECT_EQ(seen[1], kPerThread);
}

TEST_F(NetSocketTest, SendAfterThePeerIsGoneFailsWithOnCloseAndNoSignal) {
    Listener listener;
    Fd peer = ConnectTo(listener);
    peer.Reset(); // orderly close; our next sends meet a reset (and would raise SIGPIPE unguarded)
    ASSERT_TRUE(owner.WaitFor([](const RecordingOwner& o) { return o.m_closes >= 1; }));
    const Bytes p = Packet(1, 100);
    bool failed = false;
    for (int i = 0; i < 100 && !failed; ++i) {
        failed = !socket->Send(p.data(), static_cast<uint32_t>(p.size()), 1000);
    }
    ASSERT_TRUE(failed);
    const auto threads = owner.CloseThreads();
    ASSERT_EQ(threads.size(), 2u); // the peer's close on the receive thread, then the failed send
    EXPECT_EQ(threads[1], std::this_thread::get_id());
}

TEST_F(NetSocketTest, PeerCloseIsReportedOnceAndTheSocketStaysHeldUntilDisconnect) {
    Listener listener;
    Fd peer = ConnectTo(listener);
    const Bytes last = Packet(9, 3);
    ASSERT_TRUE(peer.SendAll(last));
    peer.Reset();
    ASSERT_TRUE(owner.WaitFor([](const RecordingOwner& o) { return o.m_closes >= 1; }));
    EXPECT_TRUE(socket->IsConnected());
    ASSERT_EQ(owner.Packets().size(), 1u); // data before the close still arrives
    EXPECT_EQ(owner.Packets()[0].bytes, last);
    EXPECT_NE(owner.CloseThreads().at(0), std::this_thread::get_id());

    // A thread that kept seeing the closed socket would report it again and again; the count is
    // taken after the object is gone, so every report it ever made is in it.
    ReleaseNetSocket(socket);
    ASSERT_TRUE(AllSocketsGone());
    EXPECT_EQ(owner.Closes(), 1);
}

TEST_F(NetSocketTest, DisconnectClosesWithoutCallbackAndANewConnectionStartsClean) {
    Listener listener;
    Fd first = ConnectTo(listener);
    const Bytes a = Packet(1, 2);
    Bytes partial = a;
    partial.insert(partial.end(), 20, 0x99); // a packet and the first 20 bytes of another
    ASSERT_TRUE(first.SendAll(partial));
    ASSERT_TRUE(owner.WaitForPackets(1));

    socket->Disconnect();
    EXPECT_FALSE(socket->IsConnected());
    EXPECT_NE(first.WaitForClose(), ETIMEDOUT);
    socket->Disconnect(); // nothing held: nothing happens

    Fd second = ConnectTo(listener);
    const Bytes b = Packet(2, 12, 0x21);
    ASSERT_TRUE(second.SendAll(b));
    ASSERT_TRUE(owner.WaitForPackets(2));
    EXPECT_EQ(owner.Packets()[1].bytes, b) << "bytes of the old connection leaked into the new one";
    EXPECT_EQ(owner.Closes(), 0);
}

TEST_F(NetSocketTest, AttachTakesOverAConnectedSocket) {
    EXPECT_FALSE(socket->Attach(-1));
    Listener listener;
    Fd mine = ConnectPlain(listener.Port());
    Fd peer = listener.Accept();
    ASSERT_TRUE(mine && peer);
    ASSERT_TRUE(socket->Attach(mine.Release()));
    EXPECT_TRUE(socket->IsConnected());

    Fd other = ConnectPlain(listener.Port());
    EXPECT_FALSE(socket->Attach(other.Get())); // already holding one; the caller keeps its own

    const Bytes p = Packet(3, 5);
    ASSERT_TRUE(peer.SendAll(p));
    ASSERT_TRUE(owner.WaitForPackets(1));
    EXPECT_EQ(owner.Packets()[0].bytes, p);
    EXPECT_TRUE(socket->Send(p.data(), static_cast<uint32_t>(p.size()), 1000));
    EXPECT_EQ(peer.ReadExactly(p.size()), p);
}

TEST_F(NetSocketTest, ReleaseResetsTheConnection) {
    Listener listener;
    Fd peer = ConnectTo(listener);
    ReleaseNetSocket(socket);
    EXPECT_EQ(peer.WaitForClose(), ECONNRESET);
}

TEST_F(NetSocketTest, DisconnectFromInsideOnPacketStillHandsOutTheBufferedPackets) {
    Listener listener;
    Fd peer = ConnectTo(listener);
    owner.onPacket = [](CNetSocket* sender, const Bytes& p) {
        if (p[0] == 1) {
            sender->Disconnect();
        }
    };
    ASSERT_TRUE(peer.SendAll([] {
        Bytes all;
        for (uint8_t tag = 1; tag <= 3; ++tag) {
            const Bytes p = Packet(tag, 4);
            all.insert(all.end(), p.begin(), p.end());
        }
        return all;
    }()));
    ASSERT_TRUE(owner.WaitForPackets(3));
    EXPECT_EQ(owner.Packets()[2].bytes[0], 3);
    EXPECT_FALSE(socket->IsConnected());
    EXPECT_NE(peer.WaitForClose(), ETIMEDOUT);
    EXPECT_EQ(owner.Closes(), 0);
}

TEST_F(NetSocketTest, ReleaseFromInsideOnPacketHandsOutTheRestThenDeletes) {
    Listener listener;
    Fd peer = ConnectTo(listener);
    owner.onPacket = [](CNetSocket* sender, const Bytes& p) {
        if (p[0] == 1) {
            sender->Disconnect();
            CNetSocket* mine = sender;
            ReleaseNetSocket(mine);
        }
    };
    Bytes all;
    for (uint8_t tag = 1; tag <= 3; ++tag) {
        const Bytes p = Packet(tag, 4);
        all.insert(all.end(), p.begin(), p.end());
    }
    ASSERT_TRUE(peer.SendAll(all));
    socket = nullptr; // released by the callback; this thread must not touch it any more
    ASSERT_TRUE(AllSocketsGone());
    const auto packets = owner.Packets();
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[1].bytes[0], 2);
    EXPECT_EQ(packets[2].bytes[0], 3);
}

TEST_F(NetSocketTest, ReleaseWhileTheReceiveThreadIsInsideACallback) {
    Listener listener;
    Fd peer = ConnectTo(listener);
    std::mutex gateLock;
    std::condition_variable gateChanged;
    bool inside = false, open = false;
    owner.onPacket = [&](CNetSocket*, const Bytes&) {
        std::unique_lock lock(gateLock);
        inside = true;
        gateChanged.notify_all();
        gateChanged.wait(lock, [&] { return open; });
    };
    ASSERT_TRUE(peer.SendAll(Packet(1, 0)));
    {
        std::unique_lock lock(gateLock);
        ASSERT_TRUE(
            gateChanged.wait_for(lock, std::chrono::milliseconds(kPatienceMs), [&] { return inside; }));
    }
    ReleaseNetSocket(socket);
    EXPECT_EQ(socket, nullptr);
    EXPECT_EQ(CNetSocketCore::LiveObjects(), 1); // still inside the callback
    {
        std::lock_guard lock(gateLock);
        open = true;
    }
    gateChanged.notify_all();
    ASSERT_TRUE(AllSocketsGone());
    EXPECT_EQ(peer.WaitForClose(), ECONNRESET);
}

TEST_F(NetSocketTest, DisconnectWhileAnotherThreadIsBlockedInSend) {
    Listener listener;
    Fd peer = ConnectTo(listener);
    const int small = 4096;
    ::setsockopt(peer.Get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    const Bytes big(16 << 20, 0x11); // far more than both socket buffers hold
    std::atomic<bool> result{true};
    std::thread sender([&] { result = socket->Send(big.data(), static_cast<uint32_t>(big.size()), 60000); });
    // Once the peer has seen data the sender is inside Send; the peer never reads more, so the
    // sender ends up waiting for room until Disconnect wakes it.
    ASSERT_FALSE(peer.ReadExactly(1).empty());
    socket->Disconnect();
    sender.join();
    EXPECT_FALSE(result);
    EXPECT_FALSE(socket->IsConnected());
}

TEST_F(NetSocketTest, ClosingFailuresThrowFromDisconnectAndAreSurvivedOnTheReceiveThread) {
    EXPECT_THROW(CSocket::AbortiveClose(-1), CSocketSupport::Exception);
    try {
        CSocket::AbortiveClose(-1);
    } catch (const CSocketSupport::Exception& e) {
        EXPECT_EQ(e.Location(), "CSocket::AbortiveClose()");
        EXPECT_EQ(e.ErrorCode(), static_cast<uint32_t>(EBADF));
    }

    // A pipe is no socket: the linger option fails on it. It is closed all the same.
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    Fd writeEnd(ends[1]);
    ASSERT_TRUE(socket->Attach(ends[0]));
    try {
        socket->Disconnect();
        ADD_FAILURE() << "Disconnect did not report the failed close";
    } catch (const CSocketSupport::Exception& e) {
        EXPECT_EQ(e.Location(), "CSocket::AbortiveClose()");
        EXPECT_EQ(e.ErrorCode(), static_cast<uint32_t>(ENOTSOCK));
    }
    EXPECT_FALSE(socket->IsConnected());
    pollfd p{writeEnd.Get(), POLLOUT, 0};
    ASSERT_EQ(::poll(&p, 1, kPatienceMs), 1);
    EXPECT_NE(p.revents & POLLERR, 0) << "the read end was not closed";

    // The same failure in the destructor, on the receive thread, is reported and survived.
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    writeEnd.Reset(ends[1]);
    ASSERT_TRUE(socket->Attach(ends[0]));
    testing::internal::CaptureStderr();
    ReleaseNetSocket(socket);
    ASSERT_TRUE(AllSocketsGone());
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("CSocket::AbortiveClose()"), std::string::npos) << report;
    p = {writeEnd.Get(), POLLOUT, 0};
    ASSERT_EQ(::poll(&p, 1, kPatienceMs), 1);
    EXPECT_NE(p.revents & POLLERR, 0);
}

TEST(NetSocketStress, ThousandCyclesOfCreateConnectSendRelease) {
    Listener listener;
    std::atomic<bool> serving{true};
    // One peer at a time: answers each packet with one of its own, then waits for the close.
    std::thread server([&] {
        while (serving) {
            Fd peer = listener.Accept();
            if (!peer) {
                continue;
            }
            const Bytes got = peer.ReadExactly(36);
            if (got.size() == 36) {
                peer.SendAll(Packet(0x42, 4, got[32]));
            }
            peer.WaitForClose();
        }
    });

    RecordingOwner owner;
    constexpr int kCycles = 1000;
    for (int i = 0; i < kCycles; ++i) {
        CNetSocket* s = nullptr;
        ASSERT_TRUE(CreateNetSocket(&owner, &s));
        ASSERT_TRUE(s->Connect("127.0.0.1", listener.Port(), 2000)) << "cycle " << i;
        const Bytes p = Packet(1, 4, static_cast<uint8_t>(i));
        ASSERT_TRUE(s->Send(p.data(), static_cast<uint32_t>(p.size()), 3000));
        ASSERT_TRUE(owner.WaitForPackets(static_cast<size_t>(i) + 1)) << "cycle " << i;
        switch (i % 3) {
        case 0:
            break; // release while connected: the object resets the connection itself
        case 1:
            s->Disconnect();
            break;
        default:
            // Some objects are still running when the next is made.
            ASSERT_TRUE(CNetSocketCore::WaitForLiveObjects(3, kPatienceMs));
            break;
        }
        ReleaseNetSocket(s);
    }
    serving = false;
    ConnectPlain(listener.Port()); // wake the server's accept
    server.join();
    EXPECT_TRUE(AllSocketsGone());
    const auto packets = owner.Packets();
    ASSERT_EQ(packets.size(), static_cast<size_t>(kCycles));
    for (int i = 0; i < kCycles; ++i) {
        EXPECT_EQ(packets[i].bytes.back(), static_cast<uint8_t>(i));
    }
}
