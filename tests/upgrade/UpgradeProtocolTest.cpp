// Every packet is compared with bytes written out by hand from the protocol's tables, zero bytes
// included; replies are decoded from hand-written bytes, never from our own encoders.
#include "upgrade/UpgradeProtocol.h"

#include <gtest/gtest.h>

#include <numeric>
#include <stdexcept>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

template <size_t N> Bytes ToBytes(const std::array<uint8_t, N>& a) {
    return Bytes(a.begin(), a.end());
}

// A 32-byte reply with the given bytes set; all others zero.
Bytes Reply(std::initializer_list<std::pair<size_t, uint8_t>> set) {
    Bytes b(32, 0);
    for (auto [at, v] : set) {
        b.at(at) = v;
    }
    return b;
}

Bytes UpgradeReply(const char (&word)[6], uint8_t reportType, uint8_t percent) {
    Bytes b(32, 0);
    b[0] = 0xBA;
    for (size_t i = 0; i < 5; ++i) {
        b[9 + i] = static_cast<uint8_t>(word[i]);
    }
    b[24] = reportType;
    b[26] = percent;
    return b;
}

ReplyEvent Decode(const Bytes& b) {
    return DecodeReply(b.data(), static_cast<uint32_t>(b.size()));
}

} // namespace

TEST(UpgradeProtocol, LoginRequestBytes) {
    const Bytes expected = {
        0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // code, zeros, payload length 0
        'a',  'd',  'm',  'i',  'n',  0x00, 0x00, 0x00, // user name, zero padded
        's',  'e',  'c',  'r',  'e',  't',  0x00, 0x00, // password ...
        0x00, 0x00, 0x00, 0x00,                         // ... 12 bytes in all
        0x3A, 0x00, 0x00, 0x00,                         // marker at 28
    };
    EXPECT_EQ(ToBytes(BuildLoginRequest("admin", "secret")), expected);
}

TEST(UpgradeProtocol, LoginRequestFullAndOverlongFieldsAreCutNeverOverrun) {
    const Bytes full = {
        0x10, 0,   0,   0,   0,   0,   0,   0,                       //
        'o',  'p', 'e', 'r', 'a', 't', 'o', 'r',                     // exactly 8: no terminator
        't',  'w', 'e', 'l', 'v', 'e', '-', 'c', 'h', 'a', 'r', 's', // exactly 12
        0x3A, 0,   0,   0,
    };
    EXPECT_EQ(ToBytes(BuildLoginRequest("operator", "twelve-chars")), full);

    const Bytes cut = {
        0x10, 0,   0,   0,   0,   0,   0,   0,                       //
        'a',  'd', 'm', 'i', 'n', 'i', 's', 't',                     // "administrator" cut to 8
        'a',  'v', 'e', 'r', 'y', 'l', 'o', 'n', 'g', 'p', 'a', 's', // cut to 12
        0x3A, 0,   0,   0,
    };
    EXPECT_EQ(ToBytes(BuildLoginRequest("administrator", "averylongpassword")), cut);

    const Bytes empty = {0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,    0, 0, 0,
                         0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x3A, 0, 0, 0};
    EXPECT_EQ(ToBytes(BuildLoginRequest("", "")), empty);
}

TEST(UpgradeProtocol, LoginRequestCopiesEightBitCharactersUnchanged) {
    const Packet32 p = BuildLoginRequest("\xE9t\xE9", "p\xFF");
    EXPECT_EQ(p[8], 0xE9);
    EXPECT_EQ(p[9], 't');
    EXPECT_EQ(p[10], 0xE9);
    EXPECT_EQ(p[11], 0x00);
    EXPECT_EQ(p[16], 'p');
    EXPECT_EQ(p[17], 0xFF);
    EXPECT_EQ(p[18], 0x00);
}

TEST(UpgradeProtocol, StartPacketBytes) {
    const Bytes expected = {
        0xC7, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // code, zeros, payload length 0
        0x00, 0x01, 's',  't',  'a',  'r',  't',  0x00, // kind BIOS at 9, "start\0" at 10
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //
        0x00, 0x00, 0x00, 0x00, 0x56, 0x34, 0x12, 0x00, // file length 0x123456 at 28
    };
    EXPECT_EQ(ToBytes(BuildStartPacket(KIND_BIOS, 0x123456)), expected);

    const Packet32 exe = BuildStartPacket(KIND_EXE, 0xFFFFFFFFu);
    EXPECT_EQ(exe[9], 6);
    EXPECT_EQ(exe[28], 0xFF);
    EXPECT_EQ(exe[31], 0xFF);
}

