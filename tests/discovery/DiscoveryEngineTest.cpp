#include "discovery/DiscoveryEngine.h"
#include "tests/discovery/EngineTestKit.h"
#include "tests/discovery/FakeRecorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <future>
#include <memory>
#include <string>
#include <utility>

using namespace std::chrono_literals;
using namespace enginetest;

namespace {

class DiscoveryEngineTest : public ::testing::Test {
protected:
    // Without repeated searches, so that the recorder hears exactly what each test sends.
    std::unique_ptr<CountingEngine> makeEngine(std::chrono::milliseconds loginWait = 10s) {
        return std::make_unique<CountingEngine>(&listener, quiet({kLoopback, recorder.port(), 0, loginWait}));
    }

    // Starts the engine and waits for its first search to reach the recorder.
    std::unique_ptr<CountingEngine> startedEngine(std::chrono::milliseconds loginWait = 10s) {
        auto engine = makeEngine(loginWait);
        EXPECT_EQ(engine->start(), 1);
        EXPECT_TRUE(recorder.waitRequests(1));
        return engine;
    }

    void reply(const CountingEngine& engine, const Datagram& datagram) {
        recorder.sendTo(engine.localPort(), datagram);
    }

    RecordingListener listener;
    FakeRecorder recorder;
};

} // namespace

TEST_F(DiscoveryEngineTest, StartSearchesAndListsEachReply) {
    auto engine = startedEngine();
    EXPECT_EQ(recorder.requests().at(0), buildSearch());
    EXPECT_GT(engine->receiveQueueSize(), 0);

    reply(*engine,
          buildSearchReply(recordFor(kRecorderA, 37777), DeviceIdentity::fromText("00:11:22:33:44:55")));
    reply(*engine,
          buildSearchReply(recordFor(kRecorderB, 25), DeviceIdentity::fromText("00:11:22:33:44:66xyz")));
    ASSERT_TRUE(listener.waitDevices(2));

    const auto devices = listener.devices();
    EXPECT_EQ(devices[0].row, 0u);
    EXPECT_EQ(devices[0].generation, 0u);
    EXPECT_EQ(devices[0].addressText, "192.168.1.108");
    EXPECT_EQ(devices[0].port, 37777);
    EXPECT_EQ(devices[0].maskText, "255.255.255.0");
    EXPECT_EQ(devices[0].gatewayText, "192.168.1.1");
    EXPECT_EQ(devices[0].macText, "00:11:22:33:44:55");
    EXPECT_EQ(devices[1].row, 1u);
    EXPECT_EQ(devices[1].addressText, "192.168.1.109");
    EXPECT_EQ(devices[1].port, 25);
    EXPECT_EQ(devices[1].macText, "00:11:22:33:44:66");
    EXPECT_EQ(engine->rowCount(), 2u);
    EXPECT_EQ(engine->row(1)->identity, DeviceIdentity::fromText("00:11:22:33:44:66xyz"));
}

