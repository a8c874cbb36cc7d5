#include "discovery/DiscoveryProtocol.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes zeros(std::size_t n) {
    return Bytes(n, 0);
}

Bytes asciiBytes(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// An 88-byte record written out by hand: opaque bytes 0x10.. at 0-23, address 192.168.1.108,
// mask 255.255.255.0, gateway 192.168.1.1, opaque 0x40.. at 36-65, port 0x9381 little-endian
// (37761), opaque 0x60.. at 68-87.
const Bytes kRecordBytes = {
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, // 0-11
    0x1C, 0x1D, 0x1E, 0x1F, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, // 12-23
    0xC0, 0xA8, 0x01, 0x6C,                                                 // 24 address
    0xFF, 0xFF, 0xFF, 0x00,                                                 // 28 mask
    0xC0, 0xA8, 0x01, 0x01,                                                 // 32 gateway
    0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, // 36-47
    0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, // 48-59
    0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D,                                     // 60-65
    0x81, 0x93,                                                             // 66 port
    0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, // 68-79
    0x6C, 0x6D, 0x6E, 0x6F, 0x70, 0x71, 0x72, 0x73,                         // 80-87
};

DeviceNetRecord handRecord() {
    return *DeviceNetRecord::fromBytes(kRecordBytes);
}

// A MAC text followed by two bytes the tool must carry along without interpreting them.
const Bytes kIdentityBytes = cat({asciiBytes("00:12:34:AB:cd:EF"), {0x00, 0xFE}});

// Search reply header written out by hand: 0xB3, flag 0, extLength, 0, bodyLength 88
// little-endian, zeros, bodyKind at 16.
Bytes searchReplyHeader(std::uint8_t extLength, std::uint8_t bodyKind = 2,
                        Bytes bodyLength = {0x58, 0, 0, 0}) {
    return cat({{0xB3, 0x00, extLength, 0x00}, bodyLength, zeros(8), {bodyKind}, zeros(15)});
}

ParseOutcome parseBytes(DiscoveryParser& parser, const Bytes& datagram, DeviceNetRecord& record) {
    return parser.parse(datagram.data(), datagram.size(), record);
}

} // namespace

// ---- Requests, byte for byte ----

