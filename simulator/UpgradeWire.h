#pragma once
// The recorder's end of the upgrade command protocol: reading what the upgrade tool sends and
// writing the recorder's replies. The tool's own end lives in upgrade/UpgradeProtocol.h.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace sim {

inline constexpr size_t kPacketHeaderSize = 32;
inline constexpr uint32_t kLargestChunk = 1024;

enum class RequestType { Login, Start, Data, End, MacValue, Unknown };

// One message from the tool, read from its header (and payload for data packets).
struct Request {
    RequestType type = RequestType::Unknown;
    uint8_t command = 0;
    // Login: the fields up to their first zero byte.
    std::string user;
    std::string password;
    // Start and end packets.
    uint8_t kind = 0;
    // Start packet.
    uint32_t announcedLength = 0;
    // Data packet.
    uint32_t chunk = 0;
    std::span<const uint8_t> payload;
    // MAC value packet.
    uint32_t macValue = 0;
    // The first way the message breaks the layout; empty when it is well formed.
    std::string fault;
};

// Payload length from header bytes 4 to 7.
uint32_t payloadLength(std::span<const uint8_t> header);

// message is one whole message: the 32-byte header and its payload.
Request decodeRequest(std::span<const uint8_t> message);

using Reply = std::array<uint8_t, kPacketHeaderSize>;

// Login reply: 0 accepted, 1 refused.
Reply buildLoginReply(uint8_t status);
// Upgrade reply carrying one of the status words "start", "right" or "error".
Reply buildStatusWord(std::string_view word);
// Upgrade reply reporting the recorder's own progress in percent.
Reply buildProgressReport(uint8_t percent);

// "BIOS", "web", ... for the summary lines; "kind N" for anything else.
std::string kindName(uint8_t kind);

} // namespace sim
