// The mkcramfs program: exit statuses, the exact texts on both streams, and base names cut from
// paths with either separator.
#include "package/RomImage.h"
#include "tests/package/TestSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

namespace {

const std::string kMkcramfs = std::string(KST_BIN_DIR) + "/mkcramfs";

std::size_t CompressedSize(const Bytes& data, std::size_t from, std::size_t len) {
    Bytes out(compressBound(len));
    uLongf n = out.size();
    EXPECT_EQ(compress(out.data(), &n, data.data() + from, len), Z_OK);
    return n;
}

class MkcramfsTest : public ::testing::Test {
protected:
    TempDir dir_;
};

TEST_F(MkcramfsTest, TooFewArgumentsPrintUsageAndExitZero) {
    RunResult r = RunProgram({kMkcramfs});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "usage: " + kMkcramfs + "  outfile infile1 infile2 ...\n");
    EXPECT_EQ(r.out, "");
    r = RunProgram({kMkcramfs, dir_ / "img"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "usage: " + kMkcramfs + "  outfile infile1 infile2 ...\n");
    EXPECT_FALSE(Exists(dir_ / "img"));
}

TEST_F(MkcramfsTest, ProgressReportOnStandardOutput) {
    Bytes h = TextBytes(5000, 21);
    WriteFile(dir_ / "e", Bytes{});
    WriteFile(dir_ / "h", h);
    RunResult r = RunProgram({kMkcramfs, dir_ / "img", dir_ / "h", dir_ / "e"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    // D = 2 * (12 + 4); h's data: a table of two pointers, then its two blocks, aligned to 4.
    std::size_t end = 108 + 8 + CompressedSize(h, 0, 4096) + CompressedSize(h, 4096, 904);
    end = (end + 3) / 4 * 4;
    int change = static_cast<int>(end) - 108 - 5000;
    char line[128];
    std::snprintf(line, sizeof line, "%6.2f%% (%+d bytes)\th\n", change * 100 / 5000.0, change);
    Bytes img = ReadFile(dir_ / "img");
    char crc[32];
    std::snprintf(crc, sizeof crc, "CRC: %x\n", Get32(img, 32));
    EXPECT_EQ(r.out, std::string("  e\n  h\nDirectory data: 108 bytes\n") + line +
                         "Everything: 4 kilobytes\nSuper block: 76 bytes\n" + crc);
    EXPECT_EQ(CheckWithFsck(dir_ / "img", {{"e", {}}, {"h", h}}), "");
}

TEST_F(MkcramfsTest, BaseNamesFollowTheLastSlashThenBackslash) {
    // Relative paths from the scratch directory, so the one with backslashes holds no '/'.
    std::filesystem::create_directories(dir_ / "x/dir2");
    std::filesystem::create_directories(dir_ / "sub");
    WriteFile(dir_ / "x\\dir1\\logo.bmp", std::string("one"));
    WriteFile(dir_ / "x/dir2/logo.bmp", std::string("second"));
    WriteFile(dir_ / "sub/we\\b.htm", std::string("q"));
    RunResult r =
        RunProgram({kMkcramfs, "img", "x\\dir1\\logo.bmp", "x/dir2/logo.bmp", "sub/we\\b.htm"}, dir_.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find("Directory")), "  logo.bmp\n  logo.bmp\n  we\\b.htm\n");

    std::string listing;
    TempDir x;
    RunResult v = Fsck({"-v", "--extract=" + (x / "r"), dir_ / "img"});
    ASSERT_EQ(v.status, 0) << v.out << v.err;
    // Equal names keep the input order: the 3-byte file, then the 6-byte one.
    std::size_t first = v.out.find(x / "r/logo.bmp"), second = v.out.find(x / "r/logo.bmp", first + 1);
    ASSERT_NE(second, std::string::npos) << v.out;
    EXPECT_NE(v.out.rfind(" 3 ", first), std::string::npos);
    EXPECT_NE(v.out.substr(first - 20, 20).find(" 3 "), std::string::npos) << v.out;
    EXPECT_NE(v.out.substr(second - 20, 20).find(" 6 "), std::string::npos) << v.out;
    EXPECT_NE(v.out.find(x / "r/we\\b.htm"), std::string::npos);
}

TEST_F(MkcramfsTest, FailuresPrintTheirMessageAndExitWithTheirStatus) {
    WriteFile(dir_ / "good", std::string("data"));
    std::string img = dir_ / "img";

    RunResult r = RunProgram({kMkcramfs, img, dir_ / "good", dir_ / "missing"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "fopen " + (dir_ / "missing") + " fail\n");
    EXPECT_EQ(r.out, "");
    ASSERT_TRUE(Exists(img));
    EXPECT_TRUE(ReadFile(img).empty());

    r = RunProgram({kMkcramfs, dir_ / "none/img", dir_ / "good"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "fopen: No such file or directory\n");

    // Every write to /dev/full fails: reported once, after the report on standard output.
    r = RunProgram({kMkcramfs, "/dev/full", dir_ / "good"});
    EXPECT_EQ(r.status, 8);
    EXPECT_EQ(r.err, "ROM image write failed (0 4096)\n");
    EXPECT_NE(r.out.find("CRC: "), std::string::npos);

    r = RunProgram({kMkcramfs, img, dir_.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "read: Is a directory\n");

    if (::geteuid() != 0) { // root reads whatever the mode bits say
        WriteFile(dir_ / "locked", std::string("x"));
        ::chmod((dir_ / "locked").c_str(), 0);
        r = RunProgram({kMkcramfs, img, dir_ / "locked"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "fopen " + (dir_ / "locked") + " fail\n");
    }
}

TEST_F(MkcramfsTest, FirstFailingInputInDirectoryOrderIsReported) {
    // A sysfs attribute claims 4096 bytes and yields a few: a read failure.
    const std::string shortRead = "/sys/kernel/uevent_seqnum";
    if (!Exists(shortRead))
        GTEST_SKIP() << shortRead << " is not there";
    WriteFile(dir_ / "m_big", RandomBytes(5 << 20, 22)); // enough to be read on several threads
    std::string img = dir_ / "img";

    RunResult r = RunProgram({kMkcramfs, img, dir_ / "zz_missing", shortRead, dir_ / "m_big"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "read: Input/output error\n");
    EXPECT_EQ(r.out, "");

    r = RunProgram({kMkcramfs, img, shortRead, dir_ / "m_big", dir_ / "aa_missing"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "fopen " + (dir_ / "aa_missing") + " fail\n");
    EXPECT_TRUE(ReadFile(img).empty());
}

TEST_F(MkcramfsTest, TruncationWarningsComeLastInOrder) {
    std::string longName = dir_ / std::string(254, 'w');
    WriteFile(longName, std::string("abc"));
    std::string big = dir_ / "big";
    WriteFile(big, std::string("head"));
    ASSERT_EQ(::truncate(big.c_str(), 20 << 20), 0);
    RunResult r = RunProgram({kMkcramfs, dir_ / "img", big, longName});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "warning: filenames truncated to 255 bytes.\n"
                     "warning: file sizes truncated to 16MB (minus 1 byte).\n");
    Bytes bigWant{'h', 'e', 'a', 'd'};
    bigWant.resize(16777215, 0);
    EXPECT_EQ(CheckWithFsck(dir_ / "img", {{"big", bigWant}, {std::string(252, 'w'), Bytes{'a', 'b', 'c'}}}),
              "");
}

} // namespace