// A row is a recorder: address, port and identity together. Six units fresh from the factory on
// one address are six rows; one of them answering again is not a seventh.
TEST_F(DiscoveryEngineTest, ARowIsKeyedByAddressPortAndIdentity) {
    auto engine = startedEngine();
    const auto id = [](const char* text) { return DeviceIdentity::fromText(text); };
    struct Reply {
        std::uint32_t address;
        std::uint16_t port;
        DeviceIdentity identity;
        bool newRow;
    };
    const std::vector<Reply> replies = {
        {kRecorderA, 37777, id("00:11:22:33:44:55"), true},
        {kRecorderA, 37777, id("00:11:22:33:44:55"), false}, // the same recorder again
        {kRecorderA, 37777, id("00:11:22:33:44:56"), true},  // another unit on the same address
        {kRecorderA, 37778, id("00:11:22:33:44:55"), true},  // same address, other port
        {kRecorderB, 37777, id("00:11:22:33:44:55"), true},
        {kRecorderA, 37777, id("00:11:22:33:44:55/2"), true}, // identity differs after the MAC text
        {kRecorderA, 37777, id("00:11:22:33:44:56"), false},
        {kRecorderA, 37777, id(""), true}, // a recorder that sent no identity
        {kRecorderA, 37777, id(""), false},
    };
    std::vector<std::string> expected;
    for (const Reply& r : replies) {
        reply(*engine, buildSearchReply(recordFor(r.address, r.port), r.identity));
        if (r.newRow) {
            expected.push_back(formatIpv4(r.address) + ":" + std::to_string(r.port) + " " +
                               r.identity.macText());
        }
    }
    ASSERT_TRUE(engine->waitHandled(replies.size()));
    ASSERT_TRUE(listener.waitDevices(expected.size()));
    std::vector<std::string> rows;
    for (const DeviceAddedNotice& d : listener.devices()) {
        rows.push_back(d.addressText + ":" + std::to_string(d.port) + " " + d.macText);
    }
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(engine->rowCount(), expected.size());
    EXPECT_EQ(engine->row(4)->identity, id("00:11:22:33:44:55/2"));
}

TEST_F(DiscoveryEngineTest, MalformedDatagramsAreIgnored) {
    auto engine = startedEngine();
    Datagram tooLong = buildSearchReply(recordFor(kRecorderA, 1), DeviceIdentity::fromText("mac"));
    tooLong.push_back(0);
    reply(*engine, tooLong);
    reply(*engine, Datagram{0xB3});
    reply(*engine, Datagram{});
    reply(*engine, buildSearchReply(recordFor(kRecorderB, 2), DeviceIdentity()));
    ASSERT_TRUE(engine->waitHandled(4));
    ASSERT_TRUE(listener.waitDevices(1));
    EXPECT_EQ(engine->rowCount(), 1u);
    EXPECT_EQ(listener.devices()[0].addressText, "192.168.1.109");
}

TEST_F(DiscoveryEngineTest, RecorderWithoutIdentityGetsNoneOfAnother) {
    auto engine = startedEngine();
    reply(*engine, buildSearchReply(recordFor(kRecorderA, 1), DeviceIdentity::fromText("00:11:22:33:44:55")));
    reply(*engine, buildSearchReply(recordFor(kRecorderB, 1), DeviceIdentity()));
    ASSERT_TRUE(listener.waitDevices(2));
    EXPECT_EQ(listener.devices()[1].macText, "");
    EXPECT_TRUE(engine->row(1)->identity.empty());

    // Its login request therefore carries no identity.
    recorder.setHandler([](const Datagram&) { return std::vector<Datagram>{buildLoginReply(0, 0)}; });
    EXPECT_TRUE(engine->login(1, "admin", "pw").accepted());
    const auto login = readLoginRequest(recorder.requests().back());
    ASSERT_TRUE(login);
    EXPECT_TRUE(login->identity.empty());
}

