// The kit's temporary folders and files: everything made in a folder goes with it, and a file
// that cannot be read is an error, not an empty text.
#include "tests/common/TempDir.h"
#include "tests/common/Files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

TEST(TempDirTest, GoesWithEverythingInItReadOnlyFoldersIncluded) {
    fs::path kept;
    {
        TempDir dir("kst-kit");
        kept = dir.path();
        EXPECT_EQ(kept.parent_path(), fs::temp_directory_path());
        EXPECT_EQ(fs::status(kept).permissions() & fs::perms::all, fs::perms::owner_all);
        fs::create_directories(dir / "a/b");
        dir.Write("a/b/file", "x");
        fs::create_symlink("/", dir / "a/root");
        fs::permissions(dir / "a/b", fs::perms::owner_read | fs::perms::owner_exec);
        fs::permissions(dir / "a", fs::perms::none);
    }
    EXPECT_FALSE(FileExists(kept)) << kept;
    EXPECT_TRUE(fs::exists("/bin")); // the link to the root was not followed
}

TEST(TempDirTest, FilesAreWrittenReadAndListed) {
    TempDir dir;
    const std::string binary("a\0\r\n\xff", 5);
    EXPECT_EQ(ReadFile(dir.Write("text", binary)), binary);
    WriteFile(dir / "bytes", Bytes{0, 1, 0xfe});
    EXPECT_EQ(ReadBytes(dir / "bytes"), (Bytes{0, 1, 0xfe}));
    WriteFile(dir / "text", "shorter");
    EXPECT_EQ(ReadFile(dir / "text"), "shorter");
    EXPECT_EQ(ReadFile(dir.Sparse("sparse", "MZ", 5)), std::string("MZ\0\0\0", 5));
    fs::create_symlink("nowhere", dir / "dangling");
    EXPECT_TRUE(FileExists(dir / "dangling"));
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"bytes", "dangling", "sparse", "text"}));
}

TEST(TempDirTest, FailuresAreErrors) {
    TempDir dir;
    EXPECT_THROW(ReadFile(dir / "missing"), std::runtime_error);
    EXPECT_THROW(WriteFile(dir / "no/such/folder", "x"), std::runtime_error);
    EXPECT_FALSE(FileExists(dir / "missing"));
}

} // namespace
