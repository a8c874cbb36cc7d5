#include "simulator/UpgradeWire.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <utility>

namespace sim {
namespace {

constexpr uint8_t kCmdLogin = 0x10;
constexpr uint8_t kCmdUpgrade = 0xC7;
constexpr uint8_t kCmdSetMac = 0xD0;
constexpr uint8_t kReplyUpgrade = 0xBA;

constexpr size_t kOffLength = 4;
constexpr size_t kOffLoginStatus = 8;
constexpr size_t kOffUser = 8;
constexpr size_t kUserWidth = 8;
constexpr size_t kOffPassword = 16;
constexpr size_t kPasswordWidth = 12;
constexpr size_t kOffLoginMark = 28;
constexpr uint8_t kLoginMark = 0x3A;
constexpr size_t kOffKind = 9;
constexpr size_t kOffWord = 10;
constexpr size_t kWordWidth = 6;
constexpr size_t kOffAnnounced = 28;
constexpr size_t kOffChunk = 10;
constexpr size_t kOffMac = 10;
constexpr size_t kOffReplyWord = 9;
constexpr size_t kReplyWordWidth = 5;
constexpr size_t kOffReportType = 24;
constexpr uint8_t kProgressReport = 2;
constexpr size_t kOffPercent = 26;

constexpr uint8_t kStartWord[kWordWidth] = {'s', 't', 'a', 'r', 't', 0};
constexpr uint8_t kEndWord[kWordWidth] = {'E', 'n', 'd', 0, 0, 0};

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

std::string field(const uint8_t* p, size_t width) {
    const char* text = reinterpret_cast<const char*>(p);
    return std::string(text, strnlen(text, width));
}

// The first header byte outside the named fields that is not zero, as a fault text.
std::string strayByte(const uint8_t* h, std::string_view what,
                      std::initializer_list<std::pair<size_t, size_t>> named) {
    for (size_t i = 1; i < kPacketHeaderSize; ++i) {
        bool isNamed = false;
        for (auto [from, width] : named)
            isNamed = isNamed || (i >= from && i < from + width);
        if (!isNamed && h[i] != 0) {
            char text[96];
            std::snprintf(text, sizeof text, "%.*s: header byte %zu is 0x%02X where 0 belongs",
                          int(what.size()), what.data(), i, h[i]);
            return text;
        }
    }
    return {};
}

void setWord(Reply& r, std::string_view word) {
    std::memcpy(r.data() + kOffReplyWord, word.data(), std::min(word.size(), kReplyWordWidth));
}

} // namespace

uint32_t payloadLength(std::span<const uint8_t> header) {
    return le32(header.data() + kOffLength);
}

Request decodeRequest(std::span<const uint8_t> message) {
    Request r;
    const uint8_t* h = message.data();
    r.command = h[0];
    uint32_t length = payloadLength(message);
    if (r.command == kCmdLogin) {
        r.type = RequestType::Login;
        r.user = field(h + kOffUser, kUserWidth);
        r.password = field(h + kOffPassword, kPasswordWidth);
        if (length != 0)
            r.fault = "login request: carries a payload of " + std::to_string(length) + " bytes";
        else if (h[kOffLoginMark] != kLoginMark)
            r.fault = "login request: byte 28 is not 0x3A";
        else
            r.fault = strayByte(h, "login request",
                                {{kOffUser, kUserWidth}, {kOffPassword, kPasswordWidth}, {kOffLoginMark, 1}});
    } else if (r.command == kCmdUpgrade && length > 0) {
        r.type = RequestType::Data;
        r.chunk = le32(h + kOffChunk);
        r.payload = message.subspan(kPacketHeaderSize, length);
        if (length > kLargestChunk)
            r.fault = "data packet: payload of " + std::to_string(length) + " bytes, more than 1024";
        else
            r.fault = strayByte(h, "data packet", {{kOffLength, 4}, {kOffChunk, 4}});
    } else if (r.command == kCmdUpgrade) {
        r.kind = h[kOffKind];
        if (std::memcmp(h + kOffWord, kStartWord, kWordWidth) == 0) {
            r.type = RequestType::Start;
            r.announcedLength = le32(h + kOffAnnounced);
            r.fault =
                strayByte(h, "start packet", {{kOffKind, 1}, {kOffWord, kWordWidth}, {kOffAnnounced, 4}});
        } else if (std::memcmp(h + kOffWord, kEndWord, kWordWidth) == 0) {
            r.type = RequestType::End;
            r.fault = strayByte(h, "end packet", {{kOffKind, 1}, {kOffWord, kWordWidth}});
        } else {
            r.fault = "upgrade packet without payload holds neither \"start\" nor \"End\"";
        }
        if (r.fault.empty() && (r.kind < 1 || r.kind > 6))
            r.fault = "upgrade kind " + std::to_string(r.kind) + " is not one of 1 to 6";
    } else if (r.command == kCmdSetMac) {
        r.type = RequestType::MacValue;
        r.macValue = le32(h + kOffMac);
        if (length != 0)
            r.fault = "MAC value packet: carries a payload of " + std::to_string(length) + " bytes";
        else
            r.fault = strayByte(h, "MAC value packet", {{kOffMac, 4}});
    } else {
        char text[48];
        std::snprintf(text, sizeof text, "unknown command 0x%02X", r.command);
        r.fault = text;
    }
    return r;
}

Reply buildLoginReply(uint8_t status) {
    Reply r{};
    r[0] = kCmdLogin;
    r[kOffLoginStatus] = status;
    return r;
}

Reply buildStatusWord(std::string_view word) {
    Reply r{};
    r[0] = kReplyUpgrade;
    setWord(r, word);
    return r;
}

Reply buildProgressReport(uint8_t percent) {
    Reply r{};
    r[0] = kReplyUpgrade;
    r[kOffReportType] = kProgressReport;
    r[kOffPercent] = percent;
    return r;
}

std::string kindName(uint8_t kind) {
    static const char* const names[] = {"BIOS", "web", "boot", "font", "logo", "program"};
    if (kind >= 1 && kind <= 6)
        return names[kind - 1];
    return "kind " + std::to_string(kind);
}

} // namespace sim
