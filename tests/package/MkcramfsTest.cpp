// The mkcramfs program: exit statuses, the exact texts on both streams, and base names cut from
// paths with either separator.
#include "package/RomImage.h"
#include "tests/package/TestSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

Bytes TextBytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

std::vector<std::string> ListOf(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class MkcramfsTest : public ::testing::Test {
protected:
    TempDir dir_;
};

TEST_F(MkcramfsTest, TooFewArgumentsPrintUsageAndExitZero) {
    ChildResult r = RunProgram({kMkcramfs});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "usage: " + kMkcramfs + "  outfile infile1 infile2 ...\n");
    EXPECT_EQ(r.out, "");
    r = RunProgram({kMkcramfs, dir_ / "img"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "usage: " + kMkcramfs + "  outfile infile1 infile2 ...\n");
    EXPECT_FALSE(FileExists(dir_ / "img"));
}

TEST_F(MkcramfsTest, ProgressReportOnStandardOutput) {
    Bytes h = TextBytes(5000, 21);
    WriteFile(dir_ / "e", Bytes{});
    WriteFile(dir_ / "h", h);
    ChildResult r = RunProgram({kMkcramfs, dir_ / "img", dir_ / "h", dir_ / "e"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    // D = 2 * (12 + 4); h's data: a table of two pointers, then its two blocks, aligned to 4.
    std::size_t end = 108 + 8 + CompressedSize(h, 0, 4096) + CompressedSize(h, 4096, 904);
    end = (end + 3) / 4 * 4;
    int change = static_cast<int>(end) - 108 - 5000;
    char line[128];
    std::snprintf(line, sizeof line, "%6.2f%% (%+d bytes)\th\n", change * 100 / 5000.0, change);
    Bytes img = ReadBytes(dir_ / "img");
    char crc[32];
    std::snprintf(crc, sizeof crc, "CRC: %x\n", Get32(img, 32));
    EXPECT_EQ(r.out, std::string("  e\n  h\nDirectory data: 108 bytes\n") + line +
                         "Everything: 4 kilobytes\nSuper block: 76 bytes\n" + crc);
    EXPECT_EQ(CheckWithFsck(dir_ / "img", {{"e", {}}, {"h", h}}), "");
}

TEST_F(MkcramfsTest, BaseNamesFollowTheLastSlashThenBackslash) {
    // Relative paths from the scratch directory, so the one with backslashes holds no '/'.
    std::filesystem::create_directories(dir_ / "sub");
    WriteFile(dir_ / "x\\dir1\\logo.bmp", std::string("one"));
    WriteFile(dir_ / "sub/we\\b.htm", std::string("q"));
    ChildResult r =
        RunProgram({kMkcramfs, "img", "x\\dir1\\logo.bmp", "sub/we\\b.htm"}, {.cwd = dir_.path().string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find("Directory")), "  logo.bmp\n  we\\b.htm\n");
    EXPECT_EQ(CheckWithFsck(dir_ / "img", {{"logo.bmp", Bytes{'o', 'n', 'e'}}, {"we\\b.htm", Bytes{'q'}}}),
              "");
}

// Every refusal names what is wrong, leaves the output as it was and nothing beside it.
TEST_F(MkcramfsTest, RefusalsLeaveTheOutputAsItWas) {
    std::filesystem::create_directories(dir_ / "in/a");
    std::filesystem::create_directories(dir_ / "in/b");
    std::filesystem::create_directories(dir_ / "out");
    const std::string a = dir_ / "in/a/index.htm", b = dir_ / "in/b/index.htm", c = dir_ / "in/c.htm";
    const std::string longA = dir_ / ("in/" + std::string(252, 'n') + "A");
    const std::string longB = dir_ / ("in/" + std::string(252, 'n') + "B");
    for (const std::string& p : {a, b, c, longA, longB})
        WriteFile(p, p);
    const std::string out = dir_ / "out/img", linkToC = dir_ / "out/link";
    ASSERT_EQ(::symlink(c.c_str(), linkToC.c_str()), 0);
    const std::string hardC = dir_ / "out/hard";
    ASSERT_EQ(::link(c.c_str(), hardC.c_str()), 0);
    struct Case {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{out, c, dir_ / "in/missing"}, "fopen " + (dir_ / "in/missing").string() + " fail\n"},
        {{out, a, c, b}, a + " and " + b + " would both be named index.htm in the image\n"},
        {{out, longB, longA},
         longB + " and " + longA + " would both be named " + std::string(252, 'n') + " in the image\n"},
        {{c, a, c}, c + " is one of the input files\n"},
        {{linkToC, a, c}, linkToC + " is one of the input files\n"},
        {{hardC, c}, hardC + " is one of the input files\n"},
    };
    WriteFile(out, std::string("old image"));
    for (const Case& k : cases) {
        std::vector<std::string> argv{kMkcramfs};
        argv.insert(argv.end(), k.args.begin(), k.args.end());
        ChildResult r = RunProgram(argv);
        EXPECT_EQ(r.status, 1) << k.err;
        EXPECT_EQ(r.err, k.err);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(ReadBytes(out), TextBytesOf("old image"));
        EXPECT_EQ(ReadBytes(c), TextBytesOf(c));
        EXPECT_EQ(std::filesystem::read_symlink(linkToC).string(), c);
    }
    EXPECT_EQ(ListOf(dir_ / "out"), (std::vector<std::string>{"hard", "img", "link"}));

    // Replaced only once whole: the old image goes, the mode stays, nothing is left beside it.
    ASSERT_EQ(::chmod(out.c_str(), 0640), 0);
    ChildResult r = RunProgram({kMkcramfs, out, a, c});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(CheckWithFsck(out, {{"index.htm", TextBytesOf(a)}, {"c.htm", TextBytesOf(c)}}), "");
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ListOf(dir_ / "out"), (std::vector<std::string>{"hard", "img", "link"}));
}

TEST_F(MkcramfsTest, FailuresPrintTheirMessageAndExitWithTheirStatus) {
    WriteFile(dir_ / "good", std::string("data"));
    std::string img = dir_ / "img";

    ChildResult r = RunProgram({kMkcramfs, img, dir_ / "good", dir_ / "missing"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "fopen " + (dir_ / "missing").string() + " fail\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(FileExists(img));

    r = RunProgram({kMkcramfs, dir_ / "none/img", dir_ / "good"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "fopen: No such file or directory\n");

    // Every write to /dev/full fails: reported once, after the report on standard output.
    r = RunProgram({kMkcramfs, "/dev/full", dir_ / "good"});
    EXPECT_EQ(r.status, 8);
    EXPECT_EQ(r.err, "ROM image write failed (0 4096)\nwrite: No space left on device\n");
    EXPECT_NE(r.out.find("CRC: "), std::string::npos);

    // A write cut short by the file size limit: the reason is given, the old image stays and
    // nothing is left beside it.
    WriteFile(img, std::string("old image"));
    WriteFile(dir_ / "big", RandomBytes(100000, 23));
    r = RunProgram(
        {"sh", "-c", "trap '' XFSZ; ulimit -f 64; exec \"$0\" \"$@\"", kMkcramfs, img, dir_ / "big"});
    EXPECT_EQ(r.status, 8);
    EXPECT_TRUE(r.err.starts_with("ROM image write failed (")) << r.err;
    EXPECT_TRUE(r.err.ends_with(")\nwrite: File too large\n")) << r.err;
    EXPECT_EQ(ReadBytes(img), TextBytesOf("old image"));
    EXPECT_EQ(ListOf(dir_.path()), (std::vector<std::string>{"big", "good", "img"}));
    ::unlink(img.c_str());

    // A FIFO as the output, with no reader: refused at once rather than waited on.
    const std::string fifo = dir_ / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    r = RunProgram({kMkcramfs, fifo, dir_ / "good"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "fopen: No such device or address\n");
    ::unlink(fifo.c_str());

    r = RunProgram({kMkcramfs, img, dir_.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "read: Is a directory\n");

    if (::geteuid() != 0) { // root reads whatever the mode bits say
        WriteFile(dir_ / "locked", std::string("x"));
        ::chmod((dir_ / "locked").c_str(), 0);
        r = RunProgram({kMkcramfs, img, dir_ / "locked"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "fopen " + (dir_ / "locked").string() + " fail\n");
    }
}

TEST_F(MkcramfsTest, FirstFailingInputInDirectoryOrderIsReported) {
    // A sysfs attribute claims 4096 bytes and yields a few: a read failure.
    const std::string shortRead = "/sys/kernel/uevent_seqnum";
    if (!FileExists(shortRead))
        GTEST_SKIP() << shortRead << " is not there";
    WriteFile(dir_ / "m_big", RandomBytes(5 << 20, 22)); // enough to be read on several threads
    std::string img = dir_ / "img";

    ChildResult r = RunProgram({kMkcramfs, img, dir_ / "zz_missing", shortRead, dir_ / "m_big"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "read: Input/output error\n");
    EXPECT_EQ(r.out, "");

    r = RunProgram({kMkcramfs, img, shortRead, dir_ / "m_big", dir_ / "aa_missing"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "fopen " + (dir_ / "aa_missing").string() + " fail\n");
    EXPECT_FALSE(FileExists(img));
}

TEST_F(MkcramfsTest, TruncationWarningsComeLastInOrder) {
    std::string longName = dir_ / std::string(254, 'w');
    WriteFile(longName, std::string("abc"));
    std::string big = dir_ / "big";
    WriteFile(big, std::string("head"));
    ASSERT_EQ(::truncate(big.c_str(), 20 << 20), 0);
    ChildResult r = RunProgram({kMkcramfs, dir_ / "img", big, longName});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "warning: filenames truncated to 252 bytes.\n"
                     "warning: file sizes truncated to 16MB (minus 1 byte).\n");
    Bytes bigWant{'h', 'e', 'a', 'd'};
    bigWant.resize(16777215, 0);
    EXPECT_EQ(CheckWithFsck(dir_ / "img", {{"big", bigWant}, {std::string(252, 'w'), Bytes{'a', 'b', 'c'}}}),
              "");
}

} // namespace
