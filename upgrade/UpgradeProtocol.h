// Byte layout of the messages between the upgrade tool and a recorder: encoders for what the tool
// sends, the decoder of what it receives, and a few recorder-side encoders for simulated peers.
// Everything here is a pure function over byte buffers: nothing is sent and no state is kept.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Little-endian loads and stores at a byte pointer; the protocol's numbers are all little-endian
// and may stand at any offset, so they are assembled byte by byte.
namespace LittleEndian {
inline constexpr uint16_t Read16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline constexpr uint32_t Read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline constexpr void Write16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline constexpr void Write32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
} // namespace LittleEndian

// Command codes (header byte 0). Login request and login reply share 0x10.
inline constexpr uint8_t CMD_LOGIN = 0x10;
inline constexpr uint8_t REPLY_LOGIN = 0x10;
inline constexpr uint8_t CMD_UPGRADE = 0xC7;
inline constexpr uint8_t CMD_SET_MAC = 0xD0;
inline constexpr uint8_t REPLY_UPGRADE = 0xBA;
inline constexpr uint8_t REPLY_B1 = 0xB1;

// What is being upgraded; one byte in the start and end packets.
enum UpgradeKind : uint8_t {
    KIND_BIOS = 1,
    KIND_WEB = 2,
    KIND_BOOT = 3,
    KIND_FONT = 4,
    KIND_LOGO = 5,
    KIND_EXE = 6,
};

// True for the six kinds a start or end packet may carry.
inline constexpr bool IsValidUpgradeKind(int kind) {
    return kind >= KIND_BIOS && kind <= KIND_EXE;
}

// The 32-byte header in front of every message in both directions, with the offsets of every
// field the tool reads or writes. Bytes no field names stay zero.
struct PacketHeader {
    static constexpr uint32_t kSize = 32;

    static constexpr size_t kCommand = 0;
    static constexpr size_t kPayloadLength = 4; // 32-bit payload length L

    // Login request.
    static constexpr size_t kLoginUser = 8;
    static constexpr size_t kLoginUserSize = 8;
    static constexpr size_t kLoginPassword = 16;
    static constexpr size_t kLoginPasswordSize = 12;
    static constexpr size_t kLoginMarker = 28;
    static constexpr uint8_t kLoginMarkerValue = 0x3A;

    // Start, data and end packets.
    static constexpr size_t kKind = 9;  // start and end packets
    static constexpr size_t kWord = 10; // "start" / "End", 6 bytes with their zero padding
    static constexpr size_t kWordSize = 6;
    static constexpr size_t kFileLength = 28;  // start packet: announced file length
    static constexpr size_t kChunkNumber = 10; // data packet

    // MAC value packet.
    static constexpr size_t kMacValue = 10;

    // Login reply.
    static constexpr size_t kLoginStatus = 8;
    static constexpr uint8_t kLoginAccepted = 0;
    static constexpr uint8_t kLoginRefused = 1;

    // Upgrade reply.
    static constexpr size_t kReplyWord = 9;
    static constexpr size_t kReplyWordSize = 5;
    static constexpr size_t kReportType = 24;
    static constexpr uint8_t kReportProgress = 2;
    static constexpr size_t kPercent = 26;
    static constexpr uint8_t kPercentComplete = 100;

    std::array<uint8_t, kSize> bytes{};

    uint8_t Command() const { return bytes[kCommand]; }
    uint32_t PayloadLength() const { return LittleEndian::Read32(&bytes[kPayloadLength]); }
    void SetCommand(uint8_t code) { bytes[kCommand] = code; }
    void SetPayloadLength(uint32_t length) { LittleEndian::Write32(&bytes[kPayloadLength], length); }
};

// Largest payload of a data packet the tool sends, and so the chunk size of a file.
inline constexpr uint32_t kMaxDataPayload = 1024;
// Largest payload the tool accepts in a received message; larger headers put the stream out of step.
inline constexpr uint32_t kMaxReceivedPayload = 4096;

