// The fixed records that the registration dialogs, ClientStore and ClientDataFile exchange.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

// Text fields hold 63 bytes and a terminator.
inline constexpr std::size_t kRecordTextSize = 64;

// Copies `text` into a fixed field, cut at the field's last byte so that nothing is ever written
// past it; the rest of the field is cleared. Gives false when the text had to be cut.
template <std::size_t N> bool copyToField(char (&field)[N], std::string_view text) {
    const std::size_t len = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), len);
    std::memset(field + len, 0, N - len);
    return len == text.size();
}

// The text held in a fixed field, up to its terminator (or the whole field when it has none).
template <std::size_t N> std::string_view fieldText(const char (&field)[N]) {
    return std::string_view(field, strnlen(field, N));
}

// One device as the dialogs fill it and as the data file stores it.
struct DeviceRecord {
    std::uint32_t id;               // 0 = not yet stored
    char name[kRecordTextSize];     // unique among the devices
    char host[kRecordTextSize];     // IP address or domain name
    char username[kRecordTextSize]; // login user
    char password[kRecordTextSize]; // login password in plain text; enciphered in the file
    std::int32_t channelCount;      // stored as the low 16 bits
    std::uint32_t ip;               // carried through unchanged
    std::uint32_t port;             // stored as the low 16 bits
    std::uint32_t ddnsFlag;         // nonzero: reached through a DDNS server; low 8 bits stored
    char ddnsHost[kRecordTextSize]; // DDNS server
    std::uint32_t ddnsPort;         // DDNS server port
    std::uint32_t orgId;            // owning organisation, 0 = top level
};

// One child organisation as ClientDataFile::getOrgChildren lists it.
struct OrgListEntry {
    std::uint32_t id;
    char name[kRecordTextSize];
};

// One organisation in ClientStore::organisations, with the ids of its child organisations in order.
struct OrgEntry {
    std::uint32_t id = 0;
    char name[kRecordTextSize] = {};
    std::vector<std::uint32_t> children;
};

// The devices registered under one organisation, in load and registration order.
struct OrgDevices {
    std::uint32_t orgId = 0;
    std::vector<std::uint32_t> devices;
};