TEST_F(DiscoveryEngineTest, RefreshRestartsRowsAndDropsStaleNotifications) {
    auto engine = startedEngine();
    listener.closeGate(); // the window is busy: the first notification waits at the gate
    for (std::uint32_t i = 0; i < 3; ++i) {
        reply(*engine, buildSearchReply(recordFor(kRecorderA + i, 1), DeviceIdentity::fromText("old")));
    }
    ASSERT_TRUE(engine->waitHandled(3));
    EXPECT_EQ(engine->rowCount(), 3u);
    ASSERT_TRUE(listener.waitHeldAtGate());

    EXPECT_GT(engine->refresh(), 0);
    EXPECT_EQ(engine->rowCount(), 0u);
    EXPECT_EQ(engine->generation(), 1u);
    ASSERT_TRUE(recorder.waitRequests(2));
    EXPECT_EQ(recorder.requests().at(1), buildSearch());

    reply(*engine, buildSearchReply(recordFor(kRecorderB + 10, 1), DeviceIdentity::fromText("new0")));
    reply(*engine, buildSearchReply(recordFor(kRecorderA, 1),
                                    DeviceIdentity::fromText("new1"))); // again after refresh
    ASSERT_TRUE(engine->waitHandled(5));
    EXPECT_EQ(engine->rowCount(), 2u);
    listener.openGate();

    ASSERT_TRUE(listener.waitDevices(3));
    const auto devices = listener.devices();
    // The one already in the window's hands when the refresh came is stale, and the window
    // recognises it; the two queued behind it never reach the window.
    EXPECT_EQ(devices[0].generation, 0u);
    EXPECT_FALSE(engine->isCurrent(devices[0].generation));
    EXPECT_EQ(devices[1].generation, 1u);
    EXPECT_EQ(devices[1].row, 0u);
    EXPECT_EQ(devices[1].macText, "new0");
    EXPECT_EQ(devices[2].row, 1u);
    EXPECT_EQ(devices[2].macText, "new1");
    EXPECT_TRUE(engine->isCurrent(devices[2].generation));
    EXPECT_EQ(devices.size(), 3u);
}

TEST_F(DiscoveryEngineTest, LoginCarriesCredentialsAndIdentityAndReportsEachAnswer) {
    auto engine = startedEngine();
    const DeviceIdentity identity = DeviceIdentity::fromText("00:11:22:33:44:55+rest-of-identity");
    reply(*engine, buildSearchReply(recordFor(kRecorderA, 37777), identity));
    ASSERT_TRUE(listener.waitDevices(1));

    struct Case {
        std::uint8_t result, reason;
        int expectedReason;
        std::optional<std::string_view> text;
    };
    const std::vector<Case> cases = {
        {1, 0, 0, "Invalid password!"},
        {1, 1, 1, "Invalid account!"},
        {1, 2, 2, "Login failed!"},
        {1, 3, 3, "The account has already logged in!"},
        {1, 4, 4, "The account has been locked!"},
        {1, 5, 5, "The account is listed in the restricted sites."},
        {1, 6, 6, "System busying."},
        {1, 7, 7, "Login failed!"},
        {3, 0, 0, "The user has logined."},
        {0, 9, 0, std::nullopt}, // accepted: the reason of the previous reply stays
        {2, 1, 1, std::nullopt}, // unknown result: nothing shown
    };
    // Owned by the handler: the recorder's thread may still hold a copy when the test ends.
    struct Script {
        std::mutex mutex;
        std::deque<Datagram> answers;
    };
    auto script = std::make_shared<Script>();
    for (const Case& c : cases) {
        script->answers.push_back(buildLoginReply(c.result, c.reason));
    }
    recorder.setHandler([script](const Datagram& request) {
        std::lock_guard lock(script->mutex);
        if (!readLoginRequest(request) || script->answers.empty()) {
            return std::vector<Datagram>{};
        }
        std::vector<Datagram> out{script->answers.front()};
        script->answers.pop_front();
        return out;
    });

    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.result) * 100 + c.reason);
        const auto outcome = engine->login(0, "administrator", "secret");
        EXPECT_EQ(outcome.status, DiscoveryEngine::LoginStatus::Answered);
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(outcome.reason, c.expectedReason);
        EXPECT_EQ(outcome.text(), c.text);
        EXPECT_EQ(outcome.accepted(), c.result == 0);
    }
    const auto request = readLoginRequest(recorder.requests().back());
    ASSERT_TRUE(request);
    EXPECT_EQ(request->userName, "administrator");
    EXPECT_EQ(request->password, "secret");
    EXPECT_EQ(request->identity, identity);
    EXPECT_EQ(recorder.requests().back(), buildLogin("administrator", "secret", identity));
}

