#include "tests/package/TestSupport.h"

#include "package/RomImage.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace fs = std::filesystem;

TempDir::TempDir() {
    const char* root = std::getenv("TMPDIR");
    std::string tmpl = std::string(root && *root ? root : "/tmp") + "/kst-package-test.XXXXXX";
    if (!::mkdtemp(tmpl.data()))
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    m_path = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

std::vector<std::string> TempDir::List() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(m_path))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void WriteFile(const std::string& path, const Bytes& data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!f)
        throw std::runtime_error("cannot write " + path);
}

void WriteFile(const std::string& path, const std::string& text) {
    WriteFile(path, Bytes(text.begin(), text.end()));
}

Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary | std::ios::ate);
    if (!f)
        throw std::runtime_error("cannot read " + path);
    Bytes b(static_cast<std::size_t>(f.tellg()));
    f.seekg(0);
    f.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
    if (!f)
        throw std::runtime_error("cannot read " + path);
    return b;
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

namespace {
std::uint32_t Next(std::uint32_t& s) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}
} // namespace

Bytes RandomBytes(std::size_t n, std::uint32_t seed) {
    Bytes b(n);
    std::uint32_t s = seed | 1;
    for (auto& c : b)
        c = static_cast<std::uint8_t>(Next(s) >> 24);
    return b;
}

Bytes TextBytes(std::size_t n, std::uint32_t seed) {
    static const char* const words[] = {"<div class=\"row\">",
                                        "</div>",
                                        "<td>",
                                        "</td>",
                                        "channel",
                                        "record",
                                        "video",
                                        "alarm",
                                        "network",
                                        "function",
                                        "var ",
                                        "= ",
                                        ";\n",
                                        "if (",
                                        ") {",
                                        "}\n",
                                        "<a href=\"",
                                        "\">",
                                        "</a>\n"};
    Bytes b;
    b.reserve(n);
    std::uint32_t s = seed | 1;
    while (b.size() < n) {
        const char* w = words[Next(s) % std::size(words)];
        for (; *w && b.size() < n; ++w)
            b.push_back(static_cast<std::uint8_t>(*w));
        if (Next(s) % 7 == 0 && b.size() < n)
            b.push_back(static_cast<std::uint8_t>('0' + Next(s) % 10));
    }
    return b;
}

RunResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd) {
    TempDir capture;
    std::string outPath = capture / "out", errPath = capture / "err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!cwd.empty())
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::system_error(rc, std::generic_category(), "posix_spawn " + argv[0]);
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    RunResult r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    Bytes o = ReadFile(outPath), e = ReadFile(errPath);
    r.out.assign(o.begin(), o.end());
    r.err.assign(e.begin(), e.end());
    return r;
}

int WriteImage(const std::string& out, const std::vector<std::string>& inputs, unsigned nThreads) {
    std::vector<const char*> argv{"mkcramfs", out.c_str()};
    for (const auto& i : inputs)
        argv.push_back(i.c_str());
    argv.push_back(nullptr);
    RomImageOptions options;
    options.nThreads = nThreads;
    return WriteRomImage(static_cast<int>(argv.size() - 1), argv.data(), options);
}

namespace {
std::string FsckPath() {
    for (const char* p : {"/usr/sbin/fsck.cramfs", "/sbin/fsck.cramfs"})
        if (::access(p, X_OK) == 0)
            return p;
    return "fsck.cramfs";
}
} // namespace

RunResult Fsck(const std::vector<std::string>& args) {
    std::vector<std::string> argv{FsckPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv);
}

std::string CheckWithFsck(const std::string& image, const std::vector<std::pair<std::string, Bytes>>& files,
                          std::string* listing) {
    RunResult v = RunProgram({FsckPath(), "-v", image});
    if (v.status != 0)
        return "fsck.cramfs -v failed (" + std::to_string(v.status) + "): " + v.out + v.err;
    TempDir dir;
    std::string root = dir / "x";
    RunResult x = RunProgram({FsckPath(), "-v", "--extract=" + root, image});
    if (x.status != 0)
        return "fsck.cramfs --extract failed (" + std::to_string(x.status) + "): " + x.out + x.err;
    if (listing)
        *listing = x.out;
    std::map<std::string, Bytes> expected(files.begin(), files.end());
    std::size_t found = 0;
    for (const auto& e : fs::directory_iterator(root)) {
        std::string name = e.path().filename().string();
        auto it = expected.find(name);
        if (it == expected.end())
            return "unexpected file " + name;
        if (ReadFile(e.path().string()) != it->second)
            return "content differs: " + name;
        ++found;
    }
    if (found != expected.size())
        return "extracted " + std::to_string(found) + " files, expected " + std::to_string(expected.size());
    return {};
}

std::uint32_t Get32(const Bytes& b, std::size_t off) {
    return b.at(off) | b.at(off + 1) << 8 | b.at(off + 2) << 16 |
           static_cast<std::uint32_t>(b.at(off + 3)) << 24;
}

std::uint16_t Get16(const Bytes& b, std::size_t off) {
    return static_cast<std::uint16_t>(b.at(off) | b.at(off + 1) << 8);
}

void Put32(Bytes& b, std::size_t off, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.at(off + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
