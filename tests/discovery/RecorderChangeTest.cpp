// One recorder of an address plan after another, when the first answers late: its late answer is
// waited out and taken before the next recorder on the same address is started.

#include "discovery/RecorderChange.h"
#include "tests/discovery/EngineTestKit.h"
#include "tests/discovery/FakeRecorder.h"

#include <gtest/gtest.h>

#include <future>

using namespace std::chrono_literals;
using namespace enginetest;

namespace {

// Hands every status text to the wait, as the window and the command line do.
class ResultListener : public DiscoveryListener {
public:
    void deviceAdded(const DeviceAddedNotice&) override {}
    void statusText(const std::string& text) override { results.post(text); }
    ModifyResultWait results;
};

const DeviceIdentity kIdentityA = DeviceIdentity::fromText("00:11:22:33:44:0A");
const DeviceIdentity kIdentityB = DeviceIdentity::fromText("00:11:22:33:44:0B");

bool isFor(const Datagram& request, const DeviceIdentity& identity) {
    if (const auto login = readLoginRequest(request)) {
        return login->identity == identity;
    }
    const auto modify = readModifyIpRequest(request);
    return modify && modify->identity == identity;
}

class RecorderChangeTest : public ::testing::Test {
protected:
    // Two recorders that answer from one address (the fake's): B answers everything at once, A
    // its login only when told to, and never its modify-IP request.
    void SetUp() override {
        engine = std::make_unique<CountingEngine>(&listener, quiet({kLoopback, recorder.port(), 0, 10s}));
        ASSERT_EQ(engine->start(), 1);
        ASSERT_TRUE(recorder.waitRequests(1));
        recorder.sendTo(engine->localPort(), buildSearchReply(recordFor(kRecorderA, 37777), kIdentityA));
        recorder.sendTo(engine->localPort(), buildSearchReply(recordFor(kRecorderA, 37777), kIdentityB));
        ASSERT_TRUE(engine->waitHandled(2));
        ASSERT_EQ(engine->rowCount(), 2u);
    }

    void answer(bool loginA) {
        recorder.setHandler([loginA](const Datagram& request) {
            const bool isLogin = readLoginRequest(request).has_value();
            if (isFor(request, kIdentityB) || (loginA && isLogin && isFor(request, kIdentityA))) {
                return std::vector<Datagram>{isLogin ? buildLoginReply(0, 0) : buildModifyIpReply(0)};
            }
            return std::vector<Datagram>{};
        });
    }

    static PlannedChange changeOf(std::size_t row, std::uint32_t address) {
        return {row,        row == 0 ? "00:11:22:33:44:0A" : "00:11:22:33:44:0B",
                kRecorderA, address,
                0xFFFFFF00, 0xC0A80101};
    }

    ChangeResult send(std::size_t row, std::chrono::milliseconds timeout) {
        return sendChange(*engine, listener.results, changeOf(row, kRecorderA + 10 + row), "admin", "admin",
                          timeout);
    }

    ResultListener listener;
    FakeRecorder recorder;
    std::unique_ptr<CountingEngine> engine;
};

} // namespace

TEST_F(RecorderChangeTest, ALateAnswerIsTakenForItsRecorderBeforeTheNextStarts) {
    struct Case {
        const char* name;
        bool loginA;            // A accepts its login at once
        Datagram late;          // A's answer, sent after its time ran out
        ChangeOutcome timedOut; // A's outcome when its time ran out
        ChangeOutcome finally;  // and once its late answer came
        const char* message;
    };
    const Case cases[] = {
        {"late login refusal", false, buildLoginReply(1, 0), ChangeOutcome::NoLoginAnswer,
         ChangeOutcome::NoLoginAnswer, "It is ouvertime."},
        {"late modify-IP refusal", true, buildModifyIpReply(1), ChangeOutcome::NoAnswer,
         ChangeOutcome::Refused, "Failed to modify IP address!"},
        {"late modify-IP success", true, buildModifyIpReply(0), ChangeOutcome::NoAnswer,
         ChangeOutcome::Modified, "Modified IP address successfully!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        answer(c.loginA);
        ChangeResult a = send(0, 300ms);
        ASSERT_EQ(a.outcome, c.timedOut);

        recorder.sendTo(engine->localPort(), c.late);
        EXPECT_TRUE(waitOutLateAnswer(*engine, listener.results, a, kGuard));
        EXPECT_EQ(a.outcome, c.finally);
        EXPECT_EQ(a.message, c.message);

        // B's own answers, not A's, decide B's result.
        const ChangeResult b = send(1, kGuard);
        EXPECT_EQ(b.outcome, ChangeOutcome::Modified);
        EXPECT_EQ(b.message, "Modified IP address successfully!");
    }
}

TEST_F(RecorderChangeTest, NothingIsWaitedForAfterAnAnswerAndTheWaitEndsWithTheWindowOrTheEngine) {
    answer(false);
    ChangeResult b = send(1, kGuard);
    ASSERT_EQ(b.outcome, ChangeOutcome::Modified);
    EXPECT_FALSE(waitOutLateAnswer(*engine, listener.results, b, kGuard)); // returns at once
    EXPECT_EQ(b.outcome, ChangeOutcome::Modified);

    ChangeResult a = send(0, 200ms);
    ASSERT_EQ(a.outcome, ChangeOutcome::NoLoginAnswer);
    EXPECT_FALSE(waitOutLateAnswer(*engine, listener.results, a, 0ms));
    EXPECT_EQ(a.outcome, ChangeOutcome::NoLoginAnswer);

    auto waiting = std::async(std::launch::async,
                              [&] { return waitOutLateAnswer(*engine, listener.results, a, kGuard); });
    engine->close();
    EXPECT_FALSE(waiting.get());
}

TEST(RecorderChange, TheLateAnswerWindowIsTheTimeoutUpToFiveSeconds) {
    EXPECT_EQ(lateAnswerWindow(300ms), 300ms);
    EXPECT_EQ(lateAnswerWindow(10s), 5s);
}
