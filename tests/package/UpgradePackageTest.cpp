// The installer script, the zip step and the package builder: script bytes against the text
// written out here, archives checked with unzip -t and by their raw headers, images with
// fsck.cramfs, and no temporary file left behind.
#include "package/UpgradePackage.h"
#include "package/RomImage.h"
#include "tests/package/TestSupport.h"
#include "tests/package/ZipReader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>

namespace {

// The installer script, piece by piece as its source lines ran, joined with nothing between.
const char* const kScriptPieces[] = {
    "local flashSectorSize = 0x10000;  local Installer = {}; Installer.TotalSize      = 0; ",
    "Installer.InProgressSize = 0;  function Installer:notify() ",
    "\tself.InProgressSize = self.InProgressSize + flashSectorSize;  ",
    "\tlocal progress = self.InProgressSize / self.TotalSize * 100; ",
    "\tif(progress > 100) then \t\tprogress = 100; ",
    "\tend; \tprogress = tonumber(string.format(\"%d\", progress));  ",
    "\tself.callback(0x01, progress); end  function Installer:preInstall() ",
    "\tlocal board = Global.Hardware.board; \treturn true; end  function Installer:postInstall() end  ",
    "function Installer:updateVendor(part, filename) ",
    "\tlocal myfile = self.ZipArchive:open(filename);  ",
    "\tif(not myfile) then \t\tprint(string.format(\"%s not exist\", filename)); ",
    "\t\treturn ; \tend  \tlocal addr   = part.baseAddr; ",
    "\tlocal endAddr= part.endAddr; \tlocal data;  ",
    "\twhile(addr < endAddr) do \t\tmtd.erase(addr); ",
    "\t\tdata = myfile:read(flashSectorSize);  \t\tif(data) then ",
    "\t\t\tmtd.write(addr, data); \t\t\tself:notify(); ",
    "\t\tend  \t\taddr   = addr   + flashSectorSize; ",
    "\tend \tmyfile:close(); end  function Installer:execute()  ",
    "\tlocal flashPartions = \t{ \t\tarmboot = { baseAddr = 0x80000000  , endAddr = 0x80020000 }, ",
    "\t\tcustom  = { baseAddr = 0x80020000  , endAddr = 0x80030000 }, ",
    "\t\tromfs  = { baseAddr = 0x80030000  , endAddr = 0x80630000 }, ",
    "\t\tweb    = { baseAddr = 0x80630000  , endAddr = 0x80780000 }, ",
    "\t\tuserdata= { baseAddr = 0x80780000  , endAddr = 0x807c0000 }, ",
    "\t\tlogo  = { baseAddr = 0x807c0000  , endAddr = 0x80800000 }, ",
    "\t}  \tassert(self.ZipArchive); \tlocal zfile = self.ZipArchive;  ",
    "\tlocal ret, info = self:preInstall(); \tif(not ret) then ",
    "\t\treturn false, info; \tend  \tlocal TotalSize = 0; ",
    "\tfor file in zfile:files() do \t\tprint(file.filename); ",
    "\t\tTotalSize = TotalSize + file.uncompressed_size; ",
    "\tend \tself.TotalSize  = TotalSize; \tmtd.init(); ",
    "\tself:updateVendor(flashPartions[\"logo\"],  \"logo.cramfs\"); ",
    "\tself:updateVendor(flashPartions[\"web\"],  \"web.cramfs\"); ",
    "\tself:postInstall(); \treturn true; end  return Installer; ",
};

std::string ExpectedScript() {
    std::string s;
    for (const char* p : kScriptPieces)
        s += p;
    return s;
}

std::string Unzip(const std::string& zip, const std::string& entry) {
    ChildResult r = RunProgram({"unzip", "-p", zip, entry});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

Bytes ToBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::uint32_t Crc(const std::string& s) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

class PackageTest : public ::testing::Test {
protected:
    std::string Make(const std::string& name, const Bytes& data) {
        std::string path = inputs_ / name;
        WriteFile(path, data);
        return path;
    }

    // Builds a package under root_; checks that the result names the package, alone in its
    // private directory.
    std::string Build(const std::vector<std::string>& files, const std::string& packagePath) {
        std::string built;
        EXPECT_EQ(BuildUpgradePackage(static_cast<int>(files.size()), files.data(), packagePath, built,
                                      root_.path()),
                  kPackageOk);
        EXPECT_FALSE(built.empty());
        auto dirs = FolderEntries(root_.path());
        EXPECT_EQ(dirs.size(), 1u);
        if (dirs.size() == 1) {
            EXPECT_EQ(dirs[0].substr(0, 17), "kestrion-package.");
            EXPECT_EQ(built, (root_ / dirs[0]).string() + "/" + std::string(BaseNameOf(packagePath)));
            auto inside = std::filesystem::directory_iterator(root_ / dirs[0]);
            EXPECT_EQ(std::distance(inside, std::filesystem::directory_iterator()), 1);
        }
        return built;
    }

    // The package's entries must be exactly the script and the image of files, in that order,
    // with the headers every entry gets.
    void ExpectPackage(const std::string& package, const char* imageName,
                       const std::vector<std::string>& files,
                       std::vector<std::pair<std::string, Bytes>> contents) {
        ChildResult t = RunProgram({"unzip", "-t", package});
        EXPECT_EQ(t.status, 0) << t.out << t.err;
        EXPECT_NE(t.out.find("No errors detected"), std::string::npos) << t.out;

        std::string script = Unzip(package, "Install.lua");
        std::string image = Unzip(package, imageName);
        EXPECT_EQ(script, ExpectedScript());

        TempDir ref;
        ASSERT_EQ(WriteImage(ref / "img", files), 0);
        Bytes refImage = ReadBytes(ref / "img");
        EXPECT_EQ(ToBytes(image), refImage);
        WriteFile(ref / "got", image);
        EXPECT_EQ(CheckWithFsck(ref / "got", contents), "");

        ZipHeaders h = ReadZipHeaders(ReadBytes(package));
        EXPECT_EQ(h.commentLength, 0);
        ASSERT_EQ(h.totalEntries, 2);
        ASSERT_EQ(h.entries.size(), 2u);
        EXPECT_EQ(h.entries[0].name, "Install.lua");
        EXPECT_EQ(h.entries[1].name, imageName);
        const std::string* data[] = {&script, &image};
        for (std::size_t i = 0; i < 2; ++i) {
            const ZipEntryHeaders& e = h.entries[i];
            SCOPED_TRACE(e.name);
            EXPECT_EQ(e.localSignature, 0x04034B50u);
            EXPECT_EQ(e.centralSignature, 0x02014B50u);
            EXPECT_EQ(e.localName, e.name);
            EXPECT_EQ(e.versionMadeBy, 0);
            EXPECT_EQ(e.versionNeeded, 20);
            EXPECT_EQ(e.localVersionNeeded, 20);
            EXPECT_EQ(e.flags, 0);
            EXPECT_EQ(e.localFlags, 0);
            EXPECT_EQ(e.method, 8);
            EXPECT_EQ(e.localMethod, 8);
            EXPECT_EQ(e.time, 0);
            EXPECT_EQ(e.localTime, 0);
            EXPECT_EQ(e.date, 0x0020);
            EXPECT_EQ(e.localDate, 0x0020);
            EXPECT_EQ(e.extraLength, 0);
            EXPECT_EQ(e.localExtraLength, 0);
            EXPECT_EQ(e.commentLength, 0);
            EXPECT_EQ(e.diskStart, 0);
            EXPECT_LE(e.internalAttributes, 1); // minizip marks what zlib takes for text
            EXPECT_EQ(e.externalAttributes, 0u);
            EXPECT_EQ(e.crc, Crc(*data[i]));
            EXPECT_EQ(e.localCrc, e.crc);
            EXPECT_EQ(e.uncompressed, data[i]->size());
            EXPECT_EQ(e.localUncompressed, e.uncompressed);
            EXPECT_EQ(e.localCompressed, e.compressed);
        }
        EXPECT_EQ(h.entries[0].localOffset, 0u);
        EXPECT_EQ(h.entries[1].localOffset, h.entries[0].dataOffset + h.entries[0].compressed);
    }

    TempDir inputs_;
    TempDir root_; // temporary root given to the builder: must be empty after every test
};

TEST_F(PackageTest, InstallScriptIsTheFixedText) {
    std::string expected = ExpectedScript();
    ASSERT_EQ(expected.size(), 1938u);
    std::string path;
    ASSERT_EQ(WriteInstallScript(path, inputs_.path()), 0);
    EXPECT_EQ(path, inputs_ / "Install.lua");
    Bytes got = ReadBytes(path);
    EXPECT_EQ(got, ToBytes(expected));
    EXPECT_EQ(std::count(got.begin(), got.end(), '\n'), 0);
    EXPECT_EQ(std::count(got.begin(), got.end(), '\r'), 0);
    EXPECT_NE(got.front(), 0xEF); // no byte order mark

    testing::internal::CaptureStdout();
    EXPECT_EQ(WriteInstallScript(path, inputs_ / "missing"), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "fopen " + (inputs_ / "missing/Install.lua").string() + " fail\n");
    EXPECT_EQ(path, "");
}

TEST_F(PackageTest, LogoPackageHoldsScriptThenLogoImage) {
    Bytes a = RandomBytes(20000, 41), b = RandomBytes(30000, 42);
    std::vector<std::string> files = {Make("b.bmp", b), Make("a.bmp", a)};
    std::string package = Build(files, "C:\\temp_logo.bin");
    EXPECT_EQ(BaseNameOf(package), "temp_logo.bin");
    ExpectPackage(package, "logo.cramfs", files, {{"a.bmp", a}, {"b.bmp", b}});
    EXPECT_EQ(RemoveUpgradePackage(package), 0);
    EXPECT_TRUE(FolderEntries(root_.path()).empty());
}

TEST_F(PackageTest, WebPackageHoldsScriptThenWebImage) {
    Bytes page = TextBytes(200000, 43), pic = RandomBytes(50000, 44);
    std::vector<std::string> files = {Make("index.htm", page), Make("pic.jpg", pic)};
    std::string package = Build(files, "C:\\tmp_web.bin");
    EXPECT_EQ(BaseNameOf(package), "tmp_web.bin");
    ExpectPackage(package, "web.cramfs", files, {{"index.htm", page}, {"pic.jpg", pic}});
    EXPECT_EQ(RemoveUpgradePackage(package), 0);
    EXPECT_TRUE(FolderEntries(root_.path()).empty());
}

TEST_F(PackageTest, PathWithLogoAndWebIsALogoPackage) {
    std::vector<std::string> files = {Make("x.bmp", {1, 2, 3})};
    std::string package = Build(files, "/web/logo.bin");
    ExpectPackage(package, "logo.cramfs", files, {{"x.bmp", {1, 2, 3}}});
    EXPECT_EQ(RemoveUpgradePackage(package), 0);
}

TEST_F(PackageTest, OnlyTheFirstTenFilesGoIntoTheImage) {
    std::vector<std::string> files;
    std::vector<std::pair<std::string, Bytes>> contents;
    for (int i = 0; i < 12; ++i) {
        // The two left out would sort first.
        std::string name = (i < 10 ? "p" : "a") + std::to_string(i) + ".htm";
        Bytes c = TextBytes(1000 + static_cast<std::size_t>(i), 50 + static_cast<std::uint32_t>(i));
        files.push_back(Make(name, c));
        if (i < 10)
            contents.emplace_back(name, c);
    }
    std::string package = Build(files, "tmp_web.bin");
    ExpectPackage(package, "web.cramfs", std::vector<std::string>(files.begin(), files.begin() + 10),
                  contents);
    TempDir t;
    WriteFile(t / "img", Unzip(package, "web.cramfs"));
    EXPECT_EQ(Get32(ReadBytes(t / "img"), 44), 11u);
    EXPECT_EQ(RemoveUpgradePackage(package), 0);
}

TEST_F(PackageTest, FailuresLeaveNothingBehind) {
    std::vector<std::string> good = {Make("g.htm", TextBytes(100, 60))};
    std::string built = "stale";

    testing::internal::CaptureStdout();
    EXPECT_EQ(BuildUpgradePackage(1, good.data(), "C:\\tmp_pkg.bin", built, root_.path()), kPackageFailed);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Unknow file type!\n");
    EXPECT_EQ(built, "");

    // An unreadable input: the image writer's failure comes back as a result, not an exit.
    std::vector<std::string> missing = {good[0], inputs_ / "missing.htm"};
    EXPECT_EQ(BuildUpgradePackage(2, missing.data(), "tmp_web.bin", built, root_.path()), kPackageFailed);
    EXPECT_EQ(built, "");

    EXPECT_EQ(BuildUpgradePackage(0, good.data(), "tmp_web.bin", built, root_.path()), kPackageFailed);
    EXPECT_EQ(built, "");

    // More than the logo partition holds: the script would drop the tail of the image.
    std::vector<std::string> big;
    for (int i = 0; i < 3; ++i)
        big.push_back(
            Make("big" + std::to_string(i) + ".bmp", RandomBytes(90000, 61 + static_cast<std::uint32_t>(i))));
    testing::internal::CaptureStdout();
    EXPECT_EQ(BuildUpgradePackage(3, big.data(), "temp_logo.bin", built, root_.path()), kPackageFailed);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("logo.cramfs of 274432 bytes does not fit its flash partition of 262144 bytes\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(built, "");
    // Two of them fit.
    std::string package = Build(std::vector<std::string>(big.begin(), big.begin() + 2), "temp_logo.bin");
    EXPECT_EQ(RemoveUpgradePackage(package), 0);

    EXPECT_TRUE(FolderEntries(root_.path()).empty());
}

// Runs fn in a child process whose files cannot grow past limit bytes (a longer write fails
// with EFBIG rather than stopping the process), both output streams captured.
ChildResult RunWithFileSizeLimit(rlim_t limit, const std::function<int()>& fn) {
    TempDir capture;
    std::string outPath = capture / "out", errPath = capture / "err";
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = ::fork();
    if (pid == 0) {
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
            ::_exit(120);
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit r{limit, limit};
        if (::setrlimit(RLIMIT_FSIZE, &r) != 0)
            ::_exit(121);
        int status = fn();
        std::fflush(nullptr);
        ::_exit(status & 0xFF);
    }
    ChildResult r;
    int wstatus = 0;
    if (pid < 0 || ::waitpid(pid, &wstatus, 0) != pid)
        return r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    Bytes o = ReadBytes(outPath), e = ReadBytes(errPath);
    r.out.assign(o.begin(), o.end());
    r.err.assign(e.begin(), e.end());
    return r;
}

// A failed image write is named first, with the system's reason, then the inputs one by one.
TEST_F(PackageTest, FailedImageWriteIsNamedBeforeTheInputs) {
    std::filesystem::create_directory(inputs_ / "web");
    std::vector<std::string> pages = {Make("web/p1.htm", RandomBytes(100000, 80)),
                                      Make("web/p2.htm", RandomBytes(100000, 81))};
    ChildResult r = RunWithFileSizeLimit(64 << 10, [&] {
        std::string built;
        return BuildUpgradePackage(2, pages.data(), "tmp_web.bin", built, root_.path());
    });
    EXPECT_EQ(r.status, 0xFF); // kPackageFailed
    EXPECT_EQ(r.err.substr(0, 23), "ROM image write failed ") << r.err;
    EXPECT_TRUE(r.err.ends_with(")\nwrite: File too large\n")) << r.err;
    EXPECT_TRUE(r.out.ends_with("web.cramfs could not be written; the package was not built from:\n  " +
                                pages[0] + "\n  " + pages[1] + "\n"))
        << r.out;
    EXPECT_TRUE(FolderEntries(root_.path()).empty());
}

TEST_F(PackageTest, PackagePathThatIsAnInputIsRefused) {
    std::string page = Make("tmp_web.htm", TextBytes(300, 82));
    std::vector<std::string> files = {Make("a.htm", TextBytes(300, 83)), page};
    testing::internal::CaptureStdout();
    EXPECT_EQ(BuildUpgradePackageAt(2, files.data(), page, root_.path()), kPackageFailed);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), page + " is one of the files to pack\n");
    EXPECT_EQ(ReadBytes(page), TextBytes(300, 82));
    EXPECT_TRUE(FolderEntries(root_.path()).empty());
}

TEST_F(PackageTest, TypeComesFromTheGivenNameNotTheTemporaryRoot) {
    TempDir parent;
    std::filesystem::create_directory(parent / "logo-web");
    std::vector<std::string> files = {Make("i.htm", TextBytes(100, 70))};
    std::string built;
    EXPECT_EQ(BuildUpgradePackage(1, files.data(), "C:\\tmp.bin", built, parent / "logo-web"),
              kPackageFailed);
    EXPECT_EQ(BuildUpgradePackage(1, files.data(), "C:\\tmp_web.bin", built, parent / "logo-web"),
              kPackageOk);
    EXPECT_EQ(Unzip(built, "web.cramfs").size() % 4096, 0u);
    EXPECT_EQ(RemoveUpgradePackage(built), 0);
    EXPECT_TRUE(std::filesystem::is_empty(parent / "logo-web"));
}

TEST_F(PackageTest, PackageAtAGivenPathReplacesAStaleOne) {
    std::string path = inputs_ / "tmp_web.bin";
    WriteFile(path, std::string("an old package"));
    std::vector<std::string> missing = {inputs_ / "missing.htm"};
    EXPECT_EQ(BuildUpgradePackageAt(1, missing.data(), path, root_.path()), kPackageFailed);
    EXPECT_FALSE(FileExists(path));

    WriteFile(path, std::string("an old package"));
    Bytes page = TextBytes(5000, 71);
    std::vector<std::string> files = {Make("i.htm", page)};
    EXPECT_EQ(BuildUpgradePackageAt(1, files.data(), path, root_.path()), kPackageOk);
    ExpectPackage(path, "web.cramfs", files, {{"i.htm", page}});
    EXPECT_TRUE(FolderEntries(root_.path()).empty());
}

TEST_F(PackageTest, ZipStepReportsFailedEntries) {
    std::string a = Make("a.txt", TextBytes(40000, 80));
    std::string zip = inputs_ / "out.zip";

    testing::internal::CaptureStdout();
    const char* argv[] = {"zip", zip.c_str(), "-x", a.c_str(), nullptr};
    EXPECT_EQ(ZipFiles(4, argv), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "creating " + zip + "\n");
    ZipHeaders h = ReadZipHeaders(ReadBytes(zip));
    ASSERT_EQ(h.entries.size(), 1u); // the option word was skipped
    EXPECT_EQ(h.entries[0].name, "a.txt");
    EXPECT_EQ(RunProgram({"unzip", "-t", zip}).status, 0);

    std::string missing = inputs_ / "missing";
    testing::internal::CaptureStdout();
    const char* bad[] = {"zip", zip.c_str(), missing.c_str(), a.c_str(), nullptr};
    EXPECT_NE(ZipFiles(4, bad), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "creating " + zip + "\nerror in opening " + missing + " for reading\n");

    std::string noDir = inputs_ / "none/out.zip";
    testing::internal::CaptureStdout();
    const char* noArchive[] = {"zip", noDir.c_str(), a.c_str(), nullptr};
    EXPECT_NE(ZipFiles(3, noArchive), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "error opening " + noDir + "\n");
    EXPECT_FALSE(FileExists(noDir));
}

TEST_F(PackageTest, RemovingAPackageTakesItsPrivateDirectory) {
    std::vector<std::string> files = {Make("i.htm", TextBytes(100, 90))};
    std::string package = Build(files, "tmp_web.bin");
    EXPECT_EQ(RemoveUpgradePackage(package), 0);
    EXPECT_TRUE(FolderEntries(root_.path()).empty());
    EXPECT_EQ(RemoveUpgradePackage(package), 0); // already gone
    EXPECT_EQ(RemoveUpgradePackage(""), 0);

    // Any other file is deleted, its directory left alone.
    std::string other = inputs_ / "other.bin";
    WriteFile(other, std::string("x"));
    EXPECT_EQ(RemoveUpgradePackage(other), 0);
    EXPECT_FALSE(FileExists(other));
    EXPECT_TRUE(FileExists(inputs_.path()));
}

} // namespace
