#include "tests/package/ZipReader.h"

#include <stdexcept>

ZipHeaders ReadZipHeaders(const Bytes& zip) {
    if (zip.size() < 22)
        throw std::runtime_error("too short for an end record");
    std::size_t end = zip.size() - 22;
    if (Get32(zip, end) != 0x06054B50)
        throw std::runtime_error("no end record in the last 22 bytes");
    ZipHeaders h;
    h.totalEntries = Get16(zip, end + 10);
    h.commentLength = Get16(zip, end + 20);
    std::size_t at = Get32(zip, end + 16);
    for (std::uint16_t i = 0; i < h.totalEntries; ++i) {
        ZipEntryHeaders e;
        e.centralSignature = Get32(zip, at);
        e.versionMadeBy = Get16(zip, at + 4);
        e.versionNeeded = Get16(zip, at + 6);
        e.flags = Get16(zip, at + 8);
        e.method = Get16(zip, at + 10);
        e.time = Get16(zip, at + 12);
        e.date = Get16(zip, at + 14);
        e.crc = Get32(zip, at + 16);
        e.compressed = Get32(zip, at + 20);
        e.uncompressed = Get32(zip, at + 24);
        std::uint16_t nameLength = Get16(zip, at + 28);
        e.extraLength = Get16(zip, at + 30);
        e.commentLength = Get16(zip, at + 32);
        e.diskStart = Get16(zip, at + 34);
        e.internalAttributes = Get16(zip, at + 36);
        e.externalAttributes = Get32(zip, at + 38);
        e.localOffset = Get32(zip, at + 42);
        e.name.assign(zip.begin() + static_cast<long>(at + 46),
                      zip.begin() + static_cast<long>(at + 46 + nameLength));
        at += 46 + nameLength + e.extraLength + e.commentLength;

        std::size_t l = e.localOffset;
        e.localSignature = Get32(zip, l);
        e.localVersionNeeded = Get16(zip, l + 4);
        e.localFlags = Get16(zip, l + 6);
        e.localMethod = Get16(zip, l + 8);
        e.localTime = Get16(zip, l + 10);
        e.localDate = Get16(zip, l + 12);
        e.localCrc = Get32(zip, l + 14);
        e.localCompressed = Get32(zip, l + 18);
        e.localUncompressed = Get32(zip, l + 22);
        std::uint16_t localNameLength = Get16(zip, l + 26);
        e.localExtraLength = Get16(zip, l + 28);
        e.localName.assign(zip.begin() + static_cast<long>(l + 30),
                           zip.begin() + static_cast<long>(l + 30 + localNameLength));
        e.dataOffset = l + 30 + localNameLength + e.localExtraLength;
        h.entries.push_back(e);
    }
    return h;
}
