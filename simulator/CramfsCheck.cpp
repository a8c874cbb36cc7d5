#include "simulator/CramfsCheck.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <set>

namespace sim {
namespace {

constexpr uint32_t kMagic = 0x28CD3D45;
constexpr char kSignature[16] = {'C', 'o', 'm', 'p', 'r', 'e', 's', 's',
                                 'e', 'd', ' ', 'R', 'O', 'M', 'F', 'S'};
constexpr size_t kSuperblockSize = 76;
constexpr size_t kOffSize = 4;
constexpr size_t kOffFlags = 8;
constexpr size_t kOffSignature = 16;
constexpr size_t kOffCrc = 32;
constexpr size_t kOffBlocks = 40;
constexpr size_t kOffFiles = 44;
constexpr size_t kOffRoot = 64;
constexpr size_t kInodeSize = 12;
constexpr uint32_t kBlockSize = 4096;
// A block that grows beyond twice its size on compression is not something a writer makes;
// the recorder's reader has no room for it either.
constexpr uint32_t kMaxCompressedBlock = 2 * kBlockSize;
// Flags a reader of this layout understands: checksum version 2, sorted directories, holes.
constexpr uint32_t kFlagFsidVersion2 = 0x1;
constexpr uint32_t kKnownFlags = 0x1 | 0x2 | 0x100;
constexpr int kMaxDepth = 32;

constexpr uint32_t kTypeMask = 0xF000;
constexpr uint32_t kTypeDirectory = 0x4000;
constexpr uint32_t kTypeRegular = 0x8000;
constexpr uint32_t kTypeLink = 0xA000;

uint32_t le32(std::span<const uint8_t> b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

struct Inode {
    uint32_t mode;
    uint32_t size;
    uint32_t nameLength; // bytes
    uint64_t offset;     // bytes
};

Inode readInode(std::span<const uint8_t> b, size_t at) {
    uint32_t w0 = le32(b, at), w1 = le32(b, at + 4), w2 = le32(b, at + 8);
    return Inode{w0 & 0xFFFF, w1 & 0xFFFFFF, (w2 & 0x3F) * 4, uint64_t(w2 >> 6) * 4};
}

std::string hexNumber(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

class Walker {
public:
    Walker(std::span<const uint8_t> image, CramfsReport& report) : m_image(image), m_report(report) {}

    // Returns false with the report's problem set at the first fault.
    bool directory(const Inode& dir, const std::string& path, int depth) {
        if (depth > kMaxDepth)
            return fail("directories nested deeper than " + std::to_string(kMaxDepth) + " levels");
        if (dir.size == 0)
            return true;
        if (dir.offset < kSuperblockSize || dir.offset + dir.size > m_image.size())
            return fail("directory " + path + " lies outside the image");
        // A directory reached twice would let a damaged image loop or fan out without end.
        if (!m_seenDirectories.insert(dir.offset).second)
            return fail("directory " + path + " shares its entries with another directory");
        uint64_t at = dir.offset, end = dir.offset + dir.size;
        while (at < end) {
            if (at + kInodeSize > end)
                return fail("directory " + path + " ends inside an inode");
            Inode node = readInode(m_image, at);
            at += kInodeSize;
            if (node.nameLength == 0)
                return fail("an entry of directory " + path + " has no name");
            if (at + node.nameLength > end)
                return fail("a name in directory " + path + " runs past the directory's end");
            const char* raw = reinterpret_cast<const char*>(m_image.data() + at);
            std::string name(raw, strnlen(raw, node.nameLength));
            at += node.nameLength;
            if (name.empty())
                return fail("an entry of directory " + path + " has an empty name");
            ++m_report.files;
            if (depth == 0)
                m_report.names.push_back(name);
            std::string child = path == "/" ? "/" + name : path + "/" + name;
            uint32_t type = node.mode & kTypeMask;
            if (type == kTypeDirectory) {
                if (!directory(node, child, depth + 1))
                    return false;
            } else if (type == kTypeRegular || type == kTypeLink) {
                if (!fileData(node, child))
                    return false;
            }
        }
        return true;
    }

    bool fail(std::string text) {
        m_report.problem = std::move(text);
        return false;
    }

private:
    bool fileData(const Inode& node, const std::string& path) {
        if (node.size == 0)
            return true;
        uint32_t count = (node.size - 1) / kBlockSize + 1;
        uint64_t table = node.offset;
        uint64_t tableEnd = table + uint64_t(count) * 4;
        if (table < kSuperblockSize || tableEnd > m_image.size())
            return fail(path + ": block pointer table lies outside the image");
        uint64_t start = tableEnd;
        uint32_t left = node.size;
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t next = le32(m_image, table + size_t(i) * 4);
            uint32_t want = std::min(left, kBlockSize);
            left -= want;
            ++m_report.blocks;
            if (next < start || next > m_image.size())
                return fail(path + ": block " + std::to_string(i) + " points outside its file's data (" +
                            hexNumber(next) + ")");
            uint64_t length = next - start;
            if (length > kMaxCompressedBlock)
                return fail(path + ": block " + std::to_string(i) + " is " + std::to_string(length) +
                            " bytes compressed, more than twice the block size");
            // An empty block is a hole: the reader hands out zeros for it.
            if (length > 0) {
                uLongf got = m_block.size();
                uLong used = uLong(length);
                int rc = uncompress2(m_block.data(), &got, m_image.data() + start, &used);
                if (rc == Z_BUF_ERROR && got == m_block.size())
                    return fail(path + ": block " + std::to_string(i) + " decompresses to more than " +
                                std::to_string(want) + " bytes");
                if (rc != Z_OK)
                    return fail(path + ": block " + std::to_string(i) + " does not decompress (zlib " +
                                std::to_string(rc) + ")");
                if (got != want)
                    return fail(path + ": block " + std::to_string(i) + " decompresses to " +
                                std::to_string(got) + " bytes instead of " + std::to_string(want));
            }
            start = next;
        }
        return true;
    }

    std::span<const uint8_t> m_image;
    CramfsReport& m_report;
    std::set<uint64_t> m_seenDirectories;
    // One byte more than a block, so that a block inflating too far shows up as too long
    // instead of as a zlib buffer error.
    std::array<uint8_t, kBlockSize + 1> m_block{};
};

} // namespace

CramfsReport checkCramfsImage(std::span<const uint8_t> image) {
    CramfsReport report;
    Walker walker(image, report);
    if (image.size() < kSuperblockSize) {
        walker.fail("image of " + std::to_string(image.size()) + " bytes is shorter than a superblock");
        return report;
    }
    if (le32(image, 0) != kMagic) {
        walker.fail("bad magic " + hexNumber(le32(image, 0)) + " (not a little-endian cramfs image)");
        return report;
    }
    if (std::memcmp(image.data() + kOffSignature, kSignature, sizeof kSignature) != 0) {
        walker.fail("signature is not \"Compressed ROMFS\"");
        return report;
    }
    uint32_t size = le32(image, kOffSize);
    if (size != image.size()) {
        walker.fail("superblock gives a size of " + std::to_string(size) + " bytes, the image holds " +
                    std::to_string(image.size()));
        return report;
    }
    uint32_t flags = le32(image, kOffFlags);
    if ((flags & kFlagFsidVersion2) == 0) {
        walker.fail("image carries no checksum (flags " + hexNumber(flags) + ")");
        return report;
    }
    if ((flags & ~kKnownFlags) != 0) {
        walker.fail("unsupported flags " + hexNumber(flags));
        return report;
    }
    static const uint8_t zeros[4] = {};
    uLong crc = crc32(0, Z_NULL, 0);
    crc = crc32_z(crc, image.data(), kOffCrc);
    crc = crc32_z(crc, zeros, sizeof zeros);
    crc = crc32_z(crc, image.data() + kOffCrc + 4, image.size() - kOffCrc - 4);
    if (uint32_t(crc) != le32(image, kOffCrc)) {
        walker.fail("CRC-32 is " + hexNumber(uint32_t(crc)) + ", the superblock says " +
                    hexNumber(le32(image, kOffCrc)));
        return report;
    }
    Inode root = readInode(image, kOffRoot);
    if ((root.mode & kTypeMask) != kTypeDirectory) {
        walker.fail("root inode is not a directory");
        return report;
    }
    report.files = 1;
    if (!walker.directory(root, "/", 0))
        return report;
    if (report.files != le32(image, kOffFiles)) {
        walker.fail("superblock counts " + std::to_string(le32(image, kOffFiles)) +
                    " files, the image holds " + std::to_string(report.files));
        return report;
    }
    if (report.blocks != le32(image, kOffBlocks)) {
        walker.fail("superblock counts " + std::to_string(le32(image, kOffBlocks)) +
                    " blocks, the files hold " + std::to_string(report.blocks));
        return report;
    }
    report.ok = true;
    return report;
}

} // namespace sim
