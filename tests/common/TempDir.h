// A private folder for one test (mkdtemp below TMPDIR, else /tmp), removed with everything in it
// when the object goes, read-only subfolders included.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

class TempDir {
public:
    explicit TempDir(std::string_view prefix = "kst-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(std::string_view name) const { return m_path / name; }

    // Writes `bytes` to `name` inside the folder and gives the file's path.
    std::filesystem::path Write(std::string_view name, std::string_view bytes) const;
    std::filesystem::path Write(std::string_view name, const std::vector<std::uint8_t>& bytes) const;
    // A file of `length` bytes that begins with `prefix`; the rest is a hole (reads as zeros).
    std::filesystem::path Sparse(std::string_view name, std::string_view prefix, std::int64_t length) const;

private:
    std::filesystem::path m_path;
};
