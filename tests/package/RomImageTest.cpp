// The image writer called in this process: image bytes against layouts written out by hand and
// against zlib's own compress(), every image checked by fsck.cramfs.
#include "package/RomImage.h"
#include "tests/package/RomImageReader.h"
#include "tests/package/TestSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace {

std::uint32_t CrcWithFieldZero(Bytes img) {
    Put32(img, 32, 0);
    return static_cast<std::uint32_t>(crc32(0, img.data(), static_cast<uInt>(img.size())));
}

Bytes Compress(const std::uint8_t* p, std::size_t n) {
    Bytes out(compressBound(n));
    uLongf len = out.size();
    EXPECT_EQ(compress(out.data(), &len, p, n), Z_OK);
    out.resize(len);
    return out;
}

void Append(Bytes& b, std::initializer_list<int> bytes) {
    for (int v : bytes)
        b.push_back(static_cast<std::uint8_t>(v));
}

void AppendText(Bytes& b, const char* s, std::size_t n) {
    b.insert(b.end(), s, s + n);
}

// Superblock for an image of the given length, counts and directory size, CRC field zero.
Bytes HandSuperblock(std::uint32_t length, std::uint32_t blocks, std::uint32_t files, std::uint32_t dirSize) {
    Bytes b;
    Append(b, {0x45, 0x3D, 0xCD, 0x28}); // magic
    Append(b, {int(length & 0xFF), int(length >> 8 & 0xFF), int(length >> 16 & 0xFF), int(length >> 24)});
    Append(b, {3, 0, 0, 0, 0, 0, 0, 0}); // flags, future
    AppendText(b, "Compressed ROMFS", 16);
    Append(b, {0, 0, 0, 0, 0, 0, 0, 0}); // crc (filled later), edition
    Append(b, {int(blocks & 0xFF), int(blocks >> 8 & 0xFF), 0, 0});
    Append(b, {int(files & 0xFF), int(files >> 8 & 0xFF), 0, 0});
    AppendText(b, "Compressed\0\0\0\0\0\0", 16);
    // root inode: mode 0x41FF, uid 0, size D, gid 0, name length 0, offset 19 (byte 76)
    Append(b, {0xFF, 0x41, 0, 0, int(dirSize & 0xFF), int(dirSize >> 8 & 0xFF), int(dirSize >> 16 & 0xFF), 0,
               0xC0, 0x04, 0, 0});
    return b;
}

class RomImageTest : public ::testing::Test {
protected:
    std::string Make(const std::string& name, const Bytes& data, mode_t mode = 0644) {
        std::string path = dir_ / name;
        WriteFile(path, data);
        ::chmod(path.c_str(), mode);
        return path;
    }
    TempDir dir_;
};

TEST_F(RomImageTest, SmallestImageIsOneEmptyFileInOneBlock) {
    std::string e = Make("e", {});
    std::string out = dir_ / "img";
    ASSERT_EQ(WriteImage(out, {e}), 0);

    Bytes want = HandSuperblock(4096, 0, 2, 16);
    Append(want, {0xA4, 0x81, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0}); // 0100644, size 0, name 1 unit, offset 0
    Append(want, {'e', 0, 0, 0});
    want.resize(4096, 0);
    Put32(want, 32, static_cast<std::uint32_t>(crc32(0, want.data(), 4096)));

    Bytes img = ReadBytes(out);
    EXPECT_EQ(img, want);
    EXPECT_EQ(CheckWithFsck(out, {{"e", {}}}), "");
}

TEST_F(RomImageTest, OneSmallFileMatchesHandLayout) {
    const char text[] = "hello world";
    Bytes content(text, text + 11);
    std::string f = Make("ab", content, 0600);
    std::string out = dir_ / "img";
    ASSERT_EQ(WriteImage(out, {f}), 0);

    Bytes z = Compress(content.data(), content.size());
    std::uint32_t end = 96 + static_cast<std::uint32_t>(z.size());
    Bytes want = HandSuperblock(4096, 1, 2, 16);
    // 0100600, size 11, name 1 unit, data at byte 92 (23 units)
    Append(want, {0x80, 0x81, 0, 0, 11, 0, 0, 0, 0xC1, 0x05, 0, 0});
    Append(want, {'a', 'b', 0, 0});
    Append(want, {int(end & 0xFF), int(end >> 8), 0, 0}); // one block pointer
    want.insert(want.end(), z.begin(), z.end());
    want.resize(4096, 0);
    Put32(want, 32, static_cast<std::uint32_t>(crc32(0, want.data(), 4096)));

    EXPECT_EQ(ReadBytes(out), want);
    EXPECT_EQ(CheckWithFsck(out, {{"ab", content}}), "");
}

