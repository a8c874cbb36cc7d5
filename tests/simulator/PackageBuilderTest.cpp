// Packages made by the project's own package builder, sent with the project's own encoders:
// the recorder must take them whole and find in them what the builder was given.
#include "simulator/PackageCheck.h"
#include "simulator/RecorderSim.h"

#include "tests/common/Files.h"
#include "tests/common/TempDir.h"
#include "tests/simulator/Loopback.h"
#include "tests/simulator/ZipFixture.h"

#include "package/UpgradePackage.h"
#include "tests/common/LoopbackSim.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const std::string kPages[] = {KST_SOURCE_DIR "/demo/web/index.htm", KST_SOURCE_DIR "/demo/web/live.htm",
                              KST_SOURCE_DIR "/demo/web/setup.htm"};

} // namespace

TEST(PackageBuilder, WebAndLogoPackagesPassTheRecordersChecks) {
    TempDir dir;
    std::string web = (dir / "tmp_web.bin").string(), logo = (dir / "temp_logo.bin").string();
    ASSERT_EQ(BuildUpgradePackageAt(3, kPages, web, dir.path()), 0);
    ASSERT_EQ(BuildUpgradePackageAt(2, kPages, logo, dir.path()), 0);

    sim::PackageReport r = sim::checkUpgradePackage(ReadBytes(web), "web.cramfs");
    EXPECT_TRUE(r.ok) << r.problem;
    EXPECT_EQ(r.entries, (std::vector<std::string>{"Install.lua", "web.cramfs"}));
    EXPECT_EQ(r.image.names, (std::vector<std::string>{"index.htm", "live.htm", "setup.htm"}));
    r = sim::checkUpgradePackage(ReadBytes(logo), "logo.cramfs");
    EXPECT_TRUE(r.ok) << r.problem;
    EXPECT_EQ(r.image.names, (std::vector<std::string>{"index.htm", "live.htm"}));
}

TEST(PackageBuilder, WebPackageArrivesByteIdenticalAndIsAnsweredRight) {
    TempDir dir;
    std::string web = (dir / "tmp_web.bin").string();
    ASSERT_EQ(BuildUpgradePackageAt(3, kPages, web, dir.path()), 0);
    std::vector<uint8_t> package = ReadBytes(web);

    sim::SimOptions o = LoopbackSimOptions();
    o.upgrade.verdict = sim::Verdict::Right;
    sim::RecorderSim recorder(o);
    recorder.start();
    loopback::Tcp tcp(recorder.tcpPort());
    tcp.send(BuildLoginRequest("admin", "admin"));
    ASSERT_TRUE(tcp.reply());
    tcp.send(BuildStartPacket(KIND_WEB, uint32_t(package.size())));
    for (const auto& p : BuildFilePackets(KIND_WEB, package))
        tcp.send(p);
    auto start = tcp.reply(), verdict = tcp.reply();
    ASSERT_TRUE(start && verdict);
    EXPECT_EQ(DecodeReply(verdict->data(), 32).type, ReplyType::UpgradeRight);
    ASSERT_TRUE(recorder.waitFor([](const sim::SimState& s) { return !s.upgrades.empty(); }, 20s));
    EXPECT_EQ(recorder.state().upgrades[0].files.at(0).data, package);
}
