// The installer script run by lua5.1, the recorder's dialect, against a simulated flash: the
// image lands sector by sector in its partition, the entry a package lacks is reported and
// skipped, and progress comes in whole percents that rise and stop at 100.
#include "package/UpgradePackage.h"
#include "tests/package/TestSupport.h"
#include "tests/package/ZipReader.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

const std::string kFlashSim = std::string(KST_SOURCE_DIR) + "/tests/package/flash_sim.lua";
constexpr std::uint32_t kSector = 0x10000;

struct FlashRun {
    ChildResult run;
    std::vector<std::string> lines;
    Bytes logo, web;       // the two partitions after the run
    Bytes image;           // the package's image entry
    std::size_t total = 0; // uncompressed size of all entries
};

// Builds a package of files, extracts its entries and runs the script over them.
FlashRun RunPackage(const std::vector<std::string>& files, const std::string& packageName,
                    const char* imageName) {
    FlashRun f;
    TempDir root, entries;
    std::string package;
    EXPECT_EQ(
        BuildUpgradePackage(static_cast<int>(files.size()), files.data(), packageName, package, root.path()),
        kPackageOk);
    ChildResult x = RunProgram({"unzip", "-q", package, "-d", entries.path()});
    EXPECT_EQ(x.status, 0) << x.err;
    std::vector<std::string> argv{"lua5.1", kFlashSim, entries / "Install.lua", entries.path(),
                                  entries / "dump"};
    for (const auto& e : ReadZipHeaders(ReadBytes(package)).entries) {
        argv.push_back(e.name);
        f.total += e.uncompressed;
    }
    f.image = ReadBytes(entries / imageName);
    f.run = RunProgram(argv);
    std::istringstream in(f.run.out);
    for (std::string line; std::getline(in, line);)
        f.lines.push_back(line);
    f.logo = ReadBytes(entries / "dump.logo");
    f.web = ReadBytes(entries / "dump.web");
    EXPECT_EQ(RemoveUpgradePackage(package), 0);
    return f;
}

std::vector<std::string> WithPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& l : lines)
        if (l.compare(0, prefix.size(), prefix) == 0)
            out.push_back(l.substr(prefix.size()));
    return out;
}

std::string Hex(std::uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "%x", v);
    return b;
}

std::size_t IndexOf(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
}

// Erases every sector of [base, end), writes the image into the first ones, reports progress
// after each write as the script computes it: whole percents, rising, capped at 100.
void ExpectFlashed(const FlashRun& f, std::uint32_t base, std::uint32_t end, const Bytes& partition) {
    std::vector<std::string> erased = WithPrefix(f.lines, "erase "), written = WithPrefix(f.lines, "write ");
    std::vector<std::string> wantErased, wantWritten;
    for (std::uint32_t a = base; a < end; a += kSector)
        wantErased.push_back(Hex(a));
    std::size_t sectorsWithData = (f.image.size() + kSector - 1) / kSector;
    for (std::size_t i = 0; i < sectorsWithData; ++i) {
        std::size_t len = std::min<std::size_t>(kSector, f.image.size() - i * kSector);
        wantWritten.push_back(Hex(base + static_cast<std::uint32_t>(i * kSector)) + " " +
                              std::to_string(len));
    }
    EXPECT_EQ(erased, wantErased);
    EXPECT_EQ(written, wantWritten);

    Bytes want = f.image;
    want.resize(end - base, 0xFF);
    EXPECT_TRUE(partition == want);

    std::vector<std::string> progress = WithPrefix(f.lines, "progress 1 ");
    ASSERT_EQ(progress.size(), sectorsWithData);
    EXPECT_EQ(WithPrefix(f.lines, "progress ").size(), progress.size()); // always code 0x01
    int last = 0;
    for (std::size_t k = 1; k <= progress.size(); ++k) {
        int expected = static_cast<int>(std::min(100.0, static_cast<double>(k * kSector) / f.total * 100));
        EXPECT_EQ(progress[k - 1], std::to_string(expected)) << "after sector " << k;
        int v = std::stoi(progress[k - 1]);
        EXPECT_GE(v, last);
        EXPECT_LE(v, 100);
        last = v;
    }
}

TEST(InstallScriptLua, LogoPackageFillsTheLogoPartition) {
    TempDir in;
    std::vector<std::string> files = {in / "a.bmp", in / "b.bmp"};
    WriteFile(files[0], RandomBytes(70000, 101));
    WriteFile(files[1], RandomBytes(75000, 102));
    FlashRun f = RunPackage(files, "C:\\temp_logo.bin", "logo.cramfs");
    ASSERT_EQ(f.run.status, 0) << f.run.err;
    EXPECT_EQ(f.run.err, "");
    ASSERT_GT(f.image.size(), 2 * kSector); // three sectors of data, so progress has room to rise

    // Every entry named first, then the flash driver, the logo, and the missing web entry.
    EXPECT_EQ(f.lines.at(0), "Install.lua");
    EXPECT_EQ(f.lines.at(1), "logo.cramfs");
    EXPECT_EQ(f.lines.at(2), "mtd.init");
    EXPECT_EQ(f.lines.back(), "result true nil");
    std::size_t missing = IndexOf(f.lines, "web.cramfs not exist");
    ASSERT_LT(missing, f.lines.size());
    EXPECT_GT(missing, IndexOf(f.lines, "erase 807f0000"));

    ExpectFlashed(f, 0x807C0000, 0x80800000, f.logo);
    EXPECT_EQ(std::count(f.web.begin(), f.web.end(), 0), static_cast<long>(f.web.size())); // untouched
    std::vector<std::string> progress = WithPrefix(f.lines, "progress 1 ");
    EXPECT_EQ(progress, (std::vector<std::string>{"43", "87", "100"}));
}

TEST(InstallScriptLua, WebPackageFillsTheWebPartition) {
    TempDir in;
    std::vector<std::string> files = {in / "index.htm", in / "a.jpg", in / "b.jpg"};
    WriteFile(files[0], TextBytes(400000, 103));
    WriteFile(files[1], RandomBytes(150000, 104));
    WriteFile(files[2], RandomBytes(160000, 105));
    FlashRun f = RunPackage(files, "C:\\tmp_web.bin", "web.cramfs");
    ASSERT_EQ(f.run.status, 0) << f.run.err;
    EXPECT_EQ(f.lines.at(0), "Install.lua");
    EXPECT_EQ(f.lines.at(1), "web.cramfs");
    EXPECT_EQ(f.lines.at(2), "mtd.init");
    EXPECT_EQ(f.lines.at(3), "logo.cramfs not exist");
    EXPECT_EQ(f.lines.back(), "result true nil");
    ExpectFlashed(f, 0x80630000, 0x80780000, f.web);
    EXPECT_EQ(std::count(f.logo.begin(), f.logo.end(), 0), static_cast<long>(f.logo.size()));
    EXPECT_GT(WithPrefix(f.lines, "progress 1 ").size(), 3u);
}

} // namespace
