#include "simulator/RequestCheck.h"

#include <bit>
#include <cstdio>
#include <initializer_list>
#include <string_view>
#include <utility>

namespace sim {
namespace {

using H = PacketHeader;

// The first header byte outside the named fields that is not zero, as a fault text. Every packet
// of an upgrade passes here, so the bytes are compared all at once as bit masks.
std::string strayByte(const uint8_t* h, std::string_view what,
                      std::initializer_list<std::pair<size_t, size_t>> named) {
    static_assert(H::kSize == 32, "one bit per header byte");
    uint32_t allowed = 1u << H::kCommand;
    for (auto [from, width] : named)
        for (size_t i = from; i < from + width && i < H::kSize; ++i)
            allowed |= 1u << i;
    uint32_t nonZero = 0;
    for (size_t i = 0; i < H::kSize; ++i)
        nonZero |= uint32_t(h[i] != 0) << i;
    const uint32_t stray = nonZero & ~allowed;
    if (stray == 0)
        return {};
    const size_t i = size_t(std::countr_zero(stray));
    char text[96];
    std::snprintf(text, sizeof text, "%.*s: header byte %zu is 0x%02X where 0 belongs", int(what.size()),
                  what.data(), i, h[i]);
    return text;
}

} // namespace

CheckedRequest checkRequest(std::span<const uint8_t> message) {
    CheckedRequest c;
    const uint8_t* h = message.data();
    c.event = DecodeRequest(h, uint32_t(message.size()));
    c.command = h[H::kCommand];
    uint32_t length = LittleEndian::Read32(&h[H::kPayloadLength]);
    std::string& fault = c.fault;
    switch (c.event.type) {
    case RequestType::Login:
        if (length != 0)
            fault = "login request: carries a payload of " + std::to_string(length) + " bytes";
        else if (h[H::kLoginMarker] != H::kLoginMarkerValue)
            fault = "login request: byte 28 is not 0x3A";
        else
            fault = strayByte(h, "login request",
                              {{H::kLoginUser, H::kLoginUserSize},
                               {H::kLoginPassword, H::kLoginPasswordSize},
                               {H::kLoginMarker, 1}});
        break;
    case RequestType::Data:
        if (length > kMaxDataPayload)
            fault = "data packet: payload of " + std::to_string(length) + " bytes, more than 1024";
        else
            fault = strayByte(h, "data packet", {{H::kPayloadLength, 4}, {H::kChunkNumber, 4}});
        break;
    case RequestType::Start:
        fault = strayByte(h, "start packet", {{H::kKind, 1}, {H::kWord, H::kWordSize}, {H::kFileLength, 4}});
        break;
    case RequestType::End:
        fault = strayByte(h, "end packet", {{H::kKind, 1}, {H::kWord, H::kWordSize}});
        break;
    case RequestType::SetMac:
        if (length != 0)
            fault = "MAC value packet: carries a payload of " + std::to_string(length) + " bytes";
        else
            fault = strayByte(h, "MAC value packet", {{H::kMacValue, 4}});
        break;
    case RequestType::Unknown:
        if (c.command == CMD_UPGRADE) {
            fault = "upgrade packet without payload holds neither \"start\" nor \"End\"";
        } else {
            char text[48];
            std::snprintf(text, sizeof text, "unknown command 0x%02X", c.command);
            fault = text;
        }
        break;
    }
    bool carriesKind = c.event.type == RequestType::Start || c.event.type == RequestType::End;
    if (fault.empty() && carriesKind && !IsValidUpgradeKind(c.event.kind))
        fault = "upgrade kind " + std::to_string(c.event.kind) + " is not one of 1 to 6";
    return c;
}

std::string kindName(uint8_t kind) {
    static const char* const names[] = {"BIOS", "web", "boot", "font", "logo", "program"};
    if (IsValidUpgradeKind(kind))
        return names[kind - KIND_BIOS];
    return "kind " + std::to_string(kind);
}

} // namespace sim