TEST(DiscoveryRequests, SearchIsExactly32HandWrittenBytes) {
    const Bytes expected = {0xA3, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                            0x02, 0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(buildSearch(), expected);
}

TEST(DiscoveryRequests, ShortLoginWithEightByteFieldsHasNoTerminators) {
    const DeviceIdentity identity(kIdentityBytes);
    const Bytes expected = cat({{0xA0, 0x01, 0x13, 0x00, 0x00, 0x00, 0x00, 0x00},
                                {'a', 'd', 'm', 'i', 'n', '1', '2', '3'},
                                {'p', 'a', 's', 's', '5', '6', '7', '8'},
                                zeros(8),
                                kIdentityBytes});
    const Datagram login = buildLogin("admin123", "pass5678", identity);
    EXPECT_EQ(login.size(), 32u + 19u);
    EXPECT_EQ(login, expected);
}

TEST(DiscoveryRequests, ShortLoginPadsShortFieldsWithZeros) {
    const Bytes expected = cat({{0xA0, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
                                {'a', 'd', 'm', 'i', 'n', 0, 0, 0},
                                zeros(8), // empty password
                                zeros(8)});
    EXPECT_EQ(buildLogin("admin", "", DeviceIdentity()), expected);
}

TEST(DiscoveryRequests, NineByteNameSwitchesToLongForm) {
    const DeviceIdentity identity(kIdentityBytes);
    // Body "admin1234&&pw" is 13 bytes; the identity follows at 34 + 9 + 2 = 45.
    const Bytes expected = cat({{0xA0, 0x01, 0x13, 0x00, 0x0D, 0x00, 0x00, 0x00},
                                zeros(24),
                                asciiBytes("admin1234&&pw"),
                                kIdentityBytes});
    const Datagram login = buildLogin("admin1234", "pw", identity);
    EXPECT_EQ(login, expected);
    EXPECT_EQ(login.size(), 32u + 9u + 2u + 2u + 19u);
}

TEST(DiscoveryRequests, NineBytePasswordSwitchesToLongForm) {
    const Bytes expected =
        cat({{0xA0, 0x01, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x00}, zeros(24), asciiBytes("a&&123456789")});
    EXPECT_EQ(buildLogin("a", "123456789", DeviceIdentity()), expected);
}

TEST(DiscoveryRequests, ModifyIpCarriesRecordThenIdentity) {
    const Bytes expected = cat({{0xC1, 0x01, 0x13, 0x00, 0x58, 0x00, 0x00, 0x00},
                                zeros(8),
                                {0x02},
                                zeros(15),
                                kRecordBytes,
                                kIdentityBytes});
    const Datagram request = buildModifyIp(handRecord(), DeviceIdentity(kIdentityBytes));
    EXPECT_EQ(request.size(), 120u + 19u);
    EXPECT_EQ(request, expected);
}

TEST(DiscoveryRequests, ModifyIpAfterSettersChangesOnlyAddressMaskGateway) {
    DeviceNetRecord record = handRecord();
    record.setAddress(0x0A000105); // 10.0.1.5
    record.setMask(0xFFFF0000);
    record.setGateway(0x0A000001);
    Bytes body = kRecordBytes;
    const Bytes changed = {0x0A, 0x00, 0x01, 0x05, 0xFF, 0xFF, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x01};
    std::copy(changed.begin(), changed.end(), body.begin() + 24);
    const Datagram request = buildModifyIp(record, DeviceIdentity());
    EXPECT_EQ(Bytes(request.begin() + 32, request.end()), body);
}

// ---- Record and identity ----

TEST(DiscoveryRecord, FieldsReadFromTheirOffsets) {
    const DeviceNetRecord record = handRecord();
    EXPECT_EQ(record.address(), 0xC0A8016Cu);
    EXPECT_EQ(record.mask(), 0xFFFFFF00u);
    EXPECT_EQ(record.gateway(), 0xC0A80101u);
    EXPECT_EQ(record.port(), 37761);

    Bytes bytes = kRecordBytes;
    bytes[66] = 0x25;
    bytes[67] = 0x00;
    EXPECT_EQ(DeviceNetRecord::fromBytes(bytes)->port(), 37);

    DeviceNetRecord written;
    written.setPort(0x1234);
    EXPECT_EQ(written.bytes[66], 0x34);
    EXPECT_EQ(written.bytes[67], 0x12);

    EXPECT_FALSE(DeviceNetRecord::fromBytes(Bytes(87, 0)));
    EXPECT_FALSE(DeviceNetRecord::fromBytes(Bytes(89, 0)));
}

TEST(DiscoveryIdentity, MacTextStopsAtZeroAt17BytesOrAtTheEnd) {
    EXPECT_EQ(DeviceIdentity(kIdentityBytes).macText(), "00:12:34:AB:cd:EF");
    EXPECT_EQ(DeviceIdentity::fromText("00:12:34:AB:cd:EF-and-more").macText(), "00:12:34:AB:cd:EF");
    EXPECT_EQ(DeviceIdentity::fromText("00:12:34").macText(), "00:12:34");
    EXPECT_EQ(DeviceIdentity(Bytes{'a', 'b', 0, 'c'}).macText(), "ab");
    EXPECT_EQ(DeviceIdentity().macText(), "");
}

TEST(DiscoveryIdentity, HoldsAtMost255Bytes) {
    EXPECT_EQ(DeviceIdentity(Bytes(255, 7)).size(), 255u);
    EXPECT_THROW(DeviceIdentity(Bytes(256, 7)), std::length_error);
}

// ---- Parser ----

TEST(DiscoveryParser, StartsWithNothingStored) {
    DiscoveryParser parser;
    EXPECT_TRUE(parser.identity().empty());
    EXPECT_EQ(parser.loginResult(), -1);
    EXPECT_EQ(parser.loginReason(), -1);
    EXPECT_EQ(parser.modifyResult(), -1);
}

TEST(DiscoveryParser, SearchReplyWithExactLengthsFindsDevice) {
    const Bytes reply = cat({searchReplyHeader(17), kRecordBytes, asciiBytes("00:12:34:AB:cd:EF")});
    ASSERT_EQ(reply.size(), 32u + 88u + 17u);
    DiscoveryParser parser;
    DeviceNetRecord record;
    EXPECT_EQ(parseBytes(parser, reply, record), ParseOutcome::DeviceFound);
    EXPECT_EQ(Bytes(record.bytes.begin(), record.bytes.end()), kRecordBytes);
    EXPECT_EQ(parser.identity().macText(), "00:12:34:AB:cd:EF");
    EXPECT_TRUE(parser.lastReplyHadIdentity());
}

TEST(DiscoveryParser, SearchReplyOneByteLongOrShortIsIgnoredWhole) {
    DiscoveryParser parser;
    DeviceNetRecord record;
    ASSERT_EQ(parseBytes(parser, cat({searchReplyHeader(5), kRecordBytes, asciiBytes("AAAAA")}), record),
              ParseOutcome::DeviceFound);

    const Bytes exact = cat({searchReplyHeader(17), kRecordBytes, asciiBytes("00:12:34:AB:cd:EF")});
    Bytes longer = exact;
    longer.push_back(0);
    Bytes shorter = exact;
    shorter.pop_back();
    DeviceNetRecord untouched;
    EXPECT_EQ(parseBytes(parser, longer, untouched), ParseOutcome::None);
    EXPECT_EQ(parseBytes(parser, shorter, untouched), ParseOutcome::None);
    EXPECT_EQ(untouched, DeviceNetRecord());
    EXPECT_EQ(parser.identity(), DeviceIdentity::fromText("AAAAA"));
}

TEST(DiscoveryParser, SearchReplyNotAKindTwoRecordStillReplacesIdentity) {
    DiscoveryParser parser;
    DeviceNetRecord record;
    EXPECT_EQ(parseBytes(parser, cat({searchReplyHeader(3, 1), kRecordBytes, asciiBytes("xyz")}), record),
              ParseOutcome::None);
    EXPECT_EQ(parser.identity(), DeviceIdentity::fromText("xyz"));
    EXPECT_EQ(record, DeviceNetRecord());

    // A kind-2 body of another length yields no device either.
    EXPECT_EQ(parseBytes(parser, cat({searchReplyHeader(0, 2, {0x04, 0, 0, 0}), {1, 2, 3, 4}}), record),
              ParseOutcome::None);
}

TEST(DiscoveryParser, SearchReplyWithoutExtensionKeepsStoredIdentity) {
    DiscoveryParser parser;
    DeviceNetRecord record;
    ASSERT_EQ(parseBytes(parser, cat({searchReplyHeader(17), kRecordBytes, asciiBytes("00:12:34:AB:cd:EF")}),
                         record),
              ParseOutcome::DeviceFound);
    EXPECT_EQ(parseBytes(parser, cat({searchReplyHeader(0), kRecordBytes}), record),
              ParseOutcome::DeviceFound);
    EXPECT_EQ(parser.identity().macText(), "00:12:34:AB:cd:EF");
    EXPECT_FALSE(parser.lastReplyHadIdentity());
}

TEST(DiscoveryParser, BodyLengthThatWrapsIn32BitsIsRejected) {
    // 32 + 0xFFFFFFFF + 1 wraps to 32 in 32-bit arithmetic, the datagram's length.
    const Bytes reply = searchReplyHeader(1, 2, {0xFF, 0xFF, 0xFF, 0xFF});
    DiscoveryParser parser;
    DeviceNetRecord record;
    EXPECT_EQ(parseBytes(parser, reply, record), ParseOutcome::None);
    EXPECT_TRUE(parser.identity().empty());
}

TEST(DiscoveryParser, ShortOrEmptyDatagramsGiveNone) {
    DiscoveryParser parser;
    DeviceNetRecord record;
    EXPECT_EQ(parser.parse(nullptr, 0, record), ParseOutcome::None);
    const Bytes oneByte = {0xB3};
    EXPECT_EQ(parseBytes(parser, oneByte, record), ParseOutcome::None);
    EXPECT_EQ(parseBytes(parser, Bytes{0xB0, 0, 0, 0, 0, 0, 0, 0, 1}, record), ParseOutcome::None);
    EXPECT_EQ(parseBytes(parser, Bytes{0xC1, 0, 0, 0, 0, 0, 0, 0, 1}, record), ParseOutcome::None);
    EXPECT_EQ(parser.loginResult(), -1);
    EXPECT_EQ(parser.modifyResult(), -1);
    // Requests and unknown commands are not replies.
    EXPECT_EQ(parseBytes(parser, buildSearch(), record), ParseOutcome::None);
    EXPECT_EQ(parseBytes(parser, buildLogin("a", "b", DeviceIdentity()), record), ParseOutcome::None);
    EXPECT_EQ(parseBytes(parser, cat({{0x42}, zeros(31)}), record), ParseOutcome::None);
}

TEST(DiscoveryParser, LoginReplyKeepsReasonWhenAccepted) {
    DiscoveryParser parser;
    DeviceNetRecord record;
    // Ten bytes are enough: command, flag, ext, reserved, length, result, reason.
    EXPECT_EQ(parseBytes(parser, Bytes{0xB0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x04}, record),
              ParseOutcome::LoginAnswered);
    EXPECT_EQ(parser.loginResult(), 1);
    EXPECT_EQ(parser.loginReason(), 4);
    EXPECT_EQ(parseBytes(parser, cat({{0xB0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x09}, zeros(22)}), record),
              ParseOutcome::LoginAnswered);
    EXPECT_EQ(parser.loginResult(), 0);
    EXPECT_EQ(parser.loginReason(), 4);
    EXPECT_EQ(record, DeviceNetRecord());
}

TEST(DiscoveryParser, AnyC1DatagramIsAModifyResultFromByte8) {
    DiscoveryParser parser;
    DeviceNetRecord record;
    EXPECT_EQ(parseBytes(parser, Bytes{0xC1, 0x77, 0x55, 0, 0xFF, 0xFF, 0, 0, 0x03, 0x00}, record),
              ParseOutcome::ModifyAnswered);
    EXPECT_EQ(parser.modifyResult(), 3);
    // The tool's own request, heard back, reads as result 0; the engine must not take it as an answer.
    EXPECT_EQ(parseBytes(parser, buildModifyIp(handRecord(), DeviceIdentity()), record),
              ParseOutcome::ModifyAnswered);
    EXPECT_EQ(parser.modifyResult(), 0);
}

// ---- Texts ----

TEST(DiscoveryTexts, LoginResultTable) {
    EXPECT_FALSE(loginResultText(0, 0));
    EXPECT_FALSE(loginResultText(0, 1));
    EXPECT_EQ(loginResultText(1, 0), "Invalid password!");
    EXPECT_EQ(loginResultText(1, 1), "Invalid account!");
    EXPECT_EQ(loginResultText(1, 2), "Login failed!");
    EXPECT_EQ(loginResultText(1, 3), "The account has already logged in!");
    EXPECT_EQ(loginResultText(1, 4), "The account has been locked!");
    EXPECT_EQ(loginResultText(1, 5), "The account is listed in the restricted sites.");
    EXPECT_EQ(loginResultText(1, 6), "System busying.");
    EXPECT_EQ(loginResultText(1, 7), "Login failed!");
    EXPECT_EQ(loginResultText(1, 255), "Login failed!");
    EXPECT_EQ(loginResultText(3, 0), "The user has logined.");
    EXPECT_EQ(loginResultText(3, 6), "The user has logined.");
    EXPECT_FALSE(loginResultText(2, 0));
    EXPECT_FALSE(loginResultText(4, 1));
    EXPECT_FALSE(loginResultText(-1, -1));
    EXPECT_EQ(LOGIN_TIMEOUT_TEXT, "It is ouvertime.");
}

TEST(DiscoveryTexts, ModifyResultTable) {
    EXPECT_EQ(modifyResultText(0), "Modified IP address successfully!");
    EXPECT_EQ(modifyResultText(1), "Failed to modify IP address!");
    EXPECT_FALSE(modifyResultText(2));
    EXPECT_EQ(modifyResultText(3), "Data irregular!");
    EXPECT_EQ(modifyResultText(4), "Cannot Set!");
    EXPECT_FALSE(modifyResultText(5));
    EXPECT_FALSE(modifyResultText(255));
    EXPECT_FALSE(modifyResultText(-1));
}

// ---- The recorder's side ----

TEST(DiscoveryRecorderSide, SearchReplyBytesAndTheToolParsesThem) {
    const Datagram reply = buildSearchReply(handRecord(), DeviceIdentity(kIdentityBytes));
    EXPECT_EQ(reply, cat({searchReplyHeader(19), kRecordBytes, kIdentityBytes}));

    DiscoveryParser parser;
    DeviceNetRecord record;
    EXPECT_EQ(parser.parse(reply.data(), reply.size(), record), ParseOutcome::DeviceFound);
    EXPECT_EQ(record, handRecord());
    EXPECT_EQ(parser.identity(), DeviceIdentity(kIdentityBytes));
}

TEST(DiscoveryRecorderSide, ResultReplyBytes) {
    EXPECT_EQ(buildLoginReply(1, 5), cat({{0xB0, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0x01, 0x05}, zeros(22)}));
    EXPECT_EQ(buildModifyIpReply(4), cat({{0xC1, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0x04}, zeros(23)}));
}

TEST(DiscoveryRecorderSide, RecognisesSearchRequest) {
    EXPECT_TRUE(isSearchRequest(buildSearch()));
    EXPECT_FALSE(isSearchRequest(Bytes{0xA3}));
    EXPECT_FALSE(isSearchRequest(buildLoginReply(0, 0)));
}

TEST(DiscoveryRecorderSide, ReadsBothLoginForms) {
    const DeviceIdentity identity(kIdentityBytes);
    for (const auto& [name, password] : std::vector<std::pair<std::string, std::string>>{
             {"admin123", "pass5678"}, {"a", ""}, {"", ""}, {"administrator", "x"}, {"ab", "123456789"}}) {
        SCOPED_TRACE(name + "/" + password);
        const auto request = readLoginRequest(buildLogin(name, password, identity));
        ASSERT_TRUE(request);
        EXPECT_EQ(request->userName, name);
        EXPECT_EQ(request->password, password);
        EXPECT_EQ(request->identity, identity);
    }
}

TEST(DiscoveryRecorderSide, RejectsMalformedLoginRequests) {
    Datagram login = buildLogin("administrator", "pw", DeviceIdentity());
    login.pop_back();
    EXPECT_FALSE(readLoginRequest(login));
    // A long body without the separator.
    EXPECT_FALSE(
        readLoginRequest(cat({{0xA0, 0x01, 0x00, 0x00, 0x03, 0, 0, 0}, zeros(24), asciiBytes("abc")})));
    EXPECT_FALSE(readLoginRequest(buildSearch()));
    EXPECT_FALSE(readLoginRequest(Bytes{0xA0, 0x01}));
}

TEST(DiscoveryRecorderSide, ReadsModifyIpRequest) {
    const auto request = readModifyIpRequest(buildModifyIp(handRecord(), DeviceIdentity(kIdentityBytes)));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->record, handRecord());
    EXPECT_EQ(request->identity, DeviceIdentity(kIdentityBytes));

    Datagram truncated = buildModifyIp(handRecord(), DeviceIdentity(kIdentityBytes));
    truncated.pop_back();
    EXPECT_FALSE(readModifyIpRequest(truncated));
    EXPECT_FALSE(readModifyIpRequest(buildModifyIpReply(0)));
}

TEST(DiscoveryRecorderSide, HeaderRoundTripAndOffsets) {
    DiscoveryHeader header;
    header.command = 0xAB;
    header.flag = 1;
    header.extLength = 200;
    header.bodyLength = 0x01020304;
    header.result = 7;
    header.reason = 8;
    header.bodyKind = 9;
    std::array<std::uint8_t, 32> out{};
    header.encode(out);
    EXPECT_EQ(Bytes(out.begin(), out.end()),
              cat({{0xAB, 0x01, 200, 0x00, 0x04, 0x03, 0x02, 0x01, 7, 8}, zeros(6), {9}, zeros(15)}));
    const auto decoded = DiscoveryHeader::decode(out);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->bodyLength, 0x01020304u);
    EXPECT_EQ(decoded->extLength, 200);
    EXPECT_EQ(decoded->bodyKind, 9);
    EXPECT_FALSE(DiscoveryHeader::decode(Bytes(31, 0)));
}

// ---- Dotted decimal ----

TEST(DiscoveryAddressText, FormatAndParse) {
    EXPECT_EQ(formatIpv4(0xC0A8016C), "192.168.1.108");
    EXPECT_EQ(formatIpv4(0), "0.0.0.0");
    EXPECT_EQ(formatIpv4(0xFFFFFFFF), "255.255.255.255");
    EXPECT_EQ(parseIpv4("192.168.1.108"), 0xC0A8016Cu);
    EXPECT_EQ(parseIpv4("127.0.0.1"), 0x7F000001u);
    for (const char* bad : {"", "1.2.3", "1.2.3.4.", "1.2.3.256", "1..2.3", " 1.2.3.4", "1.2.3.4 ", "a.b.c.d",
                            "1234.1.1.1", "-1.2.3.4"}) {
        EXPECT_FALSE(parseIpv4(bad)) << bad;
    }
}