TEST_F(DiscoveryEngineTest, LoginTimesOutAndALateReplyDoesNotSatisfyTheNext) {
    auto engine = startedEngine(200ms);
    reply(*engine, buildSearchReply(recordFor(kRecorderA, 37777), DeviceIdentity::fromText("mac")));
    ASSERT_TRUE(engine->waitHandled(1));

    const auto first = engine->login(0, "admin", "");
    EXPECT_EQ(first.status, DiscoveryEngine::LoginStatus::TimedOut);
    EXPECT_EQ(first.text(), "It is ouvertime.");
    EXPECT_FALSE(first.accepted());

    reply(*engine, buildLoginReply(0, 0)); // the late answer to the first login
    ASSERT_TRUE(engine->waitHandled(2));
    EXPECT_EQ(engine->login(0, "admin", "").status, DiscoveryEngine::LoginStatus::TimedOut);

    recorder.setHandler([](const Datagram& request) {
        return readLoginRequest(request) ? std::vector<Datagram>{buildLoginReply(1, 6)}
                                         : std::vector<Datagram>{};
    });
    const auto answered = engine->login(0, "admin", "");
    EXPECT_EQ(answered.status, DiscoveryEngine::LoginStatus::Answered);
    EXPECT_EQ(answered.text(), "System busying.");
}

TEST_F(DiscoveryEngineTest, LoginIsAnsweredWhileTheListenerIsBusy) {
    auto engine = startedEngine();
    reply(*engine, buildSearchReply(recordFor(kRecorderA, 37777), DeviceIdentity::fromText("mac")));
    ASSERT_TRUE(listener.waitDevices(1));
    listener.closeGate();
    // A search reply ahead of the login reply: its notification is held at the gate, and the
    // login reply must not wait behind it.
    const std::uint16_t port = engine->localPort();
    recorder.setHandler([&, port](const Datagram& request) {
        if (!readLoginRequest(request)) {
            return std::vector<Datagram>{};
        }
        recorder.sendTo(port, buildSearchReply(recordFor(kRecorderB, 1), DeviceIdentity::fromText("late")));
        EXPECT_TRUE(listener.waitHeldAtGate());
        return std::vector<Datagram>{buildLoginReply(0, 0)};
    });
    EXPECT_TRUE(engine->login(0, "admin", "admin").accepted());
    listener.openGate();
    ASSERT_TRUE(listener.waitDevices(2));
}

// Another recorder on another address answering first (late for its own login, or twice) is not
// this recorder's answer.
TEST_F(DiscoveryEngineTest, LoginAnswersCountOnlyFromThatRecorder) {
    auto engine = startedEngine(300ms);
    reply(*engine, buildSearchReply(recordFor(kRecorderA, 37777), DeviceIdentity::fromText("mac")));
    ASSERT_TRUE(engine->waitHandled(1));
    FakeRecorder other(kLoopback + 1);
    const std::uint16_t port = engine->localPort();
    const auto answerWith = [&, port](bool ownAnswer) {
        recorder.setHandler([&, port, ownAnswer](const Datagram& request) {
            if (!readLoginRequest(request)) {
                return std::vector<Datagram>{};
            }
            other.sendTo(port, buildLoginReply(1, 0));
            return ownAnswer ? std::vector<Datagram>{buildLoginReply(0, 0)} : std::vector<Datagram>{};
        });
    };
    answerWith(false);
    EXPECT_EQ(engine->login(0, "admin", "admin").status, DiscoveryEngine::LoginStatus::TimedOut);
    answerWith(true);
    EXPECT_TRUE(engine->login(0, "admin", "admin").accepted());
    // Given a new address, the recorder answers from there.
    ASSERT_TRUE(engine->modifyIp(0, kLoopback + 1, 0xFF000000, kLoopback));
    recorder.setHandler([](const Datagram&) { return std::vector<Datagram>{}; });
    auto fromNew = std::async(std::launch::async, [&] { return engine->login(0, "admin", "admin", kGuard); });
    ASSERT_TRUE(recorder.waitRequests(5));
    other.sendTo(port, buildLoginReply(0, 0));
    EXPECT_TRUE(fromNew.get().accepted());
}

