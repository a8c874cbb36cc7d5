#include "tests/upgrade/TestFiles.h"

std::vector<uint8_t> PatternBytes(std::string_view prefix, size_t length) {
    std::vector<uint8_t> bytes(length);
    uint32_t x = 2463534242u;
    for (size_t i = 0; i < length; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = i < prefix.size() ? static_cast<uint8_t>(prefix[i]) : static_cast<uint8_t>(x);
    }
    return bytes;
}
