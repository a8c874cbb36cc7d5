// Helpers shared by the package suites: private scratch directories, whole-file reads and
// writes, running a program with its output captured, and the checks of outside readers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// A private directory (mkdtemp) removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    // Names of the entries directly inside, sorted.
    std::vector<std::string> List() const;

private:
    std::string m_path;
};

void WriteFile(const std::string& path, const Bytes& data);
void WriteFile(const std::string& path, const std::string& text);
Bytes ReadFile(const std::string& path);
bool Exists(const std::string& path);

// Deterministic test data: incompressible bytes, and text that compresses like web pages.
Bytes RandomBytes(std::size_t n, std::uint32_t seed);
Bytes TextBytes(std::size_t n, std::uint32_t seed);

struct RunResult {
    int status = -1; // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs argv[0] (a path) with argv, in cwd when given, with standard input from /dev/null and
// both output streams captured.
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd = "");

// Writes an image with WriteRomImage in this process; returns its status.
int WriteImage(const std::string& out, const std::vector<std::string>& inputs, unsigned nThreads = 0);

// Runs fsck.cramfs with the given arguments.
RunResult Fsck(const std::vector<std::string>& args);

// Checks an image with fsck.cramfs -v and with fsck.cramfs --extract, comparing every extracted
// file with the named input (base name -> content). Returns an empty string when all is well,
// otherwise what went wrong. Gives the extraction's -v listing (entries in directory order)
// through listing when asked.
std::string CheckWithFsck(const std::string& image, const std::vector<std::pair<std::string, Bytes>>& files,
                          std::string* listing = nullptr);

std::uint32_t Get32(const Bytes& b, std::size_t off);
std::uint16_t Get16(const Bytes& b, std::size_t off);
void Put32(Bytes& b, std::size_t off, std::uint32_t v);