// Walks a file's pointer table: every block must be zlib's compress() of its slice, packed back
// to back right after the table.
void ExpectBlocks(const Bytes& img, const Inode& n, const Bytes& content) {
    std::size_t count = (n.size - 1) / 4096 + 1;
    std::size_t start = n.offsetUnits * 4;
    std::size_t at = start + 4 * count;
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t len = std::min<std::size_t>(4096, content.size() - 4096 * i);
        Bytes z = Compress(content.data() + 4096 * i, len);
        ASSERT_EQ(Get32(img, start + 4 * i), at + z.size()) << n.name << " block " << i;
        EXPECT_TRUE(std::equal(z.begin(), z.end(), img.begin() + static_cast<long>(at)))
            << n.name << " " << i;
        at += z.size();
    }
}

TEST_F(RomImageTest, BlockBoundariesAndPointerTables) {
    Bytes c4096 = TextBytes(4096, 1), c4097 = TextBytes(4097, 2), c1 = {'x'};
    std::string out = dir_ / "img";
    ASSERT_EQ(WriteImage(out, {Make("f4097", c4097), Make("f4096", c4096), Make("f1", c1)}), 0);
    Bytes img = ReadBytes(out);
    auto d = Directory(img);
    ASSERT_EQ(d.size(), 3u);
    EXPECT_EQ(d[0].name, "f1");
    EXPECT_EQ(d[1].name, "f4096");
    EXPECT_EQ(d[2].name, "f4097");
    // D = 12 + 4 for "f1", 12 + 8 for each of the others.
    std::size_t dataStart = 76 + 16 + 20 + 20;
    EXPECT_EQ(d[0].offsetUnits * 4, dataStart);
    for (const auto& n : d)
        EXPECT_EQ(n.offsetUnits * 4 % 4, 0u);
    ExpectBlocks(img, d[0], c1);
    ExpectBlocks(img, d[1], c4096);
    ExpectBlocks(img, d[2], c4097);
    // A table of one pointer, then of two; each file's data starts at the aligned end of the last.
    EXPECT_EQ(d[1].offsetUnits * 4, (Get32(img, dataStart) + 3) / 4 * 4);
    std::size_t t4096 = d[1].offsetUnits * 4;
    EXPECT_EQ(d[2].offsetUnits * 4, (Get32(img, t4096) + 3) / 4 * 4);
    EXPECT_EQ(Get32(img, 40), 1u + 1u + 2u); // fsid blocks
    EXPECT_EQ(Get32(img, 44), 4u);           // fsid files
    EXPECT_EQ(Get32(img, 4), img.size());
    EXPECT_EQ(img.size() % 4096, 0u);
    EXPECT_EQ(Get32(img, 32), CrcWithFieldZero(img));
    EXPECT_EQ(CheckWithFsck(out, {{"f1", c1}, {"f4096", c4096}, {"f4097", c4097}}), "");
}

