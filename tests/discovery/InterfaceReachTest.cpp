// The discovery engine on a computer with several network interfaces, each leading to its own
// segment of recorders, built from network namespaces (NetnsLab.h). Run through run-in-netns:
// the program's own namespace is the technician's computer.

#include "discovery/BroadcastInterfaces.h"
#include "discovery/DiscoveryEngine.h"
#include "tests/discovery/EngineTestKit.h"
#include "tests/discovery/FakeRecorder.h"
#include "tests/discovery/NetnsLab.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

using namespace std::chrono_literals;
using namespace enginetest;

namespace {

// Recorders (addresses inside datagrams only) of segment a, of segment b, and one that both
// segments reach, as a recorder does when the wired card and the Wi-Fi share a network.
constexpr std::uint32_t kSegmentA = 0xC0A80101; // 192.168.1.1...
constexpr std::uint32_t kSegmentB = 0xC0A80201; // 192.168.2.1...
constexpr std::uint32_t kShared = 0xC0A80901;   // 192.168.9.1
constexpr std::uint32_t kMarkerA = 0xC0A801FE;
constexpr std::uint32_t kMarkerB = 0xC0A802FE;

std::string macOf(std::uint32_t address) {
    return "02:00:00:00:" + std::to_string(address >> 8 & 255) + ":" + std::to_string(address & 255);
}

// One segment's recorders, played by one socket on port 5050 of its namespace. Each answers
// every search; after the search numbered `markerAfter` the segment also sends a marker
// recorder, which the test waits for: once it is listed, every earlier reply has been handled.
// Logins and modify-IP requests are answered for identities of this segment only.
struct Segment {
    std::unique_ptr<FakeRecorder> recorder;
    std::vector<std::uint32_t> addresses;
};

void playRecorders(FakeRecorder& recorder, std::vector<std::uint32_t> addresses, std::uint32_t marker,
                   unsigned markerAfter) {
    auto searches = std::make_shared<std::atomic<unsigned>>(0);
    recorder.setHandler([=](const Datagram& request) {
        std::vector<Datagram> replies;
        if (isSearchRequest(request)) {
            for (const std::uint32_t a : addresses) {
                replies.push_back(buildSearchReply(recordFor(a, 37777), DeviceIdentity::fromText(macOf(a))));
            }
            if (++*searches == markerAfter) {
                replies.push_back(
                    buildSearchReply(recordFor(marker, 37777), DeviceIdentity::fromText("marker")));
            }
        } else if (const auto login = readLoginRequest(request)) {
            if (std::ranges::any_of(addresses, [&](auto a) {
                    return login->identity == DeviceIdentity::fromText(macOf(a));
                })) {
                replies.push_back(buildLoginReply(0, 0));
            }
        } else if (const auto modify = readModifyIpRequest(request)) {
            if (std::ranges::any_of(addresses, [&](auto a) {
                    return modify->identity == DeviceIdentity::fromText(macOf(a));
                })) {
                replies.push_back(buildModifyIpReply(0));
            }
        }
        return replies;
    });
}

class InterfaceReachTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The engine broadcasts out of every interface it finds: only in a namespace with no
        // way out may it run.
        if (!broadcastInterfaces().empty() || limitedBroadcastSource()) {
            s_skip = "this namespace has interfaces that lead elsewhere; run the test through run-in-netns";
            return;
        }
        s_lab = std::make_unique<NetnsLab>();
        s_skip = s_lab->build();
        if (!s_skip.empty()) {
            s_lab.reset(); // deletes what was made
        }
    }

    static void TearDownTestSuite() { s_lab.reset(); }

    void SetUp() override {
        if (!s_skip.empty()) {
            GTEST_SKIP() << "network namespaces cannot be made here: " << s_skip << "; skipped";
        }
        for (std::size_t i = 0; i < 2; ++i) {
            segments[i].recorder = s_lab->inSegment(
                i, [] { return std::make_unique<FakeRecorder>(INADDR_ANY, DISCOVERY_PORT); });
        }
        segments[0].addresses = {kSegmentA, kSegmentA + 1, kSegmentA + 2, kShared};
        segments[1].addresses = {kSegmentB, kSegmentB + 1, kShared};
    }

    // A datagram sent from the computer straight to a segment after the engine's sends: when it
    // has arrived, anything the engine sent that way would have too.
    void probe(std::size_t i, std::size_t expectedBefore) {
        FakeRecorder from(INADDR_ANY, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(s_lab->segment(i).peerAddress);
        to.sin_port = htons(DISCOVERY_PORT);
        from.sendTo(to, Datagram{0x01});
        ASSERT_TRUE(segments[i].recorder->waitRequests(expectedBefore + 1));
        const auto heard = segments[i].recorder->requests();
        EXPECT_EQ(heard.size(), expectedBefore + 1);
        EXPECT_EQ(heard.back(), Datagram{0x01});
    }

    std::size_t rowOf(const CountingEngine& engine, std::uint32_t address) const {
        for (std::size_t i = 0; i < engine.rowCount(); ++i) {
            if (engine.row(i)->address == address) {
                return i;
            }
        }
        ADD_FAILURE() << "no row for " << formatIpv4(address);
        return engine.rowCount();
    }

    static inline std::unique_ptr<NetnsLab> s_lab;
    static inline std::string s_skip;

    RecordingListener listener;
    Segment segments[2];
};

} // namespace