TEST_F(DiscoveryEngineTest, NoRowMeansNothingSent) {
    auto engine = startedEngine();
    EXPECT_EQ(engine->login(0, "admin", "admin").status, DiscoveryEngine::LoginStatus::NotSent);
    EXPECT_FALSE(engine->modifyIp(0, 1, 2, 3));
    EXPECT_FALSE(engine->rowRecord(0));
    // Only the first search reached the recorder.
    engine->search();
    ASSERT_TRUE(recorder.waitRequests(2));
    EXPECT_EQ(recorder.requests().at(1), buildSearch());
    EXPECT_EQ(recorder.requests().size(), 2u);
}

TEST_F(DiscoveryEngineTest, ModifyIpSendsTheRecordAndShowsResultsZeroOneThreeFour) {
    auto engine = startedEngine();
    const DeviceNetRecord original = recordFor(kRecorderA, 37777);
    const DeviceIdentity identity = DeviceIdentity::fromText("00:11:22:33:44:55 and more");
    reply(*engine, buildSearchReply(original, identity));
    ASSERT_TRUE(engine->waitHandled(1));

    ASSERT_TRUE(engine->modifyIp(0, 0x0A000005, 0xFFFF0000, 0x0A000001));
    ASSERT_TRUE(recorder.waitRequests(2));
    const auto request = readModifyIpRequest(recorder.requests().at(1));
    ASSERT_TRUE(request);
    DeviceNetRecord expected = original;
    expected.setAddress(0x0A000005);
    expected.setMask(0xFFFF0000);
    expected.setGateway(0x0A000001);
    EXPECT_EQ(request->record, expected);
    EXPECT_EQ(request->identity, identity);

    // One result per request; results without a text change nothing and leave the request open.
    reply(*engine, buildModifyIpReply(0));
    ASSERT_TRUE(listener.waitStatuses(1));
    std::size_t shown = 1;
    for (std::uint8_t result : {1, 3, 4}) {
        ASSERT_TRUE(engine->modifyIp(0, 0x0A000005, 0xFFFF0000, 0x0A000001));
        reply(*engine, buildModifyIpReply(result));
        ASSERT_TRUE(listener.waitStatuses(++shown));
    }
    ASSERT_TRUE(engine->modifyIp(0, 0x0A000005, 0xFFFF0000, 0x0A000001));
    for (std::uint8_t result : {2, 5, 200, 1}) {
        reply(*engine, buildModifyIpReply(result));
    }
    ASSERT_TRUE(listener.waitStatuses(5));
    EXPECT_EQ(listener.statuses(),
              (std::vector<std::string>{"Modified IP address successfully!", "Failed to modify IP address!",
                                        "Data irregular!", "Cannot Set!", "Failed to modify IP address!"}));
}

// A result counts only from the recorder the request was for (the address its search reply came
// from, or the new address it was given), only after the request, and only once.
TEST_F(DiscoveryEngineTest, ModifyIpResultCountsOnlyFromThatRecorderAfterTheRequest) {
    auto engine = startedEngine();
    std::uint64_t handled = 0;
    reply(*engine, buildSearchReply(recordFor(kRecorderA, 37777), DeviceIdentity::fromText("mac")));
    ASSERT_TRUE(engine->waitHandled(++handled));
    FakeRecorder other(0x7F000002);

    // Before any request: from the recorder itself, and from another address.
    reply(*engine, buildModifyIpReply(0));
    other.sendTo(engine->localPort(), buildModifyIpReply(0));
    ASSERT_TRUE(engine->waitHandled(handled += 2));

    ASSERT_TRUE(engine->modifyIp(0, 0x7F000005, 0xFF000000, 0x7F0000FE));
    other.sendTo(engine->localPort(), buildModifyIpReply(0)); // after it, but from elsewhere
    ASSERT_TRUE(engine->waitHandled(++handled));
    EXPECT_TRUE(listener.statuses().empty());
    reply(*engine, buildModifyIpReply(4)); // the recorder's own answer
    reply(*engine, buildModifyIpReply(0)); // a second answer to one request
    other.sendTo(engine->localPort(), buildModifyIpReply(1));
    ASSERT_TRUE(engine->waitHandled(handled += 3));

    // A recorder that took its new address at once answers from it.
    FakeRecorder moved(0x7F000005);
    ASSERT_TRUE(engine->modifyIp(0, 0x7F000005, 0xFF000000, 0x7F0000FE));
    moved.sendTo(engine->localPort(), buildModifyIpReply(0));
    ASSERT_TRUE(listener.waitStatuses(2));
    EXPECT_EQ(listener.statuses(),
              (std::vector<std::string>{"Cannot Set!", "Modified IP address successfully!"}));
}

