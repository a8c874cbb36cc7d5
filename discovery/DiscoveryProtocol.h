#pragma once

// The discovery datagrams: pure encoders and decoders that never touch the network.
//
// Every datagram is a 32-byte DiscoveryHeader, a body of bodyLength bytes and an extension of
// extLength bytes. Integers wider than a byte are little-endian; IPv4 addresses, masks and
// gateways travel as 4 bytes with the first octet of the dotted form first.
//
// In this interface an IPv4 address is a std::uint32_t whose most significant byte is the first
// octet of the dotted form (192.168.1.10 is 0xC0A8010A), the same number Qt's
// QHostAddress::toIPv4Address() gives. The encoders write it to the wire in network order.
//
// Both sides are here: the tool's requests and reply parser, and the recorder's reply builders
// and request readers, so that a simulated recorder speaks exactly the bytes the tool expects.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Port every request goes to and the tool receives on.
inline constexpr std::uint16_t DISCOVERY_PORT = 5050;
// The limited broadcast address 255.255.255.255, where every request goes.
inline constexpr std::uint32_t DISCOVERY_BROADCAST_ADDRESS = 0xFFFFFFFFu;

// Command bytes (header byte 0).
inline constexpr std::uint8_t DISC_SEARCH = 0xA3;
inline constexpr std::uint8_t DISC_SEARCH_REPLY = 0xB3;
inline constexpr std::uint8_t DISC_LOGIN = 0xA0;
inline constexpr std::uint8_t DISC_LOGIN_REPLY = 0xB0;
inline constexpr std::uint8_t DISC_MODIFY_IP = 0xC1;

// Header byte 1 of every request the tool sends.
inline constexpr std::uint8_t DISC_REQUEST_FLAG = 1;
// bodyKind of a body that is a DeviceNetRecord.
inline constexpr std::uint8_t NET_RECORD_KIND = 2;

using Datagram = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// The 32-byte header that starts every discovery datagram.
struct DiscoveryHeader {
    static constexpr std::size_t kSize = 32;
    static constexpr std::size_t kCommandOffset = 0;
    static constexpr std::size_t kFlagOffset = 1;
    static constexpr std::size_t kExtLengthOffset = 2;
    static constexpr std::size_t kBodyLengthOffset = 4; // 4 bytes, little-endian
    static constexpr std::size_t kResultOffset = 8;
    static constexpr std::size_t kReasonOffset = 9;
    static constexpr std::size_t kBodyKindOffset = 16;
    // The short login request carries the user name in bytes 8..15 and the password in
    // bytes 16..23, each zero-padded and without terminator when 8 bytes long.
    static constexpr std::size_t kLoginNameOffset = 8;
    static constexpr std::size_t kLoginPasswordOffset = 16;
    static constexpr std::size_t kLoginFieldSize = 8;

    std::uint8_t command = 0;
    std::uint8_t flag = 0;
    std::uint8_t extLength = 0;
    std::uint32_t bodyLength = 0;
    std::uint8_t result = 0;
    std::uint8_t reason = 0;
    std::uint8_t bodyKind = 0;

    // Writes the header into out; every reserved byte becomes 0.
    void encode(std::span<std::uint8_t, kSize> out) const;
    // Reads the header fields; nullopt when the datagram is shorter than 32 bytes.
    static std::optional<DiscoveryHeader> decode(ByteView datagram);
};

// A recorder's network settings as it reports them. Only address, mask, gateway and port mean
// anything to the tool; every other byte is kept as received and sent back unchanged.
struct DeviceNetRecord {
    static constexpr std::size_t kSize = 88;
    static constexpr std::size_t kAddressOffset = 24; // 4 bytes, network order
    static constexpr std::size_t kMaskOffset = 28;    // 4 bytes, network order
    static constexpr std::size_t kGatewayOffset = 32; // 4 bytes, network order
    static constexpr std::size_t kPortOffset = 66;    // 2 bytes, little-endian

    std::array<std::uint8_t, kSize> bytes{};

    // Copies exactly 88 bytes; nullopt for any other length.
    static std::optional<DeviceNetRecord> fromBytes(ByteView bytes);

    std::uint32_t address() const;
    std::uint32_t mask() const;
    std::uint32_t gateway() const;
    std::uint16_t port() const;
    void setAddress(std::uint32_t address);
    void setMask(std::uint32_t mask);
    void setGateway(std::uint32_t gateway);
    void setPort(std::uint16_t port);

    bool operator==(const DeviceNetRecord&) const = default;
};

// The identity bytes a recorder sends as the extension of its search reply (0 to 255 bytes).
// The tool echoes them in every request meant for that recorder; the first 17 bytes are the
// MAC address as text.
class DeviceIdentity {
public:
    static constexpr std::size_t kMaxSize = 255;
    static constexpr std::size_t kMacTextSize = 17;

