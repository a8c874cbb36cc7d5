#include "simulator/PackageCheck.h"

#include <minizip/unzip.h>

#include <algorithm>
#include <memory>

namespace sim {
namespace {

constexpr std::string_view kScriptName = "Install.lua";
// Larger than any image the package builder can make (272 MB) with room for the zip around it;
// a claim beyond this is a damaged or hostile archive, not an upgrade.
constexpr uint64_t kLargestEntry = 300ull * 1024 * 1024;

// minizip reads through these callbacks so that a package never has to touch the disk.
struct MemoryFile {
    std::span<const uint8_t> bytes;
    uint64_t position = 0;
};

voidpf ZCALLBACK memOpen(voidpf opaque, const void*, int) {
    return opaque;
}

uLong ZCALLBACK memRead(voidpf, voidpf stream, void* buffer, uLong size) {
    auto* file = static_cast<MemoryFile*>(stream);
    uint64_t left = file->bytes.size() - std::min<uint64_t>(file->position, file->bytes.size());
    uLong n = uLong(std::min<uint64_t>(size, left));
    std::copy_n(file->bytes.data() + file->position, n, static_cast<uint8_t*>(buffer));
    file->position += n;
    return n;
}

uLong ZCALLBACK memWrite(voidpf, voidpf, const void*, uLong) {
    return 0;
}

ZPOS64_T ZCALLBACK memTell(voidpf, voidpf stream) {
    return static_cast<MemoryFile*>(stream)->position;
}

long ZCALLBACK memSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* file = static_cast<MemoryFile*>(stream);
    uint64_t base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR)
        base = file->position;
    else if (origin == ZLIB_FILEFUNC_SEEK_END)
        base = file->bytes.size();
    else if (origin != ZLIB_FILEFUNC_SEEK_SET)
        return -1;
    if (offset > file->bytes.size() || base + offset > file->bytes.size())
        return -1;
    file->position = base + offset;
    return 0;
}

int ZCALLBACK memClose(voidpf, voidpf) {
    return 0;
}
int ZCALLBACK memError(voidpf, voidpf) {
    return 0;
}

struct UnzCloser {
    void operator()(unzFile f) const { unzClose(f); }
};

bool isImageName(const std::string& name) {
    return name.size() > 7 && name.compare(name.size() - 7, 7, ".cramfs") == 0;
}

// Reads the current entry whole, letting minizip verify its CRC-32 on close.
bool readEntry(unzFile zip, const unz_file_info64& info, const std::string& name, std::vector<uint8_t>& out,
               std::string& problem) {
    if (info.flag & 1) {
        problem = name + " is encrypted";
        return false;
    }
    if (info.compression_method != 0 && info.compression_method != Z_DEFLATED) {
        problem = name + " uses compression method " + std::to_string(info.compression_method);
        return false;
    }
    if (info.uncompressed_size > kLargestEntry) {
        problem = name + " claims " + std::to_string(info.uncompressed_size) +
                  " bytes, more than any package holds";
        return false;
    }
    if (unzOpenCurrentFile(zip) != UNZ_OK) {
        problem = name + " cannot be opened";
        return false;
    }
    // Grown as the bytes come, so that a header claiming more than the entry holds costs
    // no memory.
    out.clear();
    out.reserve(size_t(std::min<uint64_t>(info.uncompressed_size, 1u << 20)));
    uint8_t chunk[1u << 16];
    int rc = 0;
    while (out.size() <= info.uncompressed_size) {
        rc = unzReadCurrentFile(zip, chunk, sizeof chunk);
        if (rc <= 0)
            break;
        out.insert(out.end(), chunk, chunk + rc);
    }
    int closeRc = unzCloseCurrentFile(zip);
    if (rc < 0) {
        problem = name + " cannot be inflated (minizip " + std::to_string(rc) + ")";
        return false;
    }
    if (out.size() != info.uncompressed_size) {
        problem =
            name + " does not hold the " + std::to_string(info.uncompressed_size) + " bytes its header gives";
        return false;
    }
    if (closeRc == UNZ_CRCERROR) {
        problem = name + " fails its CRC-32 check";
        return false;
    }
    if (closeRc != UNZ_OK) {
        problem = name + " cannot be read (minizip " + std::to_string(closeRc) + ")";
        return false;
    }
    return true;
}

} // namespace

PackageReport checkUpgradePackage(std::span<const uint8_t> archive, std::string_view imageName) {
    PackageReport report;
    MemoryFile file{archive, 0};
    zlib_filefunc64_def io{memOpen, memRead, memWrite, memTell, memSeek, memClose, memError, &file};
    std::unique_ptr<void, UnzCloser> zip(unzOpen2_64("package", &io));
    if (!zip) {
        report.problem = "not a zip archive";
        return report;
    }
    bool haveScript = false, haveImage = false;
    std::vector<uint8_t> content;
    for (int rc = unzGoToFirstFile(zip.get()); rc != UNZ_END_OF_LIST_OF_FILE;
         rc = unzGoToNextFile(zip.get())) {
        if (rc != UNZ_OK) {
            report.problem = "the archive's directory is damaged";
            return report;
        }
        unz_file_info64 info{};
        char name[512] = {};
        if (unzGetCurrentFileInfo64(zip.get(), &info, name, sizeof name - 1, nullptr, 0, nullptr, 0) !=
            UNZ_OK) {
            report.problem = "the archive's directory is damaged";
            return report;
        }
        std::string entry(name);
        if (std::find(report.entries.begin(), report.entries.end(), entry) != report.entries.end()) {
            report.problem = entry + " appears twice in the archive";
            return report;
        }
        report.entries.push_back(entry);
        if (!readEntry(zip.get(), info, entry, content, report.problem))
            return report;
        if (entry == kScriptName) {
            if (content.empty()) {
                report.problem = "Install.lua is empty";
                return report;
            }
            haveScript = true;
        } else if (isImageName(entry)) {
            CramfsReport image = checkCramfsImage(content);
            if (!image.ok) {
                report.problem = entry + ": " + image.problem;
                return report;
            }
            if (entry == imageName) {
                report.image = std::move(image);
                haveImage = true;
            }
        }
    }
    if (!haveScript) {
        report.problem = "the package holds no Install.lua";
        return report;
    }
    if (!haveImage) {
        report.problem = "the package holds no " + std::string(imageName);
        return report;
    }
    report.ok = true;
    return report;
}

} // namespace sim
