#pragma once
// Checks a compressed ROM file system image the way a recorder must before it burns one into
// flash: superblock, checksum, directory tree and every data block.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sim {

struct CramfsReport {
    // True when every check passed.
    bool ok = false;
    // The first fault found, in words a technician can act on; empty when ok.
    std::string problem;
    // Inodes seen, the root included.
    uint32_t files = 0;
    // Data blocks of all files and links.
    uint32_t blocks = 0;
    // Names in the root directory, in image order.
    std::vector<std::string> names;
};

// Checks the magic, signature and size of the superblock, the CRC-32 taken with its own field
// zero, the counts in the superblock, that every inode and name lies inside the image, and that
// each data block inflates to exactly the bytes its file still needs.
CramfsReport checkCramfsImage(std::span<const uint8_t> image);

} // namespace sim
