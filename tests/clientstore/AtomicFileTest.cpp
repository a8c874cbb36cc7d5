#include "clientstore/AtomicFile.h"
#include "tests/common/Files.h"
#include "tests/common/TempDir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

namespace {

using Strings = std::vector<std::string>;

mode_t modeOf(const std::filesystem::path& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0);
    return st.st_mode & 07777;
}

TEST(AtomicFile, NewFileGetsTheBytesAsWrittenAndTheUmaskPermissions) {
    TempDir dir;
    const auto path = dir / "Data.xml";
    std::string text = "a\nb\r\n";
    text.push_back('\0');
    text += "c";
    ASSERT_TRUE(replaceFileAtomically(path, [&](std::ostream& out) { out << text; }));
    EXPECT_EQ(ReadFile(path), text);
    const mode_t mask = ::umask(022);
    ::umask(mask);
    EXPECT_EQ(modeOf(path), 0666 & ~mask);
    EXPECT_EQ(FolderEntries(dir.path()), Strings{"Data.xml"});
}

TEST(AtomicFile, TextOfManyBuffersArrivesWhole) {
    TempDir dir;
    const auto path = dir / "big.txt";
    std::string text;
    for (int i = 0; i < 50000; ++i) {
        text += std::to_string(i * 7919) + (i % 3 == 0 ? "\r\n" : " ");
    }
    ASSERT_TRUE(replaceFileAtomically(path, [&](std::ostream& out) {
        out.write(text.data(), 1);
        out << text.substr(1, 100000);
        out.write(text.data() + 100001, static_cast<std::streamsize>(text.size() - 100001));
    }));
    EXPECT_EQ(ReadFile(path), text);
}

TEST(AtomicFile, ReplacedFileKeepsItsPermissionsAndLinksStay) {
    TempDir dir;
    const auto real = dir / "real.xml";
    WriteFile(real, "old");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    const auto link = dir / "link.xml";
    std::filesystem::create_symlink(real, link);

    ASSERT_TRUE(replaceFileAtomically(link, [](std::ostream& out) { out << "new"; }));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(real), "new");
    EXPECT_EQ(modeOf(real), 0640u);
    EXPECT_EQ(FolderEntries(dir.path()), (Strings{"link.xml", "real.xml"}));
}

// A file size limit makes the kernel refuse the write half way, as a full disk would.
TEST(AtomicFile, WriteErrorLeavesTheOldFileByteForByte) {
    TempDir dir;
    const auto path = dir / "Data.xml";
    const std::string old = "<DATAROOT>\r\n\t<ORGINFO/>\r\n</DATAROOT>\r\n";
    WriteFile(path, old);

    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool ok = replaceFileAtomically(path, [](std::ostream& out) {
        for (int i = 0; i < 20000; ++i) {
            out << "<DEV id=\"" << i << "\"/>\n";
        }
    });
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(ok);
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_EQ(FolderEntries(dir.path()), Strings{"Data.xml"});
}

TEST(AtomicFile, WriterThatFailsItsStreamLeavesTheOldFile) {
    TempDir dir;
    const auto path = dir / "Data.xml";
    WriteFile(path, "old\r\n");
    EXPECT_FALSE(replaceFileAtomically(path, [](std::ostream& out) {
        out << "half";
        out.setstate(std::ios::badbit);
    }));
    EXPECT_EQ(ReadFile(path), "old\r\n");
    EXPECT_EQ(FolderEntries(dir.path()), Strings{"Data.xml"});
}

TEST(AtomicFile, MissingFolderOrFolderInTheWayFails) {
    TempDir dir;
    EXPECT_FALSE(replaceFileAtomically(dir / "XML/Data.xml", [](std::ostream& out) { out << "x"; }));
    EXPECT_TRUE(FolderEntries(dir.path()).empty());

    std::filesystem::create_directory(dir / "Data.xml");
    EXPECT_FALSE(replaceFileAtomically(dir / "Data.xml", [](std::ostream& out) { out << "x"; }));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "Data.xml"));
    EXPECT_EQ(FolderEntries(dir.path()), Strings{"Data.xml"});
}

TEST(AtomicFile, ReadOnlyFolderOrFileFailsAndKeepsTheOldFile) {
    TempDir dir;
    const auto path = dir / "Data.xml";
    WriteFile(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    if (::access(path.c_str(), W_OK) == 0) {
        GTEST_SKIP() << "this user may write to read-only files (root); the write-error test covers the path";
    }
    EXPECT_FALSE(replaceFileAtomically(path, [](std::ostream& out) { out << "new"; }));
    EXPECT_EQ(ReadFile(path), "old");
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    EXPECT_FALSE(replaceFileAtomically(path, [](std::ostream& out) { out << "new"; }));
    EXPECT_EQ(ReadFile(path), "old");
    EXPECT_EQ(FolderEntries(dir.path()), Strings{"Data.xml"});
}

} // namespace

namespace {

// Every refusal names its cause, the system's error text where there is one, and leaves no file.
TEST(AtomicFile, FailuresNameTheirCause) {
    TempDir dir;
    std::filesystem::create_directory(dir / "folder");
    std::filesystem::create_symlink(dir / "nowhere.xml", dir / "link.xml");
    WriteFile(dir / "kept.xml", "old");
    ReplaceOptions refuse;
    refuse.beforeRename = [] { return std::string("changed underneath"); };
    struct Case {
        std::filesystem::path path;
        ReplaceOptions options;
        std::string why;
    };
    const Case cases[] = {
        {dir / "missing/Data.xml", {}, "No such file or directory"},
        {dir / "folder", {}, "it is not a regular file"},
        {dir / "link.xml",
         {},
         (dir / "link.xml").string() + " is a symbolic link to " + (dir / "nowhere.xml").string() +
             ", which does not exist"},
        {dir / "kept.xml", refuse, "changed underneath"},
    };
    for (const Case& c : cases) {
        std::string why;
        EXPECT_FALSE(replaceFileAtomically(
            c.path, [](std::ostream& out) { out << "new"; }, &why, c.options));
        EXPECT_EQ(why, c.why) << c.path;
    }
    EXPECT_EQ(ReadFile(dir / "kept.xml"), "old");
    EXPECT_FALSE(std::filesystem::exists(dir / "nowhere.xml"));
    EXPECT_EQ(FolderEntries(dir.path()), (Strings{"folder", "kept.xml", "link.xml"}));
}

TEST(AtomicFile, NewFileModeIsTakenAndAnExistingModeKept) {
    TempDir dir;
    ReplaceOptions options;
    options.newFileMode = 0600;
    ASSERT_TRUE(replaceFileAtomically(
        dir / "new.xml", [](std::ostream& out) { out << "x"; }, nullptr, options));
    EXPECT_EQ(modeOf(dir / "new.xml"), 0600u);
    WriteFile(dir / "old.xml", "x");
    ASSERT_EQ(::chmod((dir / "old.xml").c_str(), 0664), 0);
    ASSERT_TRUE(replaceFileAtomically(
        dir / "old.xml", [](std::ostream& out) { out << "y"; }, nullptr, options));
    EXPECT_EQ(modeOf(dir / "old.xml"), 0664u);
}

} // namespace
