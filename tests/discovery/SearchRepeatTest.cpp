// Repeated searches on loopback: a recorder whose first reply is lost is found after a repeat,
// each recorder is listed once however often it answers, and refresh and close cancel what is
// still to come.

#include "discovery/DiscoveryEngine.h"
#include "discovery/SearchRepeater.h"
#include "tests/discovery/EngineTestKit.h"
#include "tests/discovery/FakeRecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <memory>
#include <set>

using namespace std::chrono_literals;
using namespace enginetest;

namespace {

// Counts the action's runs and lets a test wait for a number of them.
struct RunCounter {
    std::mutex mutex;
    std::condition_variable changed;
    unsigned runs = 0;

    void run() {
        std::lock_guard lock(mutex);
        ++runs;
        changed.notify_all();
    }
    bool waitRuns(unsigned count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kGuard, [&] { return runs >= count; });
    }
};

// Calls f on another thread and tells whether it returned within the guard.
template <class F> bool returnsPromptly(F f) {
    auto done = std::async(std::launch::async, f);
    return done.wait_for(kGuard) == std::future_status::ready;
}

} // namespace

TEST(SearchRepeater, RunsOnceAfterEachDelay) {
    RunCounter counter;
    SearchRepeater repeater([&] { counter.run(); });
    const std::vector<std::chrono::milliseconds> delays{2ms, 0ms, 1ms};
    repeater.schedule(delays);
    ASSERT_TRUE(counter.waitRuns(3));
    repeater.stop();
    EXPECT_EQ(repeater.runs(), 3u);
    EXPECT_EQ(counter.runs, 3u);
}

TEST(SearchRepeater, NewScheduleReplacesWhatIsPendingAndStopDoesNotWaitForIt) {
    RunCounter counter;
    SearchRepeater repeater([&] { counter.run(); });
    const std::vector<std::chrono::milliseconds> later{1h, 2h};
    const std::vector<std::chrono::milliseconds> now{0ms};
    repeater.schedule(later);
    repeater.schedule(now);
    ASSERT_TRUE(counter.waitRuns(1));
    repeater.schedule(later);
    repeater.cancel();
    EXPECT_TRUE(returnsPromptly([&] { repeater.stop(); }));
    EXPECT_EQ(repeater.runs(), 1u);

    // Stopped, it starts again on the next schedule.
    repeater.schedule(now);
    ASSERT_TRUE(counter.waitRuns(2));
}

class SearchRepeatTest : public ::testing::Test {
protected:
    std::unique_ptr<CountingEngine> makeEngine(std::vector<std::chrono::milliseconds> repeats) {
        DiscoveryEngineConfig config{kLoopback, recorder.port(), 0};
        config.searchRepeats = std::move(repeats);
        return std::make_unique<CountingEngine>(&listener, config);
    }

    RecordingListener listener;
    FakeRecorder recorder;
};

TEST_F(SearchRepeatTest, EachSearchIsSentThreeTimesByDefault) {
    auto engine =
        std::make_unique<CountingEngine>(&listener, DiscoveryEngineConfig{kLoopback, recorder.port(), 0});
    ASSERT_EQ(engine->start(), 1);
    ASSERT_TRUE(recorder.waitRequests(3));
    EXPECT_EQ(recorder.requests(), std::vector<Datagram>(3, buildSearch()));
    EXPECT_EQ(engine->searchRepeatsSent(), 2u);
}

