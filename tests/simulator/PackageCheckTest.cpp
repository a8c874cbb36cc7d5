#include "simulator/PackageCheck.h"

#include "tests/common/ChildProgram.h"
#include "tests/common/Files.h"
#include "tests/common/TempDir.h"
#include "tests/simulator/CramfsFixture.h"
#include "tests/simulator/ZipFixture.h"

#include <gtest/gtest.h>

namespace {

const std::vector<uint8_t> kScript = fixture::textBytes(1938);

std::vector<uint8_t> image() {
    return fixture::makeCramfs(
        {{"index.htm", fixture::textBytes(6000)}, {"live.htm", fixture::textBytes(300)}});
}

std::vector<uint8_t> zip(const fixture::ZipEntries& entries) {
    TempDir dir;
    return fixture::makeZip((dir / "package.bin").string(), entries);
}

} // namespace

TEST(PackageCheck, WebPackageWithScriptAndImagePasses) {
    TempDir dir;
    std::vector<uint8_t> package =
        fixture::makeZip((dir / "tmp_web.bin").string(), {{"Install.lua", kScript}, {"web.cramfs", image()}});
    if (!FindProgram("unzip").empty()) {
        EXPECT_EQ(RunProgram({"unzip", "-t", (dir / "tmp_web.bin").string()}).status, 0);
    }
    sim::PackageReport r = sim::checkUpgradePackage(package, "web.cramfs");
    EXPECT_TRUE(r.ok) << r.problem;
    EXPECT_EQ(r.entries, (std::vector<std::string>{"Install.lua", "web.cramfs"}));
    EXPECT_EQ(r.image.names, (std::vector<std::string>{"index.htm", "live.htm"}));
}

TEST(PackageCheck, LogoPackagePassesAndAnImageOfTheOtherKindIsCheckedToo) {
    std::vector<uint8_t> package = zip({{"Install.lua", kScript}, {"logo.cramfs", image()}});
    EXPECT_TRUE(sim::checkUpgradePackage(package, "logo.cramfs").ok);

    std::vector<uint8_t> broken = image();
    broken[100] ^= 1;
    sim::PackageReport r = sim::checkUpgradePackage(
        zip({{"Install.lua", kScript}, {"logo.cramfs", image()}, {"web.cramfs", broken}}), "logo.cramfs");
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.problem.find("web.cramfs: CRC-32"), std::string::npos) << r.problem;
}

TEST(PackageCheck, PackagesMissingWhatTheRecorderNeedsAreRejected) {
    struct Case {
        const char* what;
        fixture::ZipEntries entries;
        const char* expected;
    };
    std::vector<uint8_t> damaged = image();
    damaged[4000] ^= 0x10;
    const std::vector<Case> cases = {
        {"no script", {{"web.cramfs", image()}}, "no Install.lua"},
        {"empty script", {{"Install.lua", {}}, {"web.cramfs", image()}}, "Install.lua is empty"},
        {"no image", {{"Install.lua", kScript}}, "no web.cramfs"},
        {"image of the other kind only",
         {{"Install.lua", kScript}, {"logo.cramfs", image()}},
         "no web.cramfs"},
        {"damaged image", {{"Install.lua", kScript}, {"web.cramfs", damaged}}, "web.cramfs: CRC-32"},
        {"image that is no cramfs",
         {{"Install.lua", kScript}, {"web.cramfs", kScript}},
         "web.cramfs: bad magic"},
        {"entry twice",
         {{"Install.lua", kScript}, {"Install.lua", kScript}, {"web.cramfs", image()}},
         "twice"},
    };
    for (const auto& c : cases) {
        sim::PackageReport r = sim::checkUpgradePackage(zip(c.entries), "web.cramfs");
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_NE(r.problem.find(c.expected), std::string::npos) << c.what << ": " << r.problem;
    }
}

TEST(PackageCheck, DamagedArchivesAreRejected) {
    TempDir dir;
    std::vector<uint8_t> good =
        fixture::makeZip((dir / "p.bin").string(), {{"Install.lua", kScript}, {"web.cramfs", image()}});

    // A byte changed inside the deflated script: the entry's CRC-32 no longer matches (or the
    // stream no longer inflates), as unzip -t also finds.
    std::vector<uint8_t> flipped = good;
    size_t deflated = fixture::getLe32(good, 18); // compressed size in the first local header
    flipped[30 + 11 + deflated / 2] ^= 0x55;
    WriteFile((dir / "flipped.bin").string(), flipped);
    if (!FindProgram("unzip").empty()) {
        EXPECT_NE(RunProgram({"unzip", "-t", (dir / "flipped.bin").string()}).status, 0);
    }
    sim::PackageReport r = sim::checkUpgradePackage(flipped, "web.cramfs");
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.problem.find("Install.lua"), std::string::npos) << r.problem;

    std::vector<uint8_t> cut(good.begin(), good.begin() + long(good.size() / 2));
    EXPECT_EQ(sim::checkUpgradePackage(cut, "web.cramfs").problem, "not a zip archive");
    EXPECT_EQ(sim::checkUpgradePackage(kScript, "web.cramfs").problem, "not a zip archive");
    EXPECT_EQ(sim::checkUpgradePackage({}, "web.cramfs").problem, "not a zip archive");
}