TEST_F(DiscoveryEngineTest, SecondModifyIpStartsFromTheValuesSentFirst) {
    auto engine = startedEngine();
    const DeviceNetRecord original = recordFor(kRecorderA, 37777);
    reply(*engine, buildSearchReply(original, DeviceIdentity::fromText("mac")));
    ASSERT_TRUE(engine->waitHandled(1));
    EXPECT_EQ(engine->rowRecord(0), original);

    ASSERT_TRUE(engine->modifyIp(0, 0x0A000005, 0xFF000000, 0x0A0000FE));
    reply(*engine, buildModifyIpReply(1)); // refused all the same
    ASSERT_TRUE(listener.waitStatuses(1));
    const auto now = engine->rowRecord(0);
    ASSERT_TRUE(now);
    EXPECT_EQ(now->address(), 0x0A000005u);
    EXPECT_EQ(now->mask(), 0xFF000000u);
    EXPECT_EQ(now->gateway(), 0x0A0000FEu);
    EXPECT_EQ(now->port(), 37777);

    // The row's key keeps the address it was found with: the same reply is still a duplicate.
    reply(*engine, buildSearchReply(original, DeviceIdentity::fromText("mac")));
    ASSERT_TRUE(engine->waitHandled(3));
    EXPECT_EQ(engine->rowCount(), 1u);
    EXPECT_EQ(engine->row(0)->address, kRecorderA);

    ASSERT_TRUE(engine->modifyIp(0, now->address(), now->mask(), 0x0A000001));
    ASSERT_TRUE(recorder.waitRequests(3));
    const auto second = readModifyIpRequest(recorder.requests().at(2));
    ASSERT_TRUE(second);
    EXPECT_EQ(second->record.address(), 0x0A000005u);
    EXPECT_EQ(second->record.gateway(), 0x0A000001u);
}

TEST_F(DiscoveryEngineTest, OwnRequestsHeardBackAreNotReplies) {
    // The engine sends to its own port, as a broadcast comes back to the host that sent it.
    const std::uint16_t port = freeLoopbackPort();
    CountingEngine engine(&listener, quiet({kLoopback, port, port, 10s}));
    ASSERT_EQ(engine.start(), 1);
    ASSERT_TRUE(engine.waitHandled(1)); // its own search

    reply(engine, buildSearchReply(recordFor(kRecorderA, 37777), DeviceIdentity::fromText("mac")));
    ASSERT_TRUE(engine.waitHandled(2));
    ASSERT_TRUE(engine.modifyIp(0, 0x0A000005, 0xFFFFFF00, 0x0A000001));
    ASSERT_TRUE(engine.waitHandled(3)); // its own modify-IP request, command 0xC1 with byte 8 zero

    reply(engine, buildModifyIpReply(1)); // the recorder's real answer
    ASSERT_TRUE(listener.waitStatuses(1));
    EXPECT_EQ(listener.statuses(), std::vector<std::string>{"Failed to modify IP address!"});
}