TEST(UpgradeProtocol, DataPacketBytes) {
    const uint8_t chunk[3] = {0xAA, 0xBB, 0xCC};
    const Bytes expected = {
        0xC7, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, // code, zeros, payload length 3
        0x00, 0x00, 0x04, 0x03, 0x02, 0x01, 0x00, 0x00, // byte 9 zero, chunk 0x01020304 at 10
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //
        0xAA, 0xBB, 0xCC,                               // payload unchanged
    };
    EXPECT_EQ(BuildDataPacket(0x01020304, chunk, 3), expected);
}

TEST(UpgradeProtocol, DataPacketRefusesEmptyAndOversizedChunks) {
    const Bytes big(1025, 1);
    EXPECT_THROW(BuildDataPacket(0, big.data(), 0), std::invalid_argument);
    EXPECT_THROW(BuildDataPacket(0, big.data(), 1025), std::invalid_argument);
    EXPECT_THROW(BuildDataPacket(0, std::span<const uint8_t>(big)), std::invalid_argument);
    EXPECT_THROW(BuildDataPacket(0, nullptr, 1), std::invalid_argument);
    EXPECT_EQ(BuildDataPacket(0, big.data(), 1024).size(), 1056u);
}

TEST(UpgradeProtocol, EndPacketBytes) {
    const Bytes expected = {
        0xC7, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //
        0x00, 0x05, 'E',  'n',  'd',  0x00, 0x00, 0x00, // kind logo at 9, "End" and three zeros
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //
    };
    EXPECT_EQ(ToBytes(BuildEndPacket(KIND_LOGO)), expected);
}

TEST(UpgradeProtocol, MacPacketBytes) {
    const Bytes expected = {
        0xD0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //
        0x00, 0x00, 0xEF, 0xBE, 0xAD, 0xDE, 0x00, 0x00, // value at 10, little-endian
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, //
    };
    EXPECT_EQ(ToBytes(BuildMacPacket(0xDEADBEEF)), expected);
}

TEST(UpgradeProtocol, FileOf2500BytesIsThreeChunksThenEndAndNextFileRestartsAtZero) {
    Bytes file(2500);
    std::iota(file.begin(), file.end(), uint8_t{7});

    // Header of data packet n with payload length len (written out for each).
    auto dataHeader = [](uint8_t lenLo, uint8_t lenHi, uint8_t chunk) {
        return Bytes{0xC7, 0, 0, 0, lenLo, lenHi, 0, 0, 0, 0, chunk, 0, 0, 0, 0, 0,
                     0,    0, 0, 0, 0,     0,     0, 0, 0, 0, 0,     0, 0, 0, 0, 0};
    };
    const Bytes endHeader = {0xC7, 0, 0, 0, 0, 0, 0, 0, 0, 0x02, 'E', 'n', 'd', 0, 0, 0,
                             0,    0, 0, 0, 0, 0, 0, 0, 0, 0,    0,   0,   0,   0, 0, 0};
    const Bytes expectedHeaders[3] = {dataHeader(0x00, 0x04, 0), dataHeader(0x00, 0x04, 1),
                                      dataHeader(0xC4, 0x01, 2)}; // 1024, 1024, 452

    for (int pass = 0; pass < 2; ++pass) { // the second file of an upgrade starts again at chunk 0
        const auto packets = BuildFilePackets(KIND_WEB, file);
        ASSERT_EQ(packets.size(), 4u);
        size_t offset = 0;
        for (size_t i = 0; i < 3; ++i) {
            const Bytes& p = packets[i];
            ASSERT_EQ(Bytes(p.begin(), p.begin() + 32), expectedHeaders[i]) << "packet " << i;
            const Bytes payload(p.begin() + 32, p.end());
            EXPECT_EQ(payload, Bytes(file.begin() + offset, file.begin() + offset + payload.size()));
            offset += payload.size();
        }
        EXPECT_EQ(offset, 2500u);
        EXPECT_EQ(packets[3], endHeader);
    }
}