TEST_F(RomImageTest, DirectoryIsSortedBytewiseAndStable) {
    std::string out = dir_ / "img";
    std::vector<std::string> inputs = {Make("b.htm", {3}),     Make("a.gif", {1}), Make("A.gif", {4}),
                                       Make("\xE9t\xE9", {5}), Make("ab", {6}),    Make("a", {7})};
    ASSERT_EQ(WriteImage(out, inputs), 0);
    Bytes img = ReadBytes(out);
    std::vector<std::string> names;
    std::vector<std::uint32_t> sizes;
    for (const auto& n : Directory(img)) {
        names.push_back(n.name);
        sizes.push_back(n.size);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"A.gif", "a", "a.gif", "ab", "b.htm", "\xE9t\xE9"}));
    EXPECT_EQ(sizes, (std::vector<std::uint32_t>{1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(Fsck({"-v", out}).status, 0);
    // With --extract, -v lists the entries in directory order.
    TempDir x;
    ChildResult v = Fsck({"-v", "--extract=" + (x / "root").string(), out});
    ASSERT_EQ(v.status, 0) << v.out << v.err;
    const std::string& listing = v.out;
    EXPECT_LT(listing.find("/A.gif"), listing.find("/a.gif"));
    EXPECT_LT(listing.find("/a.gif"), listing.find("/b.htm"));
    EXPECT_LT(listing.find("/b.htm"), listing.find("/\xE9t\xE9"));
    EXPECT_NE(listing.find("/\xE9t\xE9"), std::string::npos);
}

TEST_F(RomImageTest, EmptyFileHasNoDataButCounts) {
    Bytes h = TextBytes(5000, 3);
    std::string out = dir_ / "img";
    ASSERT_EQ(WriteImage(out, {Make("z", {}), Make("h", h)}), 0);
    Bytes img = ReadBytes(out);
    auto d = Directory(img);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[1].name, "z");
    EXPECT_EQ(d[1].size, 0u);
    EXPECT_EQ(d[1].offsetUnits, 0u);
    EXPECT_EQ(Get32(img, 44), 3u);
    EXPECT_EQ(Get32(img, 40), 2u);
    EXPECT_EQ(CheckWithFsck(out, {{"z", {}}, {"h", h}}), "");
}

TEST_F(RomImageTest, SecondImageInSameProcessStartsAfresh) {
    Bytes a = TextBytes(9000, 4), b = RandomBytes(5000, 5);
    std::string pa = Make("a", a), pb = Make("b", b);
    std::string first = dir_ / "first", second = dir_ / "second", alone = dir_ / "alone";
    ASSERT_EQ(WriteImage(first, {pa, pb}), 0);
    ASSERT_EQ(WriteImage(second, {pb}), 0);
    Bytes img = ReadBytes(second);
    EXPECT_EQ(Get32(img, 44), 2u);
    EXPECT_EQ(Get32(img, 40), 2u);
    ASSERT_EQ(WriteImage(alone, {pb}), 0);
    EXPECT_EQ(img, ReadBytes(alone));
    EXPECT_EQ(CheckWithFsck(second, {{"b", b}}), "");
}

TEST_F(RomImageTest, LongNamesAreCutToWhatTheInodeCanHold) {
    std::string n252(252, 'k'), n253(253, 'm'), n255(255, 'p');
    Bytes c = TextBytes(100, 6);
    std::string out = dir_ / "img";
    ASSERT_EQ(WriteImage(out, {Make(n252, c), Make(n253, c), Make(n255, c)}), 0);
    Bytes img = ReadBytes(out);
    auto d = Directory(img);
    ASSERT_EQ(d.size(), 3u);
    for (const auto& n : d) {
        EXPECT_EQ(n.nameUnits, 63u);
        EXPECT_EQ(n.name.size(), 252u);
    }
    EXPECT_EQ(d[0].name, n252);
    EXPECT_EQ(d[1].name, n253.substr(0, 252));
    EXPECT_EQ(d[2].name, n255.substr(0, 252));
    EXPECT_EQ(CheckWithFsck(out, {{n252, c}, {n253.substr(0, 252), c}, {n255.substr(0, 252), c}}), "");
}

TEST_F(RomImageTest, ImageIsTheSameOnAnyNumberOfThreads) {
    std::vector<std::pair<std::string, Bytes>> files;
    std::vector<std::string> inputs;
    // Over 1 MB in all, so the inputs are read on several threads too.
    std::size_t sizes[] = {0, 1, 4095, 4096, 4097, 70000, 300000, 131072, 600000, 12345};
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        Bytes c = i % 2 ? RandomBytes(sizes[i], 10 + static_cast<std::uint32_t>(i))
                        : TextBytes(sizes[i], 10 + static_cast<std::uint32_t>(i));
        std::string name = "file" + std::to_string(i) + (i % 2 ? ".jpg" : ".htm");
        inputs.push_back(Make(name, c));
        files.emplace_back(name, c);
    }
    std::string one = dir_ / "one";
    ASSERT_EQ(WriteImage(one, inputs, 1), 0);
    Bytes ref = ReadBytes(one);
    for (unsigned threads : {2u, 3u, 8u, 0u}) {
        std::string out = dir_ / ("img" + std::to_string(threads));
        ASSERT_EQ(WriteImage(out, inputs, threads), 0);
        EXPECT_EQ(ReadBytes(out), ref) << threads << " threads";
    }
    for (const auto& n : Directory(ref)) {
        for (const auto& [name, c] : files)
            if (name == n.name && !c.empty())
                ExpectBlocks(ref, n, c);
    }
    EXPECT_EQ(CheckWithFsck(one, files), "");
}

TEST_F(RomImageTest, FailuresReturnTheirStatusAndCreateNoOutput) {
    std::string good = Make("good", TextBytes(100, 8));
    std::string out = dir_ / "img";
    EXPECT_EQ(WriteImage(out, {good, dir_ / "missing"}), kRomExitFailure);
    EXPECT_FALSE(FileExists(out));

    EXPECT_EQ(WriteImage(out, {good, dir_.path()}), kRomExitFailure); // a directory is no input

    // The workers are already compressing the first input when the second one fails.
    std::string big = Make("a_big", RandomBytes(1 << 20, 9));
    EXPECT_EQ(WriteImage(out, {dir_ / "z_missing", big}, 2), kRomExitFailure);

    // Nor is a FIFO; with no writer at its other end, opening it must not hang the caller.
    std::string fifo = dir_ / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(WriteImage(out, {good, fifo}), kRomExitFailure);

    EXPECT_EQ(WriteImage(dir_ / "no/such/dir/img", {good}), kRomExitFailure);

    std::string dirOnly = dir_ / "unused";
    const char* argv[] = {"mkcramfs", dirOnly.c_str(), nullptr};
    EXPECT_EQ(WriteRomImage(2, argv), kRomExitOk); // the usage message, nothing written
    EXPECT_FALSE(FileExists(dirOnly));

    // Nothing was left beside the output; a good image can still be written afterwards.
    EXPECT_EQ(FolderEntries(dir_.path()), (std::vector<std::string>{"a_big", "fifo", "good"}));
    ASSERT_EQ(WriteImage(out, {good}), 0);
    EXPECT_EQ(CheckWithFsck(out, {{"good", TextBytes(100, 8)}}), "");
}

} // namespace
