// Reads a cramfs image's root directory straight from its bytes, for checks of the layout.
#pragma once

#include "tests/package/TestSupport.h"

#include <string>
#include <vector>

struct Inode {
    std::size_t at = 0; // offset of the inode in the image
    std::uint16_t mode = 0, uid = 0;
    std::uint32_t size = 0, gid = 0, nameUnits = 0, offsetUnits = 0;
    std::string name;
};

Inode InodeAt(const Bytes& img, std::size_t at);

// The root's entries: inode, then the name padded with zeros to a multiple of 4.
std::vector<Inode> Directory(const Bytes& img);
