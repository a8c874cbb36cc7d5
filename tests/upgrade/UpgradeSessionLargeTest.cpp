// A 600 MB upgrade through the session to the simulated recorder: the percentages the progress
// bar receives must be exact all the way, which 32-bit arithmetic gets wrong beyond 21 MB.
#include "tests/upgrade/RecordingView.h"
#include "tests/upgrade/SessionTestKit.h"
#include "tests/upgrade/TestFiles.h"

#include "simulator/RecorderSim.h"
#include "tests/common/LoopbackSim.h"
#include "upgrade/UpgradeIds.h"
#include "upgrade/UpgradeSession.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>

using namespace std::chrono_literals;
using ::testing::ElementsAre;

TEST(UpgradeSessionLarge, SixHundredMegabyteFileShowsExactPercentages) {
    constexpr int64_t kLength = 600ll * 1024 * 1024 + 123;
    TempDir dir;
    const std::string path = dir.Sparse("big.bin", "PK", kLength);

    sim::SimOptions options = LoopbackSimOptions();
    options.upgrade.verdict = sim::Verdict::Right;
    options.upgrade.keepData = false;
    sim::RecorderSim sim(options);
    sim.start();

    RecordingView view;
    view.logProgress = false;
    view.boxes.m_strIP = "127.0.0.1";
    view.boxes.m_nPort = sim.tcpPort();
    view.loginAnswer = std::make_pair(std::string("admin"), std::string("admin"));
    {
        CUpgradeSession session(view);
        session.OnLoginButton();
        view.openFilesAnswer = std::vector<std::string>{path};
        session.ChooseFiles();
        ASSERT_THAT(view.EnabledUpgradeButtons(), ElementsAre(IDC_BIOS));
        EXPECT_EQ(session.State().m_nFileLength, kLength);

        session.OnUpgradeButton(IDC_BIOS);
        ASSERT_TRUE(session.WaitUntilIdle(600s));
        EXPECT_EQ(session.State().m_nChunksSent, (kLength + 1023) / 1024);
    }
    EXPECT_TRUE(AllSocketObjectsGone());

    // Every percent from 0 to 100 once, in order, then the reset to 0.
    std::vector<int> expected(101);
    std::iota(expected.begin(), expected.end(), 0);
    expected.push_back(0);
    EXPECT_EQ(view.ProgressValues(), expected);
    // A success is the whole verdict: no data failure message follows it.
    EXPECT_THAT(view.CallsStartingWith("box "),
                ElementsAre(RecordingView::Box("Complete", MessageIcon::Information,
                                               "BIOS Upgrade success,Device will reboot!...")));

    ASSERT_TRUE(sim.waitFor([](const sim::SimState& s) { return s.upgrades.size() == 1; }, 20s));
    const auto record = sim.state().upgrades[0];
    EXPECT_EQ(record.announcedLength, static_cast<uint32_t>(kLength));
    ASSERT_EQ(record.files.size(), 1u);
    EXPECT_EQ(record.files[0].size, static_cast<uint64_t>(kLength));
    EXPECT_EQ(record.problem, "");
    sim.stop();
}
