#pragma once
// Checks a web or logo upgrade package as the recorder unpacks it: a zip archive holding the
// installer script and the file system image that the upgrade kind names.

#include "simulator/CramfsCheck.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct PackageReport {
    // True when the archive, its entries and the image all passed.
    bool ok = false;
    // The first fault found; empty when ok.
    std::string problem;
    // Entry names in archive order.
    std::vector<std::string> entries;
    // The check of the image the upgrade kind asked for (web.cramfs or logo.cramfs).
    CramfsReport image;
};

// imageName is "web.cramfs" for a web upgrade and "logo.cramfs" for a logo upgrade. Every
// entry is read whole so that its stored CRC-32 is verified; every .cramfs entry is checked.
PackageReport checkUpgradePackage(std::span<const uint8_t> archive, std::string_view imageName);

} // namespace sim
