#include "tests/package/RomImageReader.h"

#include <cstring>

Inode InodeAt(const Bytes& img, std::size_t at) {
    Inode n;
    n.at = at;
    std::uint32_t w0 = Get32(img, at), w1 = Get32(img, at + 4), w2 = Get32(img, at + 8);
    n.mode = static_cast<std::uint16_t>(w0 & 0xFFFF);
    n.uid = static_cast<std::uint16_t>(w0 >> 16);
    n.size = w1 & 0xFFFFFF;
    n.gid = w1 >> 24;
    n.nameUnits = w2 & 0x3F;
    n.offsetUnits = w2 >> 6;
    return n;
}

std::vector<Inode> Directory(const Bytes& img) {
    Inode root = InodeAt(img, 64);
    std::vector<Inode> entries;
    std::size_t at = root.offsetUnits * 4, end = at + root.size;
    while (at < end && at + 12 <= img.size()) {
        Inode n = InodeAt(img, at);
        if (at + 12 + n.nameUnits * 4 > img.size())
            break;
        const char* p = reinterpret_cast<const char*>(img.data() + at + 12);
        n.name.assign(p, strnlen(p, n.nameUnits * 4));
        at += 12 + n.nameUnits * 4;
        entries.push_back(n);
    }
    return entries;
}
