#pragma once
// Images and archives built by hand for the simulator's tests, straight from the published
// layouts, so that the simulator's checks are never measured only against its own reading.

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace fixture {

struct CramfsFile {
    std::string name;
    std::vector<uint8_t> data;
    uint16_t mode = 0x81A4; // regular file, 0644
};

inline void putLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

inline uint32_t getLe32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

inline void putInode(std::vector<uint8_t>& b, size_t at, uint32_t mode, uint32_t size, uint32_t nameLength,
                     uint32_t offset) {
    putLe32(b, at, mode & 0xFFFF);
    putLe32(b, at + 4, size & 0xFFFFFF);
    putLe32(b, at + 8, (nameLength / 4) | (offset / 4) << 6);
}

// Stores the CRC-32 of the image, taken with the CRC field zero.
inline void fixCrc(std::vector<uint8_t>& image) {
    putLe32(image, 32, 0);
    putLe32(image, 32, uint32_t(crc32(0, image.data(), uInt(image.size()))));
}

// A cramfs image whose root holds the files in the order given (callers give them sorted):
// superblock, root entries, each file's block pointer table and zlib blocks, zero padding to
// a multiple of 4096.
inline std::vector<uint8_t> makeCramfs(const std::vector<CramfsFile>& files) {
    std::vector<uint8_t> image(76, 0);
    size_t dirStart = 76;
    std::vector<size_t> inodeAt;
    for (const auto& f : files) {
        inodeAt.push_back(image.size());
        size_t padded = (f.name.size() + 3) / 4 * 4;
        image.resize(image.size() + 12 + padded, 0);
        std::memcpy(&image[inodeAt.back() + 12], f.name.data(), f.name.size());
    }
    size_t dirSize = image.size() - dirStart;
    uint32_t blocks = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        const auto& f = files[i];
        size_t padded = (f.name.size() + 3) / 4 * 4;
        uint32_t offset = 0;
        if (!f.data.empty()) {
            offset = uint32_t(image.size());
            size_t count = (f.data.size() - 1) / 4096 + 1;
            size_t table = image.size();
            image.resize(image.size() + 4 * count, 0);
            for (size_t k = 0; k < count; ++k) {
                size_t take = std::min<size_t>(4096, f.data.size() - k * 4096);
                uLongf length = compressBound(uLong(take));
                std::vector<uint8_t> out(length);
                compress(out.data(), &length, f.data.data() + k * 4096, uLong(take));
                image.insert(image.end(), out.begin(), out.begin() + long(length));
                putLe32(image, table + 4 * k, uint32_t(image.size()));
            }
            image.resize((image.size() + 3) / 4 * 4, 0);
            blocks += uint32_t(count);
        }
        putInode(image, inodeAt[i], f.mode, uint32_t(f.data.size()), uint32_t(padded), offset);
    }
    image.resize((image.size() + 4095) / 4096 * 4096, 0);
    putLe32(image, 0, 0x28CD3D45);
    putLe32(image, 4, uint32_t(image.size()));
    putLe32(image, 8, 3);
    std::memcpy(&image[16], "Compressed ROMFS", 16);
    putLe32(image, 40, blocks);
    putLe32(image, 44, uint32_t(files.size() + 1));
    std::memcpy(&image[48], "Compressed", 10);
    putInode(image, 64, 0x41FF, uint32_t(dirSize), 0, files.empty() ? 0 : 76);
    fixCrc(image);
    return image;
}

// Bytes of a pseudo-random but repeatable file.
inline std::vector<uint8_t> patternBytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 16);
    }
    return out;
}

// Text-like bytes that compress well, as web pages do.
inline std::vector<uint8_t> textBytes(size_t size) {
    static const char* const words[] = {"<html>", "recorder", " ", "channel", "<td>", "\n", "setup", "</td>"};
    std::vector<uint8_t> out;
    for (size_t i = 0; out.size() < size; ++i) {
        const char* w = words[(i * 7 + i / 3) % 8];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(size);
    return out;
}

} // namespace fixture