TEST(UpgradeProtocol, FileOfExactly1024BytesIsOneChunkAndAnEmptyFileOnlyTheEndPacket) {
    const Bytes file(1024, 0x5A);
    const auto packets = BuildFilePackets(KIND_BIOS, file);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].size(), 1056u);
    EXPECT_EQ(packets[0][4], 0x00);
    EXPECT_EQ(packets[0][5], 0x04);
    EXPECT_EQ(packets[0][10], 0x00);
    EXPECT_EQ(packets[1].size(), 32u);
    EXPECT_EQ(packets[1][10], 'E');

    const auto none = BuildFilePackets(KIND_FONT, {});
    ASSERT_EQ(none.size(), 1u);
    EXPECT_EQ(none[0][9], 4);
    EXPECT_EQ(DataPacketCount(0), 0u);
    EXPECT_EQ(DataPacketCount(1024), 1u);
    EXPECT_EQ(DataPacketCount(1025), 2u);
    EXPECT_EQ(DataPacketCount(2500), 3u);
}

TEST(UpgradeProtocol, DecodesLoginReplies) {
    EXPECT_EQ(Decode(Reply({{0, 0x10}, {8, 0}})).type, ReplyType::LoginAccepted);
    EXPECT_EQ(Decode(Reply({{0, 0x10}, {8, 1}})).type, ReplyType::LoginRefused);
    EXPECT_EQ(Decode(Reply({{0, 0x10}, {8, 2}})).type, ReplyType::Ignored);
    EXPECT_EQ(Decode(Reply({{0, 0x10}, {8, 0xFF}})).type, ReplyType::Ignored);
    // A login reply never carries the completion mark, whatever byte 26 holds.
    const ReplyEvent ev = Decode(Reply({{0, 0x10}, {8, 0}, {24, 2}, {26, 100}}));
    EXPECT_EQ(ev.type, ReplyType::LoginAccepted);
    EXPECT_FALSE(ev.complete);
    EXPECT_FALSE(ev.IsProgress());
}

TEST(UpgradeProtocol, DecodesStatusWordsWithoutRegardToCase) {
    struct Case {
        const char word[6];
        ReplyType type;
    };
    const Case cases[] = {
        {"start", ReplyType::UpgradeStart}, {"Start", ReplyType::UpgradeStart},
        {"right", ReplyType::UpgradeRight}, {"RIGHT", ReplyType::UpgradeRight},
        {"rIgHt", ReplyType::UpgradeRight}, {"error", ReplyType::UpgradeError},
        {"ERROR", ReplyType::UpgradeError}, {"star_", ReplyType::Ignored},
        {"righ\0", ReplyType::Ignored},     {"wrong", ReplyType::Ignored},
    };
    for (const Case& c : cases) {
        const ReplyEvent ev = Decode(UpgradeReply(c.word, 0, 0));
        EXPECT_EQ(ev.type, c.type) << c.word;
        EXPECT_FALSE(ev.complete) << c.word;
        EXPECT_EQ(ev.percent, 0) << c.word;
    }
}

TEST(UpgradeProtocol, StatusWordTakesPrecedenceOverProgressAndCompletionIsSeparate) {
    const ReplyEvent startDone = Decode(UpgradeReply("start", 0, 100));
    EXPECT_EQ(startDone.type, ReplyType::UpgradeStart);
    EXPECT_TRUE(startDone.complete);

    const ReplyEvent errorAsProgress = Decode(UpgradeReply("error", 2, 40));
    EXPECT_EQ(errorAsProgress.type, ReplyType::UpgradeError);
    EXPECT_FALSE(errorAsProgress.IsProgress());
    EXPECT_FALSE(errorAsProgress.complete);

    const ReplyEvent ignoredButDone = Decode(UpgradeReply("xxxxx", 7, 100));
    EXPECT_EQ(ignoredButDone.type, ReplyType::Ignored);
    EXPECT_TRUE(ignoredButDone.complete);
}

TEST(UpgradeProtocol, DecodesProgressReports) {
    const ReplyEvent half = Decode(Reply({{0, 0xBA}, {24, 2}, {26, 57}}));
    EXPECT_EQ(half.type, ReplyType::Progress);
    EXPECT_TRUE(half.IsProgress());
    EXPECT_EQ(half.percent, 57);
    EXPECT_FALSE(half.complete);

    const ReplyEvent full = Decode(Reply({{0, 0xBA}, {24, 2}, {26, 100}}));
    EXPECT_EQ(full.type, ReplyType::Progress);
    EXPECT_EQ(full.percent, 100);
    EXPECT_TRUE(full.complete);

    const ReplyEvent notReport = Decode(Reply({{0, 0xBA}, {24, 3}, {26, 50}}));
    EXPECT_EQ(notReport.type, ReplyType::Ignored);
    EXPECT_EQ(notReport.percent, 0);
}

