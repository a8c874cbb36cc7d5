#include "discovery/DiscoveryProtocol.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

std::uint32_t readLe32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

void writeLe32(std::uint8_t* p, std::uint32_t value) {
    p[0] = std::uint8_t(value);
    p[1] = std::uint8_t(value >> 8);
    p[2] = std::uint8_t(value >> 16);
    p[3] = std::uint8_t(value >> 24);
}

std::uint32_t readIpv4(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

void writeIpv4(std::uint8_t* p, std::uint32_t address) {
    p[0] = std::uint8_t(address >> 24);
    p[1] = std::uint8_t(address >> 16);
    p[2] = std::uint8_t(address >> 8);
    p[3] = std::uint8_t(address);
}

DiscoveryHeader requestHeader(std::uint8_t command, const DeviceIdentity& identity) {
    DiscoveryHeader header;
    header.command = command;
    header.flag = DISC_REQUEST_FLAG;
    header.extLength = std::uint8_t(identity.size());
    return header;
}

// Header, then body, then extension, in one datagram.
Datagram assemble(const DiscoveryHeader& header, ByteView body, ByteView extension) {
    Datagram out(DiscoveryHeader::kSize + body.size() + extension.size());
    header.encode(std::span<std::uint8_t, DiscoveryHeader::kSize>(out.data(), DiscoveryHeader::kSize));
    std::copy(body.begin(), body.end(), out.begin() + DiscoveryHeader::kSize);
    std::copy(extension.begin(), extension.end(), out.begin() + DiscoveryHeader::kSize + body.size());
    return out;
}

ByteView textBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A zero-padded fixed field read back as text: it ends at the first zero byte.
std::string fieldText(const std::uint8_t* p, std::size_t width) {
    const auto* end = std::find(p, p + width, std::uint8_t(0));
    return std::string(reinterpret_cast<const char*>(p), std::size_t(end - p));
}

// The extension of a request whose header says extLength, once the lengths have been checked.
DeviceIdentity extensionOf(ByteView datagram, std::size_t offset, std::size_t extLength) {
    return DeviceIdentity(datagram.subspan(offset, extLength));
}

} // namespace

// ---- DiscoveryHeader ----

void DiscoveryHeader::encode(std::span<std::uint8_t, kSize> out) const {
    std::fill(out.begin(), out.end(), std::uint8_t(0));
    out[kCommandOffset] = command;
    out[kFlagOffset] = flag;
    out[kExtLengthOffset] = extLength;
    writeLe32(out.data() + kBodyLengthOffset, bodyLength);
    out[kResultOffset] = result;
    out[kReasonOffset] = reason;
    out[kBodyKindOffset] = bodyKind;
}

std::optional<DiscoveryHeader> DiscoveryHeader::decode(ByteView datagram) {
    if (datagram.size() < kSize) {
        return std::nullopt;
    }
    DiscoveryHeader header;
    header.command = datagram[kCommandOffset];
    header.flag = datagram[kFlagOffset];
    header.extLength = datagram[kExtLengthOffset];
    header.bodyLength = readLe32(datagram.data() + kBodyLengthOffset);
    header.result = datagram[kResultOffset];
    header.reason = datagram[kReasonOffset];
    header.bodyKind = datagram[kBodyKindOffset];
    return header;
}

// ---- DeviceNetRecord ----

std::optional<DeviceNetRecord> DeviceNetRecord::fromBytes(ByteView source) {
    if (source.size() != kSize) {
        return std::nullopt;
    }
    DeviceNetRecord record;
    std::copy(source.begin(), source.end(), record.bytes.begin());
    return record;
}

std::uint32_t DeviceNetRecord::address() const {
    return readIpv4(bytes.data() + kAddressOffset);
}
std::uint32_t DeviceNetRecord::mask() const {
    return readIpv4(bytes.data() + kMaskOffset);
}
std::uint32_t DeviceNetRecord::gateway() const {
    return readIpv4(bytes.data() + kGatewayOffset);
}

std::uint16_t DeviceNetRecord::port() const {
    return std::uint16_t(bytes[kPortOffset] | bytes[kPortOffset + 1] << 8);
}

void DeviceNetRecord::setAddress(std::uint32_t value) {
    writeIpv4(bytes.data() + kAddressOffset, value);
}
void DeviceNetRecord::setMask(std::uint32_t value) {
    writeIpv4(bytes.data() + kMaskOffset, value);
}
void DeviceNetRecord::setGateway(std::uint32_t value) {
    writeIpv4(bytes.data() + kGatewayOffset, value);
}

void DeviceNetRecord::setPort(std::uint16_t value) {
    bytes[kPortOffset] = std::uint8_t(value);
    bytes[kPortOffset + 1] = std::uint8_t(value >> 8);
}

