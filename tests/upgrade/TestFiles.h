// Files made by the tests of the upgrade session in a private directory that goes away with them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // Full path of `name` inside the directory.
    std::string operator/(std::string_view name) const { return m_path + "/" + std::string(name); }

    // Writes `bytes` to `name` and returns its full path.
    std::string Write(std::string_view name, std::string_view bytes) const;
    std::string Write(std::string_view name, const std::vector<uint8_t>& bytes) const;
    // A file of `length` bytes that begins with `prefix`; the rest is a hole (reads as zeros).
    std::string Sparse(std::string_view name, std::string_view prefix, int64_t length) const;

private:
    std::string m_path;
};

// `length` bytes of a repeating pattern that begins with `prefix`, so misplaced chunks show.
std::vector<uint8_t> PatternBytes(std::string_view prefix, size_t length);

bool FileExists(const std::string& path);
std::vector<uint8_t> ReadWholeFile(const std::string& path);