TEST_F(InterfaceReachTest, OnlyInterfacesThatAreUpWithALinkAndABroadcastAddressAreUsed) {
    std::set<std::string> names;
    for (const BroadcastInterface& i : broadcastInterfaces()) {
        names.insert(i.name);
        if (i.name == "rch-a") {
            EXPECT_EQ(i.address, s_lab->segment(0).hostAddress);
            EXPECT_EQ(i.broadcast, 0x0A4D01FFu);
        }
    }
    // Not loopback, not the link that is down, not the tap adapter without a carrier, not the
    // virtual adapter's far end that has no address.
    EXPECT_EQ(names, (std::set<std::string>{"rch-a", "rch-b", "rch-virt"}));
    EXPECT_FALSE(limitedBroadcastSource()); // no default route: the routing table sends nowhere
}

TEST_F(InterfaceReachTest, OneSearchFindsEveryRecorderBehindEachInterfaceOnce) {
    playRecorders(*segments[0].recorder, segments[0].addresses, kMarkerA, 3);
    playRecorders(*segments[1].recorder, segments[1].addresses, kMarkerB, 3);
    // The product's own settings: port 5050 both ways, the limited broadcast, three searches.
    CountingEngine engine(&listener, DiscoveryEngineConfig{});
    ASSERT_EQ(engine.start(), 1);

    const std::size_t expected = 4 + 2 + 2; // a's three, b's two, the shared one, two markers
    ASSERT_TRUE(listener.waitDevices(expected));
    ASSERT_TRUE(segments[0].recorder->waitRequests(3));
    ASSERT_TRUE(segments[1].recorder->waitRequests(3));
    const auto devices = listener.devices();
    std::multiset<std::string> found;
    for (const auto& d : devices) {
        found.insert(d.addressText);
    }
    EXPECT_EQ(found,
              (std::multiset<std::string>{"192.168.1.1", "192.168.1.2", "192.168.1.3", "192.168.1.254",
                                          "192.168.2.1", "192.168.2.2", "192.168.2.254", "192.168.9.1"}));
    EXPECT_EQ(engine.rowCount(), expected);

    // Each segment heard the search once a round, from the computer's address on its link.
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const auto heard = segments[i].recorder->requests();
        EXPECT_EQ(heard, std::vector<Datagram>(3, buildSearch()));
        for (const sockaddr_in& from : segments[i].recorder->senders()) {
            EXPECT_EQ(ntohl(from.sin_addr.s_addr), s_lab->segment(i).hostAddress);
            EXPECT_EQ(ntohs(from.sin_port), DISCOVERY_PORT);
        }
    }
    EXPECT_EQ(engine.searchRepeatsSent(), 2u);
}

