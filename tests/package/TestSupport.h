// Helpers shared by the package suites: test data, images written in this process, and the checks
// of outside readers.
#pragma once

#include "tests/common/ChildProgram.h"
#include "tests/common/Files.h"
#include "tests/common/TempDir.h"

#include <cstdint>
#include <string>
#include <vector>

// Deterministic test data: incompressible bytes, and text that compresses like web pages.
Bytes RandomBytes(std::size_t n, std::uint32_t seed);
Bytes TextBytes(std::size_t n, std::uint32_t seed);

// Writes an image with WriteRomImage in this process; returns its status.
int WriteImage(const std::string& out, const std::vector<std::string>& inputs, unsigned nThreads = 0);

// Runs fsck.cramfs with the given arguments.
ChildResult Fsck(const std::vector<std::string>& args);

// Checks an image with fsck.cramfs -v and with fsck.cramfs --extract, comparing every extracted
// file with the named input (base name -> content). Returns an empty string when all is well,
// otherwise what went wrong. Gives the extraction's -v listing (entries in directory order)
// through listing when asked.
std::string CheckWithFsck(const std::string& image, const std::vector<std::pair<std::string, Bytes>>& files,
                          std::string* listing = nullptr);

std::uint32_t Get32(const Bytes& b, std::size_t off);
std::uint16_t Get16(const Bytes& b, std::size_t off);
void Put32(Bytes& b, std::size_t off, std::uint32_t v);
