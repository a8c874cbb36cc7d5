// The multicast side of the socket object. Runs only inside a network namespace of its own
// (run-in-netns), where loopback is the one interface, so no datagram can leave the machine.
#include "tests/support/SocketTestKit.h"

#include <net/if.h>

using namespace Zorvik;
using namespace sockettest;

namespace {

constexpr const char* kGroup = "239.255.10.20";

bool OnlyLoopbackExists() {
    struct if_nameindex* list = ::if_nameindex();
    bool onlyLo = list != nullptr;
    for (struct if_nameindex* i = list; i != nullptr && i->if_index != 0; ++i) {
        onlyLo = onlyLo && std::string(i->if_name) == "lo";
    }
    if (list != nullptr) {
        ::if_freenameindex(list);
    }
    return onlyLo;
}

int FreeUdpPort() {
    Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

// Sends datagrams to the group; TTL 0 keeps them on this host even if a route pointed elsewhere.
class GroupSender {
public:
    explicit GroupSender(int port) : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        const int ttl = 0;
        ::setsockopt(m_fd.Get(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
        m_to.sin_family = AF_INET;
        m_to.sin_port = htons(static_cast<uint16_t>(port));
        m_to.sin_addr.s_addr = ::inet_addr(kGroup);
    }
    bool Send(const Bytes& b) const {
        return ::sendto(m_fd.Get(), b.data(), b.size(), 0, reinterpret_cast<const sockaddr*>(&m_to),
                        sizeof m_to) == static_cast<ssize_t>(b.size());
    }

private:
    Fd m_fd;
    sockaddr_in m_to{};
};

Bytes Datagram(size_t size, uint8_t tag) {
    Bytes b(size, tag);
    return b;
}

class MulticastTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!OnlyLoopbackExists()) {
            GTEST_SKIP() << "not inside a network namespace of its own: multicast would reach the network";
        }
        ASSERT_TRUE(CreateNetSocket(&owner, &socket));
    }
    void TearDown() override {
        ReleaseNetSocket(socket);
        EXPECT_TRUE(AllSocketsGone());
    }

    RecordingOwner owner;
    CNetSocket* socket = nullptr;
};

} // namespace

TEST_F(MulticastTest, DatagramsArriveWholeAndOversizedOnesAreDropped) {
    const int port = FreeUdpPort();
    ASSERT_TRUE(socket->JoinMulticast(kGroup, port));
    EXPECT_TRUE(socket->IsMulticastOpen());
    EXPECT_FALSE(socket->IsConnected());
    EXPECT_FALSE(socket->JoinMulticast(kGroup, port)) << "a second join would lose the first socket";

    GroupSender sender(port);
    ASSERT_TRUE(sender.Send(Datagram(100, 1)));
    ASSERT_TRUE(owner.WaitFor([](const RecordingOwner& o) { return o.m_datagrams.size() >= 1; }));
    ASSERT_TRUE(sender.Send(Datagram(3000, 2))); // longer than the 2048-byte buffer: dropped
    ASSERT_TRUE(sender.Send(Datagram(2048, 3)));
    ASSERT_TRUE(sender.Send(Datagram(50, 4)));
    ASSERT_TRUE(owner.WaitFor([](const RecordingOwner& o) { return o.m_datagrams.size() >= 3; }));
    const auto got = owner.Datagrams();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], Datagram(100, 1));
    EXPECT_EQ(got[1], Datagram(2048, 3));
    EXPECT_EQ(got[2], Datagram(50, 4));
    EXPECT_EQ(owner.Packets().size(), 0u);
    EXPECT_EQ(owner.Closes(), 0);
}

TEST_F(MulticastTest, LeaveAndDisconnectCloseTheGroupSocket) {
    EXPECT_FALSE(socket->JoinMulticast("not-an-address", FreeUdpPort()));
    EXPECT_FALSE(socket->JoinMulticast(nullptr, FreeUdpPort()));
    EXPECT_FALSE(socket->IsMulticastOpen());

    const int port = FreeUdpPort();
    ASSERT_TRUE(socket->JoinMulticast(kGroup, port));
    socket->LeaveMulticast();
    EXPECT_FALSE(socket->IsMulticastOpen());
    socket->LeaveMulticast(); // nothing held: nothing happens

    ASSERT_TRUE(socket->JoinMulticast(kGroup, port)); // the port is free again
    GroupSender sender(port);
    ASSERT_TRUE(sender.Send(Datagram(10, 7)));
    ASSERT_TRUE(owner.WaitFor([](const RecordingOwner& o) { return o.m_datagrams.size() >= 1; }));
    socket->Disconnect();
    EXPECT_FALSE(socket->IsMulticastOpen());
}

TEST_F(MulticastTest, TcpAndMulticastAreServedSideBySide) {
    Listener listener;
    ASSERT_TRUE(socket->Connect("127.0.0.1", listener.Port(), 2000));
    Fd peer = listener.Accept();
    const int port = FreeUdpPort();
    ASSERT_TRUE(socket->JoinMulticast(kGroup, port));
    GroupSender sender(port);
    for (uint8_t i = 0; i < 20; ++i) {
        ASSERT_TRUE(peer.SendAll(Packet(i, 16)));
        ASSERT_TRUE(sender.Send(Datagram(30, i)));
    }
    ASSERT_TRUE(owner.WaitFor(
        [](const RecordingOwner& o) { return o.m_packets.size() >= 20 && o.m_datagrams.size() >= 20; }));
    const auto packets = owner.Packets();
    const auto datagrams = owner.Datagrams();
    for (uint8_t i = 0; i < 20; ++i) {
        EXPECT_EQ(packets[i].bytes[0], i);
        EXPECT_EQ(datagrams[i][0], i);
    }
    // Release while both are open: the object closes both itself.
}
