#include "package/UpgradePackage.h"

#include "package/RomImage.h"

#include <zip.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

// The installer script the recorder runs: one line, the ends of its source lines replaced by a
// single space, indented with tabs. The recorder compares it with nothing, but its Lua is 5.1,
// where string.format("%d", ...) of a fraction truncates instead of failing.
constexpr char kInstallScript[] =
    "local flashSectorSize = 0x10000;  local Installer = {}; Installer.TotalSize      = 0; "
    "Installer.InProgressSize = 0;  function Installer:notify() "
    "\tself.InProgressSize = self.InProgressSize + flashSectorSize;  "
    "\tlocal progress = self.InProgressSize / self.TotalSize * 100; "
    "\tif(progress > 100) then \t\tprogress = 100; "
    "\tend; \tprogress = tonumber(string.format(\"%d\", progress));  "
    "\tself.callback(0x01, progress); end  function Installer:preInstall() "
    "\tlocal board = Global.Hardware.board; \treturn true; end  function Installer:postInstall() end  "
    "function Installer:updateVendor(part, filename) "
    "\tlocal myfile = self.ZipArchive:open(filename);  "
    "\tif(not myfile) then \t\tprint(string.format(\"%s not exist\", filename)); "
    "\t\treturn ; \tend  \tlocal addr   = part.baseAddr; "
    "\tlocal endAddr= part.endAddr; \tlocal data;  "
    "\twhile(addr < endAddr) do \t\tmtd.erase(addr); "
    "\t\tdata = myfile:read(flashSectorSize);  \t\tif(data) then "
    "\t\t\tmtd.write(addr, data); \t\t\tself:notify(); "
    "\t\tend  \t\taddr   = addr   + flashSectorSize; "
    "\tend \tmyfile:close(); end  function Installer:execute()  "
    "\tlocal flashPartions = \t{ \t\tarmboot = { baseAddr = 0x80000000  , endAddr = 0x80020000 }, "
    "\t\tcustom  = { baseAddr = 0x80020000  , endAddr = 0x80030000 }, "
    "\t\tromfs  = { baseAddr = 0x80030000  , endAddr = 0x80630000 }, "
    "\t\tweb    = { baseAddr = 0x80630000  , endAddr = 0x80780000 }, "
    "\t\tuserdata= { baseAddr = 0x80780000  , endAddr = 0x807c0000 }, "
    "\t\tlogo  = { baseAddr = 0x807c0000  , endAddr = 0x80800000 }, "
    "\t}  \tassert(self.ZipArchive); \tlocal zfile = self.ZipArchive;  "
    "\tlocal ret, info = self:preInstall(); \tif(not ret) then "
    "\t\treturn false, info; \tend  \tlocal TotalSize = 0; "
    "\tfor file in zfile:files() do \t\tprint(file.filename); "
    "\t\tTotalSize = TotalSize + file.uncompressed_size; "
    "\tend \tself.TotalSize  = TotalSize; \tmtd.init(); "
    "\tself:updateVendor(flashPartions[\"logo\"],  \"logo.cramfs\"); "
    "\tself:updateVendor(flashPartions[\"web\"],  \"web.cramfs\"); "
    "\tself:postInstall(); \treturn true; end  return Installer; ";
static_assert(sizeof kInstallScript - 1 == kInstallScriptSize);

constexpr std::size_t kCopyBufferSize = 16384;
constexpr char kWorkDirPrefix[] = "kestrion-build.";
constexpr char kPackageDirPrefix[] = "kestrion-package.";

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f)
            std::fclose(f);
    }
};

std::string TempRoot(const std::string& strTempRoot) {
    std::string root = strTempRoot;
    if (root.empty()) {
        const char* env = std::getenv("TMPDIR");
        root = env && *env ? env : "/tmp";
    }
    // The zip step skips words that begin with '-'.
    if (root[0] == '-')
        root = "./" + root;
    return root;
}

// Makes a private directory under root; empty on failure, after its message.
std::string MakePrivateDir(const std::string& root, const char* prefix) {
    std::string tmpl = root + "/" + prefix + "XXXXXX";
    if (!::mkdtemp(tmpl.data())) {
        std::printf("mkdtemp %s fail: %s\n", tmpl.c_str(), std::strerror(errno));
        return {};
    }
    return tmpl;
}

// Removes a private directory and whatever the builder left in it.
class PrivateDir {
public:
    explicit PrivateDir(std::string path) : m_path(std::move(path)) {}
    ~PrivateDir() {
        if (!m_path.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(m_path, ec);
        }
    }
    PrivateDir(const PrivateDir&) = delete;
    PrivateDir& operator=(const PrivateDir&) = delete;
    const std::string& path() const { return m_path; }
    void Keep() { m_path.clear(); }

private:
    std::string m_path;
};

