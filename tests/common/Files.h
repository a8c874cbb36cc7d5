// Whole-file reads and writes for the tests. A read that fails throws: a missing file must not
// pass for an empty one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

std::string ReadFile(const std::filesystem::path& path);
Bytes ReadBytes(const std::filesystem::path& path);

// Replaces the file's content.
void WriteFile(const std::filesystem::path& path, std::string_view bytes);
void WriteFile(const std::filesystem::path& path, const Bytes& bytes);

// True for anything at the path, a dangling symbolic link included.
bool FileExists(const std::filesystem::path& path);

// Names of the entries directly inside a folder, sorted: to see that nothing was left behind.
std::vector<std::string> FolderEntries(const std::filesystem::path& folder);