// ---- DeviceIdentity ----

DeviceIdentity::DeviceIdentity(ByteView source) {
    if (source.size() > kMaxSize) {
        throw std::length_error("a device identity holds at most 255 bytes");
    }
    std::copy(source.begin(), source.end(), m_bytes.begin());
    m_size = std::uint8_t(source.size());
}

DeviceIdentity DeviceIdentity::fromText(std::string_view text) {
    return DeviceIdentity(textBytes(text));
}

std::string DeviceIdentity::macText() const {
    return fieldText(m_bytes.data(), std::min<std::size_t>(m_size, kMacTextSize));
}

bool DeviceIdentity::operator==(const DeviceIdentity& other) const {
    return std::ranges::equal(bytes(), other.bytes());
}

// ---- The tool's requests ----

Datagram buildSearch() {
    DiscoveryHeader header = requestHeader(DISC_SEARCH, DeviceIdentity());
    header.bodyKind = NET_RECORD_KIND;
    return assemble(header, {}, {});
}

Datagram buildLogin(std::string_view userName, std::string_view password, const DeviceIdentity& identity) {
    DiscoveryHeader header = requestHeader(DISC_LOGIN, identity);
    const std::size_t field = DiscoveryHeader::kLoginFieldSize;
    if (userName.size() <= field && password.size() <= field) {
        Datagram out = assemble(header, {}, identity.bytes());
        std::copy(userName.begin(), userName.end(), out.begin() + DiscoveryHeader::kLoginNameOffset);
        std::copy(password.begin(), password.end(), out.begin() + DiscoveryHeader::kLoginPasswordOffset);
        return out;
    }
    const std::size_t bodyLength = userName.size() + 2 + password.size();
    if (bodyLength > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("login body too long");
    }
    std::string body;
    body.reserve(bodyLength);
    body.append(userName).append("&&").append(password);
    header.bodyLength = std::uint32_t(bodyLength);
    return assemble(header, textBytes(body), identity.bytes());
}

Datagram buildModifyIp(const DeviceNetRecord& record, const DeviceIdentity& identity) {
    DiscoveryHeader header = requestHeader(DISC_MODIFY_IP, identity);
    header.bodyLength = DeviceNetRecord::kSize;
    header.bodyKind = NET_RECORD_KIND;
    return assemble(header, record.bytes, identity.bytes());
}

// ---- DiscoveryParser ----

ParseOutcome DiscoveryParser::parse(const std::uint8_t* datagram, std::size_t length,
                                    DeviceNetRecord& outRecord) {
    if (datagram == nullptr || length == 0) {
        return ParseOutcome::None;
    }
    switch (datagram[DiscoveryHeader::kCommandOffset]) {
    case DISC_SEARCH_REPLY: {
        if (length < DiscoveryHeader::kSize) {
            return ParseOutcome::None;
        }
        const std::uint32_t bodyLength = readLe32(datagram + DiscoveryHeader::kBodyLengthOffset);
        const std::uint8_t extLength = datagram[DiscoveryHeader::kExtLengthOffset];
        // Summed in 64 bits: a bodyLength near 4 GiB must not wrap round to the datagram's length.
        if (std::uint64_t(DiscoveryHeader::kSize) + bodyLength + extLength != length) {
            return ParseOutcome::None;
        }
        m_lastReplyHadIdentity = extLength > 0;
        if (extLength > 0) {
            m_identity = DeviceIdentity(ByteView(datagram + DiscoveryHeader::kSize + bodyLength, extLength));
        }
        if (bodyLength != DeviceNetRecord::kSize ||
            datagram[DiscoveryHeader::kBodyKindOffset] != NET_RECORD_KIND) {
            return ParseOutcome::None;
        }
        std::memcpy(outRecord.bytes.data(), datagram + DiscoveryHeader::kSize, DeviceNetRecord::kSize);
        return ParseOutcome::DeviceFound;
    }
    case DISC_LOGIN_REPLY: {
        if (length < kMinResultReplySize) {
            return ParseOutcome::None;
        }
        const std::uint8_t result = datagram[DiscoveryHeader::kResultOffset];
        if (result != 0) {
            m_loginReason = datagram[DiscoveryHeader::kReasonOffset];
        }
        m_loginResult = result;
        return ParseOutcome::LoginAnswered;
    }
    case DISC_MODIFY_IP:
        if (length < kMinResultReplySize) {
            return ParseOutcome::None;
        }
        m_modifyResult = datagram[DiscoveryHeader::kResultOffset];
        return ParseOutcome::ModifyAnswered;
    default:
        return ParseOutcome::None;
    }
}

// ---- Result texts ----