bool RemoveIfPresent(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

// Copies one file into a new entry of the archive; 0 or the error that failed the entry.
int AddEntry(zipFile zf, const char* path, char* buffer) {
    zip_fileinfo info;
    std::memset(&info, 0, sizeof info); // DOS time 0 and date 0x0020, attributes 0
    std::string name(BaseNameOf(path));
    int err = zipOpenNewFileInZip(zf, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                  Z_DEFAULT_COMPRESSION);
    if (err != ZIP_OK) {
        std::printf("error in opening %s in zipfile\n", path);
        return err;
    }
    std::unique_ptr<std::FILE, FileCloser> in(std::fopen(path, "rb"));
    if (!in) {
        std::printf("error in opening %s for reading\n", path);
        return ZIP_ERRNO;
    }
    std::size_t got;
    do {
        got = std::fread(buffer, 1, kCopyBufferSize, in.get());
        if (got < kCopyBufferSize && !std::feof(in.get())) {
            std::printf("error in reading %s\n", path);
            err = ZIP_ERRNO;
        }
        if (got > 0 && zipWriteInFileInZip(zf, buffer, static_cast<unsigned>(got)) < 0) {
            std::printf("error in writing %s in the zipfile\n", path);
            err = ZIP_ERRNO;
        }
    } while (got > 0 && err == ZIP_OK);
    in.reset();
    if (err != ZIP_OK)
        return err;
    err = zipCloseFileInZip(zf);
    if (err != ZIP_OK) {
        std::printf("error in closing %s in the zipfile\n", path);
        return err;
    }
    return ZIP_OK;
}

struct PackageType {
    const char* imageName;
    std::uint32_t partitionSize;
};

// Which image a package holds, from the package path's text; nullptr for an unknown type.
const PackageType* TypeOf(const std::string& strPackagePath) {
    static constexpr PackageType kLogo{kLogoImageName, kLogoPartitionSize};
    static constexpr PackageType kWeb{kWebImageName, kWebPartitionSize};
    if (strPackagePath.find("logo") != std::string::npos)
        return &kLogo;
    if (strPackagePath.find("web") != std::string::npos)
        return &kWeb;
    std::printf("Unknow file type!\n");
    return nullptr;
}

// Says which image failed before naming its inputs, one per line: the writer has just said why
// on the error stream (its message and the system's text), and the inputs are rarely the cause.
void ReportImageFailure(const PackageType& type, const std::vector<const char*>& argv) {
    std::printf("%s could not be written; the package was not built from:\n", type.imageName);
    for (std::size_t i = 2; i + 1 < argv.size(); ++i)
        std::printf("  %s\n", argv[i]);
}

// A package path that is one of the files to pack would be removed before it is read.
bool IsOneOfTheFiles(const std::string& strPackagePath, std::size_t n, const std::string pstrFiles[]) {
    struct stat out {};
    if (::stat(strPackagePath.c_str(), &out) != 0)
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        struct stat in {};
        if (::stat(pstrFiles[i].c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
            std::printf("%s is one of the files to pack\n", strPackagePath.c_str());
            return true;
        }
    }
    return false;
}

int BuildAt(int nFileCount, const std::string pstrFiles[], const std::string& strPackagePath,
            const PackageType& type, const std::string& root) {
    std::size_t n = nFileCount > 0 ? static_cast<std::size_t>(nFileCount) : 0;
    if (n > kMaxPackageFiles)
        n = kMaxPackageFiles;
    if (IsOneOfTheFiles(strPackagePath, n, pstrFiles))
        return kPackageFailed;
    // Whatever happens below, no stale or half-written package may stay at the path.
    if (!RemoveIfPresent(strPackagePath)) {
        std::printf("remove %s fail: %s\n", strPackagePath.c_str(), std::strerror(errno));
        return kPackageFailed;
    }
    PrivateDir work(MakePrivateDir(root, kWorkDirPrefix));
    if (work.path().empty())
        return kPackageFailed;

    std::string image = work.path() + "/" + type.imageName;
    std::vector<const char*> argv{"mkcramfs", image.c_str()};
    for (std::size_t i = 0; i < n; ++i)
        argv.push_back(pstrFiles[i].c_str());
    argv.push_back(nullptr);
    // With no files the writer prints its usage and reports success without an image.
    if (n == 0) {
        WriteRomImage(2, argv.data());
        return kPackageFailed;
    }
    if (WriteRomImage(static_cast<int>(n + 2), argv.data()) != kRomExitOk) {
        ReportImageFailure(type, argv);
        return kPackageFailed;
    }

    struct stat st {};
    if (::stat(image.c_str(), &st) != 0)
        return kPackageFailed;
    if (static_cast<std::uint64_t>(st.st_size) > type.partitionSize) {
        std::printf("%s of %lld bytes does not fit its flash partition of %u bytes\n", type.imageName,
                    static_cast<long long>(st.st_size), static_cast<unsigned>(type.partitionSize));
        return kPackageFailed;
    }

    std::string script;
    if (WriteInstallScript(script, work.path()) < 0)
        return kPackageFailed;
    const char* zipArgv[] = {"zip", strPackagePath.c_str(), script.c_str(), image.c_str(), nullptr};
    int result = ZipFiles(4, zipArgv);
    if (result != 0)
        ::unlink(strPackagePath.c_str());
    return result;
}

} // namespace

