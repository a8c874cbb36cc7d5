// Arbitrary bytes as a cramfs image and as an upgrade package. Half the inputs get a valid
// superblock head and checksum first, so that the directory walk and the blocks are reached.
#include "simulator/CramfsCheck.h"
#include "simulator/PackageCheck.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> image(data, data + size);
    if (size >= 76 && (data[0] & 1)) {
        const uint32_t magic = 0x28CD3D45;
        uint32_t length = uint32_t(size);
        std::memcpy(&image[0], &magic, 4);
        std::memcpy(&image[4], &length, 4);
        image[8] |= 1;
        std::memcpy(&image[16], "Compressed ROMFS", 16);
        std::memset(&image[32], 0, 4);
        uint32_t crc = uint32_t(crc32(0, image.data(), uInt(image.size())));
        std::memcpy(&image[32], &crc, 4);
    }
    sim::CramfsReport r = sim::checkCramfsImage(image);
    if (r.ok != r.problem.empty())
        std::abort();
    sim::PackageReport p = sim::checkUpgradePackage(std::vector<uint8_t>(data, data + size), "web.cramfs");
    if (p.ok != p.problem.empty())
        std::abort();
    return 0;
}