// Six recorders behind one address; the second and the fifth lose their first reply, as in a
// burst where replies collide. Their rows come after the repeat, and nobody is listed twice.
TEST_F(SearchRepeatTest, RecordersWhoseFirstReplyIsLostAppearAfterTheRepeat) {
    struct Played {
        std::mutex mutex;
        unsigned searches = 0;
    };
    auto played = std::make_shared<Played>();
    constexpr std::uint32_t kFirst = 0xC0A80A01; // 192.168.10.1 (only ever inside datagrams)
    constexpr std::uint32_t kMarker = 0xC0A80AFE;
    recorder.setHandler([played](const Datagram& request) {
        std::vector<Datagram> replies;
        if (!isSearchRequest(request)) {
            return replies;
        }
        std::lock_guard lock(played->mutex);
        const unsigned heard = ++played->searches;
        for (std::uint32_t i = 0; i < 6; ++i) {
            if (heard == 1 && (i == 1 || i == 4)) {
                continue;
            }
            const std::string mac = "00:11:22:33:44:0" + std::to_string(i);
            replies.push_back(buildSearchReply(recordFor(kFirst + i, 37777), DeviceIdentity::fromText(mac)));
        }
        // After the last search, one more recorder: once it is listed, every reply before it
        // has been handled.
        if (heard == 3) {
            replies.push_back(
                buildSearchReply(recordFor(kMarker, 37777), DeviceIdentity::fromText("marker")));
        }
        return replies;
    });

    auto engine = makeEngine({300ms, 1000ms});
    ASSERT_EQ(engine->start(), 1);
    ASSERT_TRUE(listener.waitDevices(7));
    const auto devices = listener.devices();
    ASSERT_EQ(devices.size(), 7u);
    std::vector<std::string> order;
    for (const auto& device : devices) {
        order.push_back(device.addressText);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"192.168.10.1", "192.168.10.3", "192.168.10.4", "192.168.10.6",
                                               "192.168.10.2", "192.168.10.5", "192.168.10.254"}));
    for (std::size_t i = 0; i < devices.size(); ++i) {
        EXPECT_EQ(devices[i].row, i);
    }
    EXPECT_EQ(engine->rowCount(), 7u);
    EXPECT_EQ(engine->row(4)->identity, DeviceIdentity::fromText("00:11:22:33:44:01"));
}

TEST_F(SearchRepeatTest, RefreshAndCloseCancelTheRepeatsStillToCome) {
    auto engine = makeEngine({1h, 2h});
    ASSERT_EQ(engine->start(), 1);
    ASSERT_TRUE(recorder.waitRequests(1));
    EXPECT_GT(engine->refresh(), 0);
    ASSERT_TRUE(recorder.waitRequests(2));
    EXPECT_TRUE(returnsPromptly([&] { engine->close(); }));
    EXPECT_EQ(engine->searchRepeatsSent(), 0u);
    EXPECT_EQ(recorder.requests().size(), 2u);

    // A refresh after the repeats have run starts a full round of its own.
    auto again = makeEngine({0ms, 0ms});
    ASSERT_EQ(again->start(), 1);
    ASSERT_TRUE(recorder.waitRequests(5));
    EXPECT_GT(again->refresh(), 0);
    ASSERT_TRUE(recorder.waitRequests(8));
    EXPECT_EQ(again->searchRepeatsSent(), 4u);
}

TEST_F(SearchRepeatTest, AClosedEngineSchedulesNothing) {
    auto engine = makeEngine({0ms});
    EXPECT_EQ(engine->search(), -1);
    EXPECT_EQ(engine->searchRepeatsSent(), 0u);
    EXPECT_TRUE(returnsPromptly([&] { engine.reset(); }));
}

TEST_F(SearchRepeatTest, AnInterfaceThatIsNotThereSendsNothing) {
    DiscoveryEngineConfig config{kLoopback, recorder.port(), 0};
    config.searchRepeats.clear();
    config.interfaceName = "kst-absent0";
    CountingEngine engine(&listener, config);
    EXPECT_EQ(engine.start(), 1); // the endpoint opens; only the sends fail
    EXPECT_EQ(engine.search(), -1);

    // A datagram sent after the engine's: when it has arrived, so would theirs have.
    FakeRecorder probe;
    probe.sendTo(recorder.port(), Datagram{0x01});
    ASSERT_TRUE(recorder.waitRequests(1));
    EXPECT_EQ(recorder.requests(), std::vector<Datagram>{Datagram{0x01}});
}