std::optional<std::string_view> loginResultText(int result, int reason) {
    if (result == 3) {
        return "The user has logined.";
    }
    if (result != 1) {
        return std::nullopt;
    }
    switch (reason) {
    case 0:
        return "Invalid password!";
    case 1:
        return "Invalid account!";
    case 3:
        return "The account has already logged in!";
    case 4:
        return "The account has been locked!";
    case 5:
        return "The account is listed in the restricted sites.";
    case 6:
        return "System busying.";
    default:
        return "Login failed!";
    }
}

std::optional<std::string_view> modifyResultText(int result) {
    switch (result) {
    case 0:
        return "Modified IP address successfully!";
    case 1:
        return "Failed to modify IP address!";
    case 3:
        return "Data irregular!";
    case 4:
        return "Cannot Set!";
    default:
        return std::nullopt;
    }
}

// ---- The recorder's side ----

Datagram buildSearchReply(const DeviceNetRecord& record, const DeviceIdentity& identity) {
    DiscoveryHeader header;
    header.command = DISC_SEARCH_REPLY;
    header.extLength = std::uint8_t(identity.size());
    header.bodyLength = DeviceNetRecord::kSize;
    header.bodyKind = NET_RECORD_KIND;
    return assemble(header, record.bytes, identity.bytes());
}

Datagram buildLoginReply(std::uint8_t result, std::uint8_t reason) {
    DiscoveryHeader header;
    header.command = DISC_LOGIN_REPLY;
    header.result = result;
    header.reason = reason;
    return assemble(header, {}, {});
}

Datagram buildModifyIpReply(std::uint8_t result) {
    DiscoveryHeader header;
    header.command = DISC_MODIFY_IP;
    header.result = result;
    return assemble(header, {}, {});
}

bool isSearchRequest(ByteView datagram) {
    return datagram.size() >= DiscoveryHeader::kSize &&
           datagram[DiscoveryHeader::kCommandOffset] == DISC_SEARCH;
}

std::optional<LoginRequest> readLoginRequest(ByteView datagram) {
    const auto header = DiscoveryHeader::decode(datagram);
    if (!header || header->command != DISC_LOGIN ||
        std::uint64_t(DiscoveryHeader::kSize) + header->bodyLength + header->extLength != datagram.size()) {
        return std::nullopt;
    }
    LoginRequest request;
    if (header->bodyLength == 0) {
        request.userName =
            fieldText(datagram.data() + DiscoveryHeader::kLoginNameOffset, DiscoveryHeader::kLoginFieldSize);
        request.password = fieldText(datagram.data() + DiscoveryHeader::kLoginPasswordOffset,
                                     DiscoveryHeader::kLoginFieldSize);
    } else {
        const std::string_view body(reinterpret_cast<const char*>(datagram.data() + DiscoveryHeader::kSize),
                                    header->bodyLength);
        const auto separator = body.find("&&");
        if (separator == std::string_view::npos) {
            return std::nullopt;
        }
        request.userName = std::string(body.substr(0, separator));
        request.password = std::string(body.substr(separator + 2));
    }
    request.identity = extensionOf(datagram, DiscoveryHeader::kSize + header->bodyLength, header->extLength);
    return request;
}

std::optional<ModifyIpRequest> readModifyIpRequest(ByteView datagram) {
    const auto header = DiscoveryHeader::decode(datagram);
    if (!header || header->command != DISC_MODIFY_IP || header->bodyLength != DeviceNetRecord::kSize ||
        header->bodyKind != NET_RECORD_KIND ||
        DiscoveryHeader::kSize + DeviceNetRecord::kSize + header->extLength != datagram.size()) {
        return std::nullopt;
    }
    ModifyIpRequest request;
    request.record =
        *DeviceNetRecord::fromBytes(datagram.subspan(DiscoveryHeader::kSize, DeviceNetRecord::kSize));
    request.identity =
        extensionOf(datagram, DiscoveryHeader::kSize + DeviceNetRecord::kSize, header->extLength);
    return request;
}

// ---- Dotted-decimal addresses ----

std::string formatIpv4(std::uint32_t address) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (!text.empty()) {
            text += '.';
        }
        text += std::to_string((address >> shift) & 0xFFu);
    }
    return text;
}

std::optional<std::uint32_t> parseIpv4(std::string_view text) {
    std::uint32_t address = 0;
    std::size_t pos = 0;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0) {
            if (pos >= text.size() || text[pos] != '.') {
                return std::nullopt;
            }
            ++pos;
        }
        unsigned value = 0;
        std::size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 3) {
            value = value * 10 + unsigned(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || value > 255) {
            return std::nullopt;
        }
        address = address << 8 | value;
    }
    if (pos != text.size()) {
        return std::nullopt;
    }
    return address;
}