    DeviceIdentity() = default;
    // Copies the bytes; throws std::length_error for more than 255.
    explicit DeviceIdentity(ByteView bytes);
    // An identity made of the bytes of a text (no terminator added).
    static DeviceIdentity fromText(std::string_view text);

    ByteView bytes() const { return {m_bytes.data(), m_size}; }
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    // The first 17 bytes as text, ending early at a zero byte or at the end of the identity.
    std::string macText() const;

    bool operator==(const DeviceIdentity& other) const;

private:
    std::array<std::uint8_t, kMaxSize> m_bytes{};
    std::uint8_t m_size = 0;
};

// ---- The tool's requests ----

// The 32-byte search request.
Datagram buildSearch();
// A login request for the recorder with this identity: the short form (name and password in the
// header) when both are at most 8 bytes, else the long form (body "name&&password").
// Throws std::length_error when the body would not fit its 32-bit length.
Datagram buildLogin(std::string_view userName, std::string_view password, const DeviceIdentity& identity);
// A modify-IP request carrying the whole record (with the new address, mask and gateway
// already written into it) and the recorder's identity.
Datagram buildModifyIp(const DeviceNetRecord& record, const DeviceIdentity& identity);

// ---- The tool's reply parser ----

enum class ParseOutcome { None = 0, DeviceFound = 1, LoginAnswered = 2, ModifyAnswered = 3 };

// Classifies received datagrams and keeps, between calls, the identity of the last search reply
// that carried one and the last login and modify-IP results. Not thread-safe: one thread parses.
class DiscoveryParser {
public:
    // Login and modify-IP replies shorter than this are ignored: their result and reason bytes
    // would lie beyond the datagram.
    static constexpr std::size_t kMinResultReplySize = 10;

    // Classifies one datagram of `length` bytes. For DeviceFound, outRecord receives the 88-byte
    // body; otherwise outRecord is left as it was. Never reads beyond `length`.
    ParseOutcome parse(const std::uint8_t* datagram, std::size_t length, DeviceNetRecord& outRecord);

    // The identity of the last accepted search reply that had an extension (empty at first).
    const DeviceIdentity& identity() const { return m_identity; }
    // Whether the last accepted search reply carried an identity of its own; when it did not,
    // identity() still holds an earlier recorder's bytes.
    bool lastReplyHadIdentity() const { return m_lastReplyHadIdentity; }
    int loginResult() const { return m_loginResult; }
    int loginReason() const { return m_loginReason; }
    int modifyResult() const { return m_modifyResult; }

private:
    DeviceIdentity m_identity;
    bool m_lastReplyHadIdentity = false;
    int m_loginResult = -1;
    int m_loginReason = -1;
    int m_modifyResult = -1;
};

// ---- Result texts ----

// Shown when no login reply arrives in time.
inline constexpr std::string_view LOGIN_TIMEOUT_TEXT = "It is ouvertime.";

// The text shown for a login reply: for result 1 the text of the reason, for result 3
// "The user has logined."; nullopt for result 0 (accepted) and for any other result.
std::optional<std::string_view> loginResultText(int result, int reason);
// The status text for a modify-IP result 0, 1, 3 or 4; nullopt for any other (status unchanged).
std::optional<std::string_view> modifyResultText(int result);

// ---- The recorder's side ----

// A search reply: the record as body (kind 2) and the identity as extension.
Datagram buildSearchReply(const DeviceNetRecord& record, const DeviceIdentity& identity);
// A 32-byte login reply with its result and reason.
Datagram buildLoginReply(std::uint8_t result, std::uint8_t reason);
// A 32-byte modify-IP reply with its result in byte 8.
Datagram buildModifyIpReply(std::uint8_t result);

// Whether the datagram is a search request (command 0xA3, at least a whole header).
bool isSearchRequest(ByteView datagram);

struct LoginRequest {
    std::string userName;
    std::string password;
    DeviceIdentity identity;
};
// Reads a login request of either form; nullopt when the lengths do not add up to the
// datagram's length or a long-form body has no "&&". A name containing "&&" cannot be told
// apart from the separator: the first "&&" ends the name.
std::optional<LoginRequest> readLoginRequest(ByteView datagram);

struct ModifyIpRequest {
    DeviceNetRecord record;
    DeviceIdentity identity;
};
// Reads a modify-IP request; nullopt unless it holds an 88-byte kind-2 record and its lengths
// add up to the datagram's length.
std::optional<ModifyIpRequest> readModifyIpRequest(ByteView datagram);

// ---- Dotted-decimal addresses ----

// "192.168.1.10" for 0xC0A8010A.
std::string formatIpv4(std::uint32_t address);
// Four decimal numbers 0..255 separated by dots, nothing else; nullopt otherwise.
std::optional<std::uint32_t> parseIpv4(std::string_view text);