TEST_F(DiscoveryEngineTest, CloseWhileDatagramsAreArriving) {
    for (int round = 0; round < 3; ++round) {
        listener.engineStarted();
        auto engine = startedEngine();
        const std::uint16_t port = engine->localPort();
        std::atomic<bool> stop{false};
        std::thread flood([&] {
            for (std::uint32_t i = 0; !stop.load(); ++i) {
                recorder.sendTo(
                    port, buildSearchReply(recordFor(0x0A000000 + i, 1), DeviceIdentity::fromText("m")));
                if (i % 16 == 15) {
                    recorder.sendTo(port, buildModifyIpReply(0));
                }
            }
        });
        ASSERT_TRUE(engine->waitHandled(200));
        engine->close();
        listener.engineClosed();
        EXPECT_FALSE(engine->isOpen());
        const std::size_t rows = engine->rowCount();
        stop.store(true);
        flood.join();
        EXPECT_EQ(engine->rowCount(), rows);
        engine.reset();
        EXPECT_EQ(listener.callsAfterClose(), 0);
    }
}

TEST_F(DiscoveryEngineTest, CloseWakesAWaitingLogin) {
    auto engine = startedEngine(600s);
    reply(*engine, buildSearchReply(recordFor(kRecorderA, 1), DeviceIdentity::fromText("mac")));
    ASSERT_TRUE(engine->waitHandled(1));
    auto waiting = std::async(std::launch::async, [&] { return engine->login(0, "admin", "admin"); });
    ASSERT_TRUE(recorder.waitRequests(2));
    engine->close();
    ASSERT_EQ(waiting.wait_for(kGuard), std::future_status::ready);
    EXPECT_EQ(waiting.get().status, DiscoveryEngine::LoginStatus::NotSent);
}

TEST_F(DiscoveryEngineTest, OpenFailsWhenOpenOrPortTakenAndReopens) {
    auto engine = startedEngine();
    EXPECT_EQ(engine->open(), -1); // already open

    CountingEngine rival(&listener, quiet({kLoopback, recorder.port(), engine->localPort(), 1s}));
    EXPECT_EQ(rival.open(), -1);
    EXPECT_FALSE(rival.isOpen());
    EXPECT_EQ(rival.search(), -1);

    engine->close();
    EXPECT_EQ(engine->search(), -1);
    EXPECT_EQ(engine->localPort(), 0);
    EXPECT_EQ(engine->start(), 1);
    ASSERT_TRUE(recorder.waitRequests(2));
    reply(*engine, buildSearchReply(recordFor(kRecorderA, 1), DeviceIdentity::fromText("mac")));
    ASSERT_TRUE(listener.waitDevices(1));
}

// Past the first few hundred rows the table grows its lookup several times; every row must stay
// findable through each growth, and a cleared table must forget them all.
TEST(DeviceTable, ThousandsOfRowsOnOneAddressStayOneRowEachThroughGrowthAndClear) {
    DeviceTable table;
    const DeviceNetRecord record = recordFor(kRecorderA, 37777);
    const auto identity = [](int i) { return DeviceIdentity::fromText("02:00:00:00:" + std::to_string(i)); };
    constexpr int kRows = 3000;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < kRows; ++i) {
            const auto added = table.add(record, identity(i));
            ASSERT_TRUE(added) << i;
            EXPECT_EQ(added->row, std::size_t(i));
            EXPECT_EQ(added->generation, std::uint64_t(round));
        }
        for (int i = kRows - 1; i >= 0; --i) {
            ASSERT_FALSE(table.add(record, identity(i))) << i;
        }
        EXPECT_TRUE(table.add(recordFor(kRecorderA, 37778), identity(0))); // another port
        EXPECT_EQ(table.size(), std::size_t(kRows + 1));
        EXPECT_EQ(table.row(1234)->identity, identity(1234));
        table.clear();
        EXPECT_EQ(table.size(), 0u);
    }
}