int WriteInstallScript(std::string& strOutput, const std::string& strDir) {
    strOutput.clear();
    std::string path = strDir + "/" + kInstallScriptName;
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        std::printf("fopen %s fail\n", path.c_str());
        return -1;
    }
    bool ok = std::fwrite(kInstallScript, 1, kInstallScriptSize, f) == kInstallScriptSize;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        // A cut script would leave the recorder with half an installer.
        std::printf("fopen %s fail\n", path.c_str());
        ::unlink(path.c_str());
        return -1;
    }
    strOutput = path;
    return 0;
}

int ZipFiles(int argc, const char* const argv[]) {
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kCopyBufferSize]);
    if (!buffer) {
        std::printf("Error allocating memory\n");
        return kZipNoMemory;
    }
    if (argc < 2) {
        std::printf("error opening %s\n", "");
        return ZIP_PARAMERROR;
    }
    zipFile zf = zipOpen(argv[1], APPEND_STATUS_CREATE);
    if (!zf) {
        std::printf("error opening %s\n", argv[1]);
        return ZIP_ERRNO;
    }
    std::printf("creating %s\n", argv[1]);

    int err = ZIP_OK;
    for (int i = 2; i < argc && err == ZIP_OK; ++i) {
        // Option words of the command-line form are skipped. Only '-': on this system '/' begins
        // an absolute path.
        if (argv[i][0] == '-')
            continue;
        err = AddEntry(zf, argv[i], buffer.get());
    }
    if (zipClose(zf, nullptr) != ZIP_OK) {
        std::printf("error in closing %s\n", argv[1]);
        if (err == ZIP_OK)
            err = ZIP_ERRNO;
    }
    std::fflush(stdout);
    return err;
}

int BuildUpgradePackageAt(int nFileCount, const std::string pstrFiles[], const std::string& strPackagePath,
                          const std::string& strTempRoot) {
    const PackageType* type = TypeOf(strPackagePath);
    int result =
        type ? BuildAt(nFileCount, pstrFiles, strPackagePath, *type, TempRoot(strTempRoot)) : kPackageFailed;
    std::fflush(stdout);
    return result;
}

int BuildUpgradePackage(int nFileCount, const std::string pstrFiles[], const std::string& strPackagePath,
                        std::string& strBuiltPath, const std::string& strTempRoot) {
    strBuiltPath.clear();
    // The type follows from the name the window gave, never from the private directory's
    // random name or the temporary root, which may hold "web" or "logo" by chance.
    const PackageType* type = TypeOf(strPackagePath);
    std::string name(BaseNameOf(strPackagePath));
    int result = kPackageFailed;
    if (type && !name.empty() && name != "." && name != "..") {
        std::string root = TempRoot(strTempRoot);
        PrivateDir dir(MakePrivateDir(root, kPackageDirPrefix));
        if (!dir.path().empty()) {
            std::string path = dir.path() + "/" + name;
            result = BuildAt(nFileCount, pstrFiles, path, *type, root);
            if (result == kPackageOk) {
                dir.Keep();
                strBuiltPath = path;
            }
        }
    } else if (type) {
        std::printf("%s: no package file name\n", strPackagePath.c_str());
    }
    std::fflush(stdout);
    return result;
}

int RemoveUpgradePackage(const std::string& strBuiltPath) {
    if (strBuiltPath.empty())
        return 0;
    if (!RemoveIfPresent(strBuiltPath))
        return -1;
    std::string_view path(strBuiltPath);
    std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return 0;
    std::string dir(path.substr(0, slash));
    if (BaseNameOf(dir).substr(0, sizeof kPackageDirPrefix - 1) != kPackageDirPrefix)
        return 0;
    if (::rmdir(dir.c_str()) != 0 && errno != ENOENT)
        return -1;
    return 0;
}
