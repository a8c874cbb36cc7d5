// Byte classes and scans of the in-place parser. Every scan works on a text that ends in a zero
// byte, which is neither whitespace nor a name byte.
#pragma once

#include "xml/XmlTree.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace xmldetail {

enum : std::uint8_t { kSpace = 1, kNameByte = 2 };

// Whitespace is every byte from 1 to 32. Name bytes are ASCII letters and digits, '_', ':', '-',
// '.', and every byte from 0x80 up (lead and trail bytes of the multi-byte code page).
constexpr std::array<std::uint8_t, 256> makeClasses() {
    std::array<std::uint8_t, 256> classes{};
    for (int c = 1; c <= 32; ++c) {
        classes[c] = kSpace;
    }
    for (int c = 0; c < 256; ++c) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (alnum || c == '_' || c == ':' || c == '-' || c == '.' || c >= 0x80) {
            classes[c] = kNameByte;
        }
    }
    return classes;
}

inline constexpr std::array<std::uint8_t, 256> kClasses = makeClasses();

inline bool isSpace(char c) {
    return kClasses[static_cast<unsigned char>(c)] & kSpace;
}

inline bool isNameByte(char c) {
    return kClasses[static_cast<unsigned char>(c)] & kNameByte;
}

inline XmlString inPlace(const char* begin, const char* end) {
    XmlString s;
    s.ptr = begin;
    s.length = static_cast<std::uint32_t>(end - begin);
    return s;
}

// Trims in place: the start moves forward and the length shrinks.
inline void trim(XmlString& s) {
    const char* begin = s.ptr;
    const char* end = s.ptr + s.length;
    while (begin < end && isSpace(*begin)) {
        ++begin;
    }
    while (end > begin && isSpace(end[-1])) {
        --end;
    }
    s.ptr = begin;
    s.length = static_cast<std::uint32_t>(end - begin);
}

inline const char* find(const char* from, const char* end, char c) {
    return static_cast<const char*>(std::memchr(from, c, static_cast<std::size_t>(end - from)));
}

// The next occurrence of a three-byte terminator ("-->", "]]>"), or null.
inline const char* findTerminator(const char* from, const char* end, const char (&terminator)[4]) {
    while (end - from >= 3) {
        const char* hit = find(from, end - 2, terminator[0]);
        if (!hit) {
            return nullptr;
        }
        if (hit[1] == terminator[1] && hit[2] == terminator[2]) {
            return hit;
        }
        from = hit + 1;
    }
    return nullptr;
}

template <std::size_t N> inline bool startsWith(const char* p, const char* end, const char (&literal)[N]) {
    return static_cast<std::size_t>(end - p) >= N - 1 && std::memcmp(p, literal, N - 1) == 0;
}

} // namespace xmldetail