TEST_F(InterfaceReachTest, LoginAndModifyIpReachARecorderBehindEitherInterface) {
    playRecorders(*segments[0].recorder, segments[0].addresses, kMarkerA, 1);
    playRecorders(*segments[1].recorder, segments[1].addresses, kMarkerB, 1);
    CountingEngine engine(&listener, quiet({}));
    ASSERT_EQ(engine.start(), 1);
    ASSERT_TRUE(listener.waitDevices(8));

    const std::size_t row = rowOf(engine, kSegmentB + 1);
    const auto login = engine.login(row, "admin", "admin");
    EXPECT_TRUE(login.accepted()) << int(login.status);
    ASSERT_TRUE(engine.modifyIp(row, 0x0A4D0232, 0xFFFFFF00, 0x0A4D0201));
    ASSERT_TRUE(listener.waitStatuses(1));
    EXPECT_EQ(listener.statuses(), std::vector<std::string>{"Modified IP address successfully!"});

    // Both requests went out of both interfaces, since the tool cannot know where its recorder is.
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(segments[i].recorder->waitRequests(3));
        const auto heard = segments[i].recorder->requests();
        EXPECT_TRUE(readLoginRequest(heard.at(1)));
        const auto modify = readModifyIpRequest(heard.at(2));
        ASSERT_TRUE(modify);
        EXPECT_EQ(modify->identity, DeviceIdentity::fromText(macOf(kSegmentB + 1)));
        EXPECT_EQ(modify->record.address(), 0x0A4D0232u);
    }
}

TEST_F(InterfaceReachTest, AnInterfaceNameLimitsEverySendToThatInterface) {
    playRecorders(*segments[0].recorder, segments[0].addresses, kMarkerA, 1);
    playRecorders(*segments[1].recorder, segments[1].addresses, kMarkerB, 1);
    DiscoveryEngineConfig config = quiet({});
    config.interfaceName = "rch-a";
    CountingEngine engine(&listener, config);
    ASSERT_EQ(engine.start(), 1);
    ASSERT_TRUE(listener.waitDevices(5));
    EXPECT_TRUE(engine.login(rowOf(engine, kSegmentA), "admin", "admin").accepted());
    ASSERT_TRUE(segments[0].recorder->waitRequests(2));
    probe(1, 0); // segment b heard neither the search nor the login

    std::multiset<std::string> found;
    for (const auto& d : listener.devices()) {
        found.insert(d.addressText);
    }
    EXPECT_EQ(found, (std::multiset<std::string>{"192.168.1.1", "192.168.1.2", "192.168.1.3", "192.168.1.254",
                                                 "192.168.9.1"}));
}

TEST_F(InterfaceReachTest, AnAddressSendsStraightToThatRecorder) {
    playRecorders(*segments[0].recorder, segments[0].addresses, kMarkerA, 1);
    playRecorders(*segments[1].recorder, segments[1].addresses, kMarkerB, 1);
    CountingEngine engine(&listener, quiet({s_lab->segment(1).peerAddress}));
    ASSERT_EQ(engine.start(), 1);
    ASSERT_TRUE(listener.waitDevices(4));
    ASSERT_TRUE(segments[1].recorder->waitRequests(1));
    EXPECT_EQ(ntohl(segments[1].recorder->senders().at(0).sin_addr.s_addr), s_lab->segment(1).hostAddress);
    probe(0, 0); // segment a heard nothing
    EXPECT_EQ(engine.rowCount(), 4u);
}

TEST_F(InterfaceReachTest, AnAddressNoRouteLeadsToIsReachedThroughTheNamedInterface) {
    // Segment a's recorders also answer on 192.168.77.108, a subnet the computer has no route to.
    constexpr std::uint32_t kFactoryAddress = 0xC0A84D6C;
    ASSERT_TRUE(s_lab->addSegmentAddress(0, kFactoryAddress));
    playRecorders(*segments[0].recorder, segments[0].addresses, kMarkerA, 1);
    playRecorders(*segments[1].recorder, segments[1].addresses, kMarkerB, 1);

    // Without an interface the routing table has no way there: the search is not sent.
    {
        CountingEngine engine(&listener, quiet({kFactoryAddress}));
        ASSERT_EQ(engine.open(), 1);
        EXPECT_EQ(engine.search(), -1);
    }

    // Through the named interface the address is taken to be on that link.
    DiscoveryEngineConfig config = quiet({kFactoryAddress});
    config.interfaceName = "rch-a";
    CountingEngine engine(&listener, config);
    ASSERT_EQ(engine.start(), 1);
    ASSERT_TRUE(listener.waitDevices(5)); // a's four and its marker
    ASSERT_TRUE(segments[0].recorder->waitRequests(1));
    EXPECT_EQ(segments[0].recorder->requests().at(0), buildSearch());
    EXPECT_EQ(ntohl(segments[0].recorder->senders().at(0).sin_addr.s_addr), s_lab->segment(0).hostAddress);
    probe(1, 0); // segment b heard nothing
    EXPECT_EQ(engine.rowCount(), 5u);
}