using Packet32 = std::array<uint8_t, PacketHeader::kSize>;

// Login request: user name cut to 8 bytes, password cut to 12, each zero-padded.
Packet32 BuildLoginRequest(std::string_view user, std::string_view password);

// Upgrade start packet announcing `kind` and a file of `fileLength` bytes.
Packet32 BuildStartPacket(UpgradeKind kind, uint32_t fileLength);

// Data packet carrying 1 to 1024 file bytes as chunk `chunkNumber`.
// Throws std::invalid_argument for an empty or longer chunk: that would be a framing error.
std::vector<uint8_t> BuildDataPacket(uint32_t chunkNumber, const uint8_t* data, uint32_t length);
std::vector<uint8_t> BuildDataPacket(uint32_t chunkNumber, std::span<const uint8_t> chunk);

// Writes a data packet's header in place in front of the chunk already read into the packet
// buffer, so that a stream needs one buffer and no copy per chunk.
void PutDataPacketHeader(uint8_t* packet, uint32_t chunkNumber, uint32_t length);

// End packet closing one file of the upgrade.
Packet32 BuildEndPacket(UpgradeKind kind);

// MAC value packet of the hidden service function.
Packet32 BuildMacPacket(uint32_t macValue);

// Every packet one file of an upgrade is sent as: its data packets in chunk order (numbered
// from 0, 1024 bytes each but the last) followed by the end packet. An empty file is the end
// packet alone.
std::vector<std::vector<uint8_t>> BuildFilePackets(UpgradeKind kind, std::span<const uint8_t> file);

// Number of data packets a file of `fileLength` bytes is cut into.
inline constexpr uint64_t DataPacketCount(uint64_t fileLength) {
    return (fileLength + kMaxDataPayload - 1) / kMaxDataPayload;
}

// What one received message means to the upgrade session.
enum class ReplyType : uint8_t {
    Ignored,
    LoginAccepted,
    LoginRefused,
    UpgradeStart, // status word "start"
    UpgradeRight, // status word "right"
    UpgradeError, // status word "error"
    Progress,     // progress report, percent in `percent`
};

struct ReplyEvent {
    ReplyType type = ReplyType::Ignored;
    uint8_t percent = 0;   // byte 26 of a progress report; 0 for every other type
    bool complete = false; // an upgrade reply with 100 in byte 26

    // Whether the message was a progress report; the session remembers this for the latest one.
    bool IsProgress() const { return type == ReplyType::Progress; }
};

// Decodes one whole received message (header and payload, as the socket hands it out). Only the
// first 32 bytes are read. Never fails: a message shorter than a header, or one the tool has no
// use for, is Ignored.
ReplyEvent DecodeReply(const uint8_t* data, uint32_t length);

// Recorder-side encoders, for simulated recorders and tests of the session.
// Login reply with status byte `status` (0 accepted, 1 refused).
Packet32 BuildLoginReply(uint8_t status);
// Upgrade reply with up to five characters of `word` at byte 9, report type at 24, percent at 26.
Packet32 BuildUpgradeReply(std::string_view word, uint8_t reportType, uint8_t percent);

// A message from the tool as a recorder reads it (for simulated recorders and tests).
enum class RequestType : uint8_t { Unknown, Login, Start, Data, End, SetMac };

struct RequestEvent {
    RequestType type = RequestType::Unknown;
    std::string user;                 // Login: up to 8 bytes, cut at the first zero byte
    std::string password;             // Login: up to 12 bytes, cut at the first zero byte
    uint8_t kind = 0;                 // Start, End
    uint32_t fileLength = 0;          // Start
    uint32_t chunkNumber = 0;         // Data
    std::span<const uint8_t> payload; // Data: points into the decoded message
    uint32_t macValue = 0;            // SetMac
};

// Decodes one whole message sent by the tool (32 + L bytes). A message shorter than its header
// announces, or an upgrade message that is none of start, data or end, is Unknown.
RequestEvent DecodeRequest(const uint8_t* data, uint32_t length);
