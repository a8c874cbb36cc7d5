// The fixed-size headers of a zip archive, read field by field from the bytes, so tests check
// what the recorder's reader sees rather than what a library makes of it.
#pragma once

#include "tests/package/TestSupport.h"

#include <string>
#include <vector>

struct ZipEntryHeaders {
    // local file header
    std::uint32_t localSignature = 0;
    std::uint16_t localVersionNeeded = 0, localFlags = 0, localMethod = 0, localTime = 0, localDate = 0;
    std::uint32_t localCrc = 0, localCompressed = 0, localUncompressed = 0;
    std::uint16_t localExtraLength = 0;
    std::string localName;
    std::size_t dataOffset = 0;
    // central directory header
    std::uint32_t centralSignature = 0;
    std::uint16_t versionMadeBy = 0, versionNeeded = 0, flags = 0, method = 0, time = 0, date = 0;
    std::uint32_t crc = 0, compressed = 0, uncompressed = 0;
    std::uint16_t extraLength = 0, commentLength = 0, diskStart = 0, internalAttributes = 0;
    std::uint32_t externalAttributes = 0, localOffset = 0;
    std::string name;
};

struct ZipHeaders {
    std::vector<ZipEntryHeaders> entries;
    std::uint16_t totalEntries = 0;
    std::uint16_t commentLength = 0;
};

// Reads the end record (which must be the last 22 bytes: no archive comment), then every
// central and local header. Throws on a malformed archive.
ZipHeaders ReadZipHeaders(const Bytes& zip);
