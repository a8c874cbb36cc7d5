// The writer at its limits: files over 16 MB and a directory too big for the root inode. Heavy
// on memory and file opens but not on threads, so kept out of the ThreadSanitizer run.
#include "package/RomImage.h"
#include "tests/package/RomImageReader.h"
#include "tests/package/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class RomImageLimitsTest : public ::testing::Test {
protected:
    std::string Make(const std::string& name, const Bytes& data) {
        std::string path = dir_ / name;
        WriteFile(path, data);
        return path;
    }
    TempDir dir_;
};

TEST_F(RomImageLimitsTest, FilesOver16MBAreCut) {
    std::string big = dir_ / "big";
    Bytes head = RandomBytes(10000, 7);
    WriteFile(big, head);
    ASSERT_EQ(::truncate(big.c_str(), 16777216 + 100), 0);
    std::string out = dir_ / "img";
    ASSERT_EQ(WriteImage(out, {big}), 0);
    Bytes img = ReadBytes(out);
    auto d = Directory(img);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].size, 0xFFFFFFu);
    EXPECT_EQ(Get32(img, 40), 4096u);
    Bytes want = head;
    want.resize(16777215, 0);
    EXPECT_EQ(CheckWithFsck(out, {{"big", want}}), "");
}

TEST_F(RomImageLimitsTest, DirectoryTooBigForTheRootInodeIsRefused) {
    // 63551 entries of 12 + 252 bytes exceed the 24-bit size of the root inode. Each has a
    // name of its own: two inputs of one name are refused before their sizes count.
    std::string out = dir_ / "img";
    std::vector<std::string> inputs;
    for (int i = 0; i < 63551; ++i) {
        std::string number = std::to_string(i);
        inputs.push_back(Make(std::string(252 - number.size(), 'n') + number, {}));
    }
    EXPECT_EQ(WriteImage(out, inputs), kRomExitFatal);
    EXPECT_FALSE(FileExists(out));
    inputs.pop_back();
    ASSERT_EQ(WriteImage(out, inputs), 0);
    EXPECT_EQ(Get32(ReadBytes(out), 44), 63551u);
}

} // namespace
