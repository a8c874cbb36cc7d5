#include "upgrade/UpgradeProtocol.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

using H = PacketHeader;

// Copies at most `field` bytes of `text` to `dst`; the rest of the field stays zero. Longer input
// is cut to the field rather than written past it.
void PutText(uint8_t* dst, size_t field, std::string_view text) {
    std::memcpy(dst, text.data(), std::min(field, text.size()));
}

// Text of a fixed-width field up to its first zero byte.
std::string GetText(const uint8_t* src, size_t field) {
    const auto* end = std::find(src, src + field, uint8_t{0});
    return std::string(reinterpret_cast<const char*>(src), static_cast<size_t>(end - src));
}

Packet32 Header(uint8_t command) {
    Packet32 p{};
    p[H::kCommand] = command;
    return p;
}

uint8_t AsciiLower(uint8_t c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<uint8_t>(c - 'A' + 'a') : c;
}

// Compares exactly five bytes without regard to ASCII letter case.
bool WordIs(const uint8_t* p, const char (&word)[6]) {
    for (size_t i = 0; i < 5; ++i) {
        if (AsciiLower(p[i]) != static_cast<uint8_t>(word[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

Packet32 BuildLoginRequest(std::string_view user, std::string_view password) {
    Packet32 p = Header(CMD_LOGIN);
    PutText(&p[H::kLoginUser], H::kLoginUserSize, user);
    PutText(&p[H::kLoginPassword], H::kLoginPasswordSize, password);
    p[H::kLoginMarker] = H::kLoginMarkerValue;
    return p;
}

Packet32 BuildStartPacket(UpgradeKind kind, uint32_t fileLength) {
    Packet32 p = Header(CMD_UPGRADE);
    p[H::kKind] = kind;
    PutText(&p[H::kWord], H::kWordSize, "start");
    LittleEndian::Write32(&p[H::kFileLength], fileLength);
    return p;
}

std::vector<uint8_t> BuildDataPacket(uint32_t chunkNumber, const uint8_t* data, uint32_t length) {
    if (length == 0 || length > kMaxDataPayload || data == nullptr) {
        throw std::invalid_argument("BuildDataPacket: a chunk holds 1 to 1024 bytes");
    }
    std::vector<uint8_t> p(H::kSize + length);
    PutDataPacketHeader(p.data(), chunkNumber, length);
    std::memcpy(&p[H::kSize], data, length);
    return p;
}

void PutDataPacketHeader(uint8_t* packet, uint32_t chunkNumber, uint32_t length) {
    std::memset(packet, 0, H::kSize);
    packet[H::kCommand] = CMD_UPGRADE;
    LittleEndian::Write32(packet + H::kPayloadLength, length);
    LittleEndian::Write32(packet + H::kChunkNumber, chunkNumber);
}

std::vector<uint8_t> BuildDataPacket(uint32_t chunkNumber, std::span<const uint8_t> chunk) {
    if (chunk.size() > kMaxDataPayload) {
        throw std::invalid_argument("BuildDataPacket: a chunk holds 1 to 1024 bytes");
    }
    return BuildDataPacket(chunkNumber, chunk.data(), static_cast<uint32_t>(chunk.size()));
}

Packet32 BuildEndPacket(UpgradeKind kind) {
    Packet32 p = Header(CMD_UPGRADE);
    p[H::kKind] = kind;
    PutText(&p[H::kWord], H::kWordSize, "End");
    return p;
}

Packet32 BuildMacPacket(uint32_t macValue) {
    Packet32 p = Header(CMD_SET_MAC);
    LittleEndian::Write32(&p[H::kMacValue], macValue);
    return p;
}

std::vector<std::vector<uint8_t>> BuildFilePackets(UpgradeKind kind, std::span<const uint8_t> file) {
    std::vector<std::vector<uint8_t>> packets;
    packets.reserve(static_cast<size_t>(DataPacketCount(file.size())) + 1);
    uint32_t chunk = 0;
    for (size_t at = 0; at < file.size(); at += kMaxDataPayload, ++chunk) {
        packets.push_back(
            BuildDataPacket(chunk, file.subspan(at, std::min<size_t>(kMaxDataPayload, file.size() - at))));
    }
    const Packet32 end = BuildEndPacket(kind);
    packets.emplace_back(end.begin(), end.end());
    return packets;
}

ReplyEvent DecodeReply(const uint8_t* data, uint32_t length) {
    ReplyEvent ev;
    if (data == nullptr || length < H::kSize) {
        return ev;
    }
    const uint8_t code = data[H::kCommand];
    if (code == REPLY_LOGIN) {
        if (data[H::kLoginStatus] == H::kLoginAccepted) {
            ev.type = ReplyType::LoginAccepted;
        } else if (data[H::kLoginStatus] == H::kLoginRefused) {
            ev.type = ReplyType::LoginRefused;
        }
        return ev;
    }
    if (code != REPLY_UPGRADE) {
        return ev; // REPLY_B1 and unknown codes alike
    }
    const uint8_t* word = &data[H::kReplyWord];
    if (WordIs(word, "start")) {
        ev.type = ReplyType::UpgradeStart;
    } else if (WordIs(word, "right")) {
        ev.type = ReplyType::UpgradeRight;
    } else if (WordIs(word, "error")) {
        ev.type = ReplyType::UpgradeError;
    } else if (data[H::kReportType] == H::kReportProgress) {
        ev.type = ReplyType::Progress;
        ev.percent = data[H::kPercent];
    }
    ev.complete = data[H::kPercent] == H::kPercentComplete;
    return ev;
}

Packet32 BuildLoginReply(uint8_t status) {
    Packet32 p = Header(REPLY_LOGIN);
    p[H::kLoginStatus] = status;
    return p;
}

Packet32 BuildUpgradeReply(std::string_view word, uint8_t reportType, uint8_t percent) {
    Packet32 p = Header(REPLY_UPGRADE);
    PutText(&p[H::kReplyWord], H::kReplyWordSize, word);
    p[H::kReportType] = reportType;
    p[H::kPercent] = percent;
    return p;
}

RequestEvent DecodeRequest(const uint8_t* data, uint32_t length) {
    RequestEvent ev;
    if (data == nullptr || length < H::kSize) {
        return ev;
    }
    const uint32_t payload = LittleEndian::Read32(&data[H::kPayloadLength]);
    if (payload > length - H::kSize) {
        return ev;
    }
    switch (data[H::kCommand]) {
    case CMD_LOGIN:
        ev.type = RequestType::Login;
        ev.user = GetText(&data[H::kLoginUser], H::kLoginUserSize);
        ev.password = GetText(&data[H::kLoginPassword], H::kLoginPasswordSize);
        break;
    case CMD_SET_MAC:
        ev.type = RequestType::SetMac;
        ev.macValue = LittleEndian::Read32(&data[H::kMacValue]);
        break;
    case CMD_UPGRADE:
        if (payload > 0) {
            ev.type = RequestType::Data;
            ev.chunkNumber = LittleEndian::Read32(&data[H::kChunkNumber]);
            ev.payload = std::span<const uint8_t>(data + H::kSize, payload);
        } else if (std::memcmp(&data[H::kWord], "start", H::kWordSize) == 0) {
            ev.type = RequestType::Start;
            ev.kind = data[H::kKind];
            ev.fileLength = LittleEndian::Read32(&data[H::kFileLength]);
        } else if (std::memcmp(&data[H::kWord], "End\0\0", H::kWordSize) == 0) {
            ev.type = RequestType::End;
            ev.kind = data[H::kKind];
        }
        break;
    default:
        break;
    }
    return ev;
}
