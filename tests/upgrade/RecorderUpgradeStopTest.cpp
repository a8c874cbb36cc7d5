// Stop pressed for a batch row at the edge between sending and burning. The recorder starts to
// burn on the last end packet, so the row must say what the recorder does: a stop before that
// packet keeps it from the recorder and ends "stopped"; a stop after it is refused, and the row
// follows the burn to the recorder's verdict. The stop is pressed from the row's own reports, so
// each edge is hit every time.
#include "tests/common/LoopbackSim.h"
#include "tests/common/TempDir.h"
#include "tests/upgrade/TestFiles.h"

#include "upgrade/RecorderUpgrade.h"
#include "upgrade/UpgradeBatch.h"

#include <gtest/gtest.h>

#include <functional>

using namespace std::chrono_literals;

namespace {

constexpr size_t kLength = 100000;

// Calls `onReport` with every phase and progress report of the row.
class StoppingReport final : public CRecorderUpgradeReport {
public:
    explicit StoppingReport(std::function<void(RecorderPhase, int64_t)> onReport)
        : m_onReport(std::move(onReport)) {}
    void Line(const std::string&) override {}
    void ErrorLine(const std::string&) override {}
    void Phase(RecorderPhase phase) override { m_onReport(phase, -1); }
    void Progress(RecorderPhase phase, int, int64_t bytesSent) override { m_onReport(phase, bytesSent); }
    void ProgressEnded() override {}

private:
    std::function<void(RecorderPhase, int64_t)> m_onReport;
};

} // namespace

TEST(BatchRowStop, AStopAtTheLastByteIsTheRecordersAndAfterItTheBurnIsFollowed) {
    const struct {
        const char* when;
        std::function<bool(RecorderPhase, int64_t)> stopNow;
        UpgradeEnding ending;
        bool recorderBurns;
    } cases[] = {
        {"after the last data byte, before the end packet",
         [](RecorderPhase phase, int64_t sent) {
             return phase == RecorderPhase::Sending && sent == static_cast<int64_t>(kLength);
         },
         UpgradeEnding::Stopped, false},
        {"once the recorder burns",
         [](RecorderPhase phase, int64_t) { return phase == RecorderPhase::Burning; }, UpgradeEnding::Success,
         true},
    };
    TempDir dir;
    for (const auto& c : cases) {
        sim::SimOptions options = LoopbackSimOptions();
        options.upgrade.settle = 20ms;
        options.upgrade.progressInterval = 10ms;
        sim::RecorderSim recorder(options);
        recorder.start();

        UpgradeRequest request;
        request.recorder = {"127.0.0.1", recorder.tcpPort()};
        request.user = request.password = "admin";
        request.files = {dir.Write("fw.bin", PatternBytes("VX", kLength)).string()};
        request.timings.verdictWaitMs = 10000;
        UpgradeStopper stopper;
        StoppingReport report([&](RecorderPhase phase, int64_t sent) {
            if (c.stopNow(phase, sent)) {
                stopper.StopSending();
            }
        });
        const RecorderOutcome outcome = RunRecorderUpgrade(request, report, stopper);
        ASSERT_TRUE(outcome.result) << c.when;
        EXPECT_EQ(outcome.result->ending, c.ending) << c.when;
        EXPECT_EQ(outcome.result->bytesSent, static_cast<int64_t>(kLength)) << c.when;
        recorder.stop();
        bool burnt = false;
        for (const auto& upgrade : recorder.state().upgrades) {
            burnt = burnt || upgrade.complete;
        }
        EXPECT_EQ(burnt, c.recorderBurns) << c.when;
    }
}