TEST(UpgradeProtocol, IgnoresOtherCodesShortMessagesAndReadsOnlyTheHeader) {
    EXPECT_EQ(Decode(Reply({{0, 0xB1}, {9, 'r'}, {10, 'i'}, {11, 'g'}, {12, 'h'}, {13, 't'}})).type,
              ReplyType::Ignored);
    EXPECT_EQ(Decode(Reply({{0, 0xB1}, {24, 2}, {26, 100}})).complete, false);
    EXPECT_EQ(Decode(Reply({{0, 0x11}, {8, 0}})).type, ReplyType::Ignored);
    EXPECT_EQ(Decode(Reply({{0, 0xC7}, {24, 2}})).type, ReplyType::Ignored);

    Bytes shortReply = Reply({{0, 0x10}, {8, 0}});
    EXPECT_EQ(DecodeReply(shortReply.data(), 31).type, ReplyType::Ignored);
    EXPECT_EQ(DecodeReply(nullptr, 32).type, ReplyType::Ignored);

    // A message with a payload decodes from its header alone.
    Bytes withPayload = Reply({{0, 0xBA}, {4, 0x00}, {5, 0x10}, {24, 2}, {26, 30}});
    withPayload.resize(32 + 4096, 0xEE);
    const ReplyEvent ev = Decode(withPayload);
    EXPECT_EQ(ev.type, ReplyType::Progress);
    EXPECT_EQ(ev.percent, 30);
}

TEST(UpgradeProtocol, RecorderSideRepliesMatchTheTables) {
    EXPECT_EQ(ToBytes(BuildLoginReply(1)), Reply({{0, 0x10}, {8, 1}}));
    EXPECT_EQ(ToBytes(BuildUpgradeReply("right", 0, 100)),
              Reply({{0, 0xBA}, {9, 'r'}, {10, 'i'}, {11, 'g'}, {12, 'h'}, {13, 't'}, {26, 100}}));
    EXPECT_EQ(ToBytes(BuildUpgradeReply("", 2, 35)), Reply({{0, 0xBA}, {24, 2}, {26, 35}}));
}

TEST(UpgradeProtocol, DecodesToolRequestsFromHandWrittenBytes) {
    const Bytes login = {0x10, 0,   0, 0, 0, 0, 0, 0, 'o', 'p', 'e', 'r', 'a',  't', 'o', 'r',
                         'p',  'w', 0, 0, 0, 0, 0, 0, 0,   0,   0,   0,   0x3A, 0,   0,   0};
    RequestEvent r = DecodeRequest(login.data(), 32);
    EXPECT_EQ(r.type, RequestType::Login);
    EXPECT_EQ(r.user, "operator");
    EXPECT_EQ(r.password, "pw");

    const Bytes start = {0xC7, 0, 0, 0, 0, 0, 0, 0, 0, 3, 's', 't', 'a',  'r',  't', 0,
                         0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0,   0,   0x10, 0x27, 0,   0};
    r = DecodeRequest(start.data(), 32);
    EXPECT_EQ(r.type, RequestType::Start);
    EXPECT_EQ(r.kind, 3);
    EXPECT_EQ(r.fileLength, 10000u);

    const Bytes data = {0xC7, 0, 0, 0, 2, 0, 0, 0, 0, 0, 9, 0, 0, 0, 0, 0,    0,
                        0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x61, 0x62};
    r = DecodeRequest(data.data(), 34);
    EXPECT_EQ(r.type, RequestType::Data);
    EXPECT_EQ(r.chunkNumber, 9u);
    EXPECT_EQ(Bytes(r.payload.begin(), r.payload.end()), (Bytes{0x61, 0x62}));
    EXPECT_EQ(DecodeRequest(data.data(), 33).type, RequestType::Unknown); // payload cut short

    const Bytes end = {0xC7, 0, 0, 0, 0, 0, 0, 0, 0, 1, 'E', 'n', 'd', 0, 0, 0,
                       0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0,   0,   0,   0, 0, 0};
    r = DecodeRequest(end.data(), 32);
    EXPECT_EQ(r.type, RequestType::End);
    EXPECT_EQ(r.kind, 1);

    const Bytes mac = {0xD0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x78, 0x56, 0x34, 0x12, 0, 0,
                       0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0,    0,    0,    0,    0, 0};
    r = DecodeRequest(mac.data(), 32);
    EXPECT_EQ(r.type, RequestType::SetMac);
    EXPECT_EQ(r.macValue, 0x12345678u);
}
