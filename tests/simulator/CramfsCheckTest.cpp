#include "simulator/CramfsCheck.h"

#include "tests/common/ChildProgram.h"
#include "tests/common/Files.h"
#include "tests/common/TempDir.h"
#include "tests/simulator/CramfsFixture.h"
#include "tests/simulator/ZipFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using fixture::getLe32;
using fixture::putLe32;

namespace {

// An outside reader's verdict: fsck.cramfs checks the superblock and CRC and, with --extract,
// inflates every block.
int fsckStatus(const std::vector<uint8_t>& image) {
    TempDir dir;
    WriteFile((dir / "image").string(), image);
    return RunProgram({FindProgram("fsck.cramfs"), "--extract", (dir / "image").string()}).status;
}

// The smallest image, written out byte by byte from the layout: one empty file named "a".
std::vector<uint8_t> smallestImageByHand() {
    std::vector<uint8_t> b(4096, 0);
    const uint8_t head[] = {
        0x45, 0x3D, 0xCD, 0x28,                     // magic
        0x00, 0x10, 0x00, 0x00,                     // size 4096
        0x03, 0x00, 0x00, 0x00,                     // flags
        0x00, 0x00, 0x00, 0x00,                     // future
        'C',  'o',  'm',  'p',  'r', 'e', 's', 's', // signature
        'e',  'd',  ' ',  'R',  'O', 'M', 'F', 'S', //
        0x00, 0x00, 0x00, 0x00,                     // crc, filled in below
        0x00, 0x00, 0x00, 0x00,                     // edition
        0x00, 0x00, 0x00, 0x00,                     // blocks
        0x02, 0x00, 0x00, 0x00,                     // files
        'C',  'o',  'm',  'p',  'r', 'e', 's', 's', // name
        'e',  'd',  0,    0,    0,   0,   0,   0,   //
        0xFF, 0x41, 0x00, 0x00,                     // root: mode 0x41FF, uid 0
        0x10, 0x00, 0x00, 0x00,                     //       size 16, gid 0
        0xC0, 0x04, 0x00, 0x00,                     //       offset 19 (byte 76)
        0xA4, 0x81, 0x00, 0x00,                     // "a": mode 0x81A4, uid 0
        0x00, 0x00, 0x00, 0x00,                     //      size 0, gid 0
        0x01, 0x00, 0x00, 0x00,                     //      name length 1 (4 bytes), offset 0
        'a',  0,    0,    0,                        //
    };
    std::copy(std::begin(head), std::end(head), b.begin());
    fixture::fixCrc(b);
    return b;
}

std::vector<uint8_t> webImage() {
    return fixture::makeCramfs({{"index.htm", fixture::textBytes(10000)},
                                {"logo.bmp", fixture::patternBytes(4096, 1)},
                                {"setup.htm", fixture::patternBytes(4097, 2)},
                                {"zero.txt", {}}});
}

// The image offset of the first block pointer table: the offset field of the first file inode.
size_t firstTable(const std::vector<uint8_t>& image) {
    return size_t(getLe32(image, 76 + 8) >> 6) * 4;
}

} // namespace

TEST(CramfsCheck, SmallestImageWrittenByHandPasses) {
    std::vector<uint8_t> image = smallestImageByHand();
    EXPECT_EQ(image, fixture::makeCramfs({{"a", {}}})) << "the test's image writer strays from the layout";
    if (!FindProgram("fsck.cramfs").empty()) {
        EXPECT_EQ(fsckStatus(image), 0);
    }
    sim::CramfsReport r = sim::checkCramfsImage(image);
    EXPECT_TRUE(r.ok) << r.problem;
    EXPECT_EQ(r.files, 2u);
    EXPECT_EQ(r.blocks, 0u);
    EXPECT_EQ(r.names, std::vector<std::string>{"a"});
}

TEST(CramfsCheck, ImageWithSeveralFilesAndBlocksPasses) {
    std::vector<uint8_t> image = webImage();
    if (!FindProgram("fsck.cramfs").empty()) {
        EXPECT_EQ(fsckStatus(image), 0);
    }
    sim::CramfsReport r = sim::checkCramfsImage(image);
    ASSERT_TRUE(r.ok) << r.problem;
    EXPECT_EQ(r.files, 5u);
    EXPECT_EQ(r.blocks, 3u + 1u + 2u);
    EXPECT_EQ(r.names, (std::vector<std::string>{"index.htm", "logo.bmp", "setup.htm", "zero.txt"}));
}

TEST(CramfsCheck, ImageFromMkfsCramfsWithSubdirectoryAndLinkPasses) {
    if (FindProgram("mkfs.cramfs").empty())
        GTEST_SKIP() << "mkfs.cramfs is not installed";
    TempDir dir;
    std::filesystem::create_directories(dir / "root/images");
    WriteFile((dir / "root/index.htm").string(), fixture::textBytes(9000));
    WriteFile((dir / "root/images/logo.bmp").string(), fixture::patternBytes(5000, 3));
    WriteFile(dir / "root/empty", "");
    std::filesystem::create_symlink("index.htm", dir / "root/home.htm");
    const ChildResult made =
        RunProgram({FindProgram("mkfs.cramfs"), (dir / "root").string(), (dir / "image").string()});
    ASSERT_EQ(made.status, 0) << made.err;
    sim::CramfsReport r = sim::checkCramfsImage(ReadBytes((dir / "image").string()));
    EXPECT_TRUE(r.ok) << r.problem;
    EXPECT_EQ(r.files, 6u);
}

TEST(CramfsCheck, DamagedImagesAreRejectedWithTheReason) {
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        const char* expected;
        bool fsckRejects;
    };
    const std::vector<Case> cases = {
        {"wrong magic", [](auto& b) { b[0] ^= 0x01; }, "bad magic", true},
        {"wrong signature",
         [](auto& b) {
             b[16] = 'c';
             fixture::fixCrc(b);
         },
         "signature", false},
        {"cut short", [](auto& b) { b.resize(b.size() - 4096); }, "size", true},
        // fsck.cramfs lets bytes after the file system pass; the tool never writes any, so the
        // recorder here takes them as a sign of a damaged package.
        {"longer than its size", [](auto& b) { b.resize(b.size() + 4096, 0); }, "size", false},
        {"flipped data byte", [](auto& b) { b[firstTable(b) + 20] ^= 0x40; }, "CRC-32", true},
        {"stored CRC changed", [](auto& b) { b[33] ^= 0x01; }, "CRC-32", true},
        {"no checksum flag",
         [](auto& b) {
             putLe32(b, 8, 2);
             fixture::fixCrc(b);
         },
         "checksum", false},
        {"block pointer beyond the image",
         [](auto& b) {
             putLe32(b, firstTable(b), uint32_t(b.size() + 100));
             fixture::fixCrc(b);
         },
         "points outside", true},
        {"block that does not inflate",
         [](auto& b) {
             size_t table = firstTable(b);
             size_t blocks = (10000 - 1) / 4096 + 1;
             for (size_t i = table + 4 * blocks; i < getLe32(b, table); ++i)
                 b[i] = 0xFF;
             fixture::fixCrc(b);
         },
         "does not decompress", true},
        {"file shorter than its blocks",
         [](auto& b) {
             putLe32(b, 76 + 4, 9000);
             fixture::fixCrc(b);
         },
         "decompresses to", true},
        {"wrong file count",
         [](auto& b) {
             putLe32(b, 44, 9);
             fixture::fixCrc(b);
         },
         "counts 9 files", false},
        {"wrong block count",
         [](auto& b) {
             putLe32(b, 40, 99);
             fixture::fixCrc(b);
         },
         "counts 99 blocks", false},
        {"root that is no directory",
         [](auto& b) {
             putLe32(b, 64, 0x81FF);
             fixture::fixCrc(b);
         },
         "root inode", true},
        {"directory cut inside an entry",
         [](auto& b) {
             putLe32(b, 68, 30);
             fixture::fixCrc(b);
         },
         "directory /", false},
        {"shorter than a superblock", [](auto& b) { b.resize(40); }, "shorter than a superblock", true},
    };
    bool haveFsck = !FindProgram("fsck.cramfs").empty();
    for (const auto& c : cases) {
        std::vector<uint8_t> image = webImage();
        c.damage(image);
        sim::CramfsReport r = sim::checkCramfsImage(image);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_NE(r.problem.find(c.expected), std::string::npos) << c.what << ": " << r.problem;
        if (haveFsck && c.fsckRejects) {
            EXPECT_NE(fsckStatus(image), 0) << c.what << ": fsck.cramfs accepts the damaged image";
        }
    }
}
