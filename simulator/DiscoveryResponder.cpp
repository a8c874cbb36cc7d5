#include "simulator/DiscoveryResponder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sim {
namespace {

constexpr size_t kHeaderSize = 32;
constexpr uint8_t kSearch = 0xA3;
constexpr uint8_t kSearchReply = 0xB3;
constexpr uint8_t kLogin = 0xA0;
constexpr uint8_t kLoginReply = 0xB0;
constexpr uint8_t kModifyIp = 0xC1;
constexpr size_t kOffFlag = 1;
constexpr size_t kOffExtLength = 2;
constexpr size_t kOffBodyLength = 4;
constexpr size_t kOffResult = 8;
constexpr size_t kOffReason = 9;
constexpr size_t kOffBodyKind = 16;
constexpr uint8_t kNetRecordKind = 2;
constexpr size_t kOffShortUser = 8;
constexpr size_t kOffShortPassword = 16;
constexpr size_t kShortFieldWidth = 8;
constexpr size_t kRecAddress = 24;
constexpr size_t kRecMask = 28;
constexpr size_t kRecGateway = 32;
constexpr size_t kRecPort = 66;
constexpr size_t kMacTextLength = 17;
constexpr size_t kIdentityLength = 32;
constexpr uint8_t kModifyDataIrregular = 3;

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

Ipv4 at(const std::array<uint8_t, kNetRecordSize>& r, size_t offset) {
    return Ipv4{r[offset], r[offset + 1], r[offset + 2], r[offset + 3]};
}

void put(std::array<uint8_t, kNetRecordSize>& r, size_t offset, const Ipv4& a) {
    std::copy(a.begin(), a.end(), r.begin() + ptrdiff_t(offset));
}

Ipv4 plus(const Ipv4& a, unsigned n) {
    uint32_t v = (uint32_t(a[0]) << 24 | uint32_t(a[1]) << 16 | uint32_t(a[2]) << 8 | a[3]) + n;
    return Ipv4{uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

std::vector<uint8_t> header(uint8_t command, uint8_t extLength, uint32_t bodyLength) {
    std::vector<uint8_t> h(kHeaderSize, 0);
    h[0] = command;
    h[kOffExtLength] = extLength;
    putLe32(&h[kOffBodyLength], bodyLength);
    return h;
}

std::string field(const uint8_t* p, size_t width) {
    const char* text = reinterpret_cast<const char*>(p);
    return std::string(text, strnlen(text, width));
}

// The first byte in [from, to) that is not zero, as a fault text; empty when all are zero.
std::string strayByte(std::span<const uint8_t> d, size_t from, size_t to, const char* what) {
    for (size_t i = from; i < to && i < d.size(); ++i)
        if (d[i] != 0) {
            char text[96];
            std::snprintf(text, sizeof text, "%s: header byte %zu is 0x%02X where 0 belongs", what, i, d[i]);
            return text;
        }
    return {};
}

std::string flagFault(std::span<const uint8_t> d, const char* what) {
    if (d[kOffFlag] == 1)
        return {};
    return std::string(what) + ": flag byte is " + std::to_string(d[kOffFlag]) + ", not 1";
}

} // namespace

Ipv4 SimDevice::address() const {
    return at(record, kRecAddress);
}
Ipv4 SimDevice::mask() const {
    return at(record, kRecMask);
}
Ipv4 SimDevice::gateway() const {
    return at(record, kRecGateway);
}
uint16_t SimDevice::port() const {
    return uint16_t(record[kRecPort] | record[kRecPort + 1] << 8);
}

std::string SimDevice::macText() const {
    size_t n = std::min(identity.size(), kMacTextLength);
    const char* text = reinterpret_cast<const char*>(identity.data());
    return std::string(text, strnlen(text, n));
}

std::string ipv4Text(const Ipv4& a) {
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
           std::to_string(a[3]);
}

DiscoveryResponder::DiscoveryResponder(const DiscoveryBehaviour& behaviour) : m_behaviour(behaviour) {
    for (unsigned i = 0; i < behaviour.count; ++i) {
        SimDevice d;
        // The bytes the tool keeps opaque carry a fixed pattern, so that a tool which does not
        // echo them unchanged is caught.
        for (size_t b = 0; b < kNetRecordSize; ++b)
            d.record[b] = uint8_t(b * 7 + 0x31);
        put(d.record, kRecAddress, plus(behaviour.address, i));
        put(d.record, kRecMask, behaviour.mask);
        put(d.record, kRecGateway, behaviour.gateway);
        uint16_t port = uint16_t(behaviour.port + i);
        d.record[kRecPort] = uint8_t(port);
        d.record[kRecPort + 1] = uint8_t(port >> 8);
        // A locally administered MAC address followed straight away (no terminator) by a
        // serial, so that a tool showing more than the first 17 bytes is caught too.
        char text[kIdentityLength + 1] = {};
        std::snprintf(text, sizeof text, "02:53:49:4D:%02X:%02X/SIMDVR-%04u", (i + 1) >> 8 & 0xFF,
                      (i + 1) & 0xFF, (i + 1) % 10000);
        d.identity.assign(text, text + kIdentityLength);
        d.ignoreNextSearch = std::find(behaviour.ignoreFirstSearch.begin(), behaviour.ignoreFirstSearch.end(),
                                       i + 1) != behaviour.ignoreFirstSearch.end();
        m_devices.push_back(std::move(d));
    }
}

std::vector<std::vector<uint8_t>> DiscoveryResponder::handle(std::span<const uint8_t> d,
                                                             DiscoveryObserver& observer) {
    if (d.size() < kHeaderSize) {
        if (!d.empty())
            observer.fault("datagram of " + std::to_string(d.size()) + " bytes is shorter than a header");
        return {};
    }
    switch (d[0]) {
    case kSearch:
        return search(d, observer);
    case kLogin:
        return login(d, observer);
    case kModifyIp:
        return modify(d, observer);
    case kSearchReply:
    case kLoginReply:
        // Another recorder's answer, heard on a shared port: not for us.
        return {};
    default: {
        char text[48];
        std::snprintf(text, sizeof text, "unknown discovery command 0x%02X", d[0]);
        observer.fault(text);
        return {};
    }
    }
}

std::vector<std::vector<uint8_t>> DiscoveryResponder::search(std::span<const uint8_t> d,
                                                             DiscoveryObserver& observer) {
    // A recorder answers a search even when it is a little off; the fault is still noted.
    std::string fault = d.size() != kHeaderSize
                            ? "search request of " + std::to_string(d.size()) + " bytes, not 32"
                            : flagFault(d, "search request");
    if (fault.empty() && d[kOffBodyKind] != kNetRecordKind)
        fault = "search request: byte 16 is not 2";
    if (fault.empty())
        fault = strayByte(d, 2, kOffBodyKind, "search request");
    if (fault.empty())
        fault = strayByte(d, kOffBodyKind + 1, kHeaderSize, "search request");
    if (!fault.empty())
        observer.fault(fault);
    observer.searchHeard();
    std::vector<std::vector<uint8_t>> replies;
    for (SimDevice& dev : m_devices) {
        if (dev.ignoreNextSearch) {
            dev.ignoreNextSearch = false;
            continue;
        }
        std::vector<uint8_t> r = header(kSearchReply, uint8_t(dev.identity.size()), kNetRecordSize);
        r[kOffBodyKind] = kNetRecordKind;
        r.insert(r.end(), dev.record.begin(), dev.record.end());
        r.insert(r.end(), dev.identity.begin(), dev.identity.end());
        replies.push_back(std::move(r));
    }
    return replies;
}

int DiscoveryResponder::findIdentity(std::span<const uint8_t> identity) const {
    for (size_t i = 0; i < m_devices.size(); ++i)
        if (std::equal(identity.begin(), identity.end(), m_devices[i].identity.begin(),
                       m_devices[i].identity.end()))
            return int(i);
    return -1;
}

std::vector<std::vector<uint8_t>> DiscoveryResponder::login(std::span<const uint8_t> d,
                                                            DiscoveryObserver& observer) {
    size_t ext = d[kOffExtLength];
    uint32_t body = le32(&d[kOffBodyLength]);
    uint64_t expected = kHeaderSize + uint64_t(body) + ext;
    if (d.size() != expected) {
        observer.fault("login request of " + std::to_string(d.size()) + " bytes, its header makes " +
                       std::to_string(expected));
        return {};
    }
    std::string user, password, fault = flagFault(d, "login request");
    if (body == 0) {
        user = field(&d[kOffShortUser], kShortFieldWidth);
        password = field(&d[kOffShortPassword], kShortFieldWidth);
        if (fault.empty())
            fault = strayByte(d, 3, kOffShortUser, "login request");
        if (fault.empty())
            fault = strayByte(d, kOffShortPassword + kShortFieldWidth, kHeaderSize, "login request");
    } else {
        std::string text(reinterpret_cast<const char*>(&d[kHeaderSize]), body);
        size_t split = text.find("&&");
        if (split == std::string::npos) {
            if (fault.empty())
                fault = "login request: body holds no \"&&\" between name and password";
            user = text;
        } else {
            user = text.substr(0, split);
            password = text.substr(split + 2);
        }
        if (fault.empty())
            fault = strayByte(d, 3, kOffBodyLength, "login request");
        if (fault.empty())
            fault = strayByte(d, kOffBodyLength + 4, kHeaderSize, "login request");
    }
    int device = findIdentity(d.subspan(kHeaderSize + body, ext));
    // A login for someone else's identity is not ours to answer.
    if (device < 0)
        return {};
    if (!fault.empty())
        observer.fault(fault);
    uint8_t result = 0, reason = 0;
    if (m_behaviour.loginResult) {
        result = *m_behaviour.loginResult;
        reason = m_behaviour.loginReason;
    } else if (!fault.empty() || user != m_behaviour.user) {
        result = 1;
        reason = 1; // "Invalid account!"
    } else if (password != m_behaviour.password) {
        result = 1;
        reason = 0; // "Invalid password!"
    }
    observer.discoveryLogin(unsigned(device), user, password, result, reason);
    std::vector<uint8_t> r = header(kLoginReply, 0, 0);
    r[kOffResult] = result;
    r[kOffReason] = reason;
    return {r};
}

std::vector<std::vector<uint8_t>> DiscoveryResponder::modify(std::span<const uint8_t> d,
                                                             DiscoveryObserver& observer) {
    size_t ext = d[kOffExtLength];
    if (d.size() < kHeaderSize + ext) {
        observer.fault("modify-IP request of " + std::to_string(d.size()) +
                       " bytes cannot hold its identity");
        return {};
    }
    int device = findIdentity(d.subspan(d.size() - ext));
    if (device < 0)
        return {};
    SimDevice& dev = m_devices[size_t(device)];
    std::string fault;
    if (d.size() != kHeaderSize + kNetRecordSize + ext)
        fault = "modify-IP request of " + std::to_string(d.size()) + " bytes, not " +
                std::to_string(kHeaderSize + kNetRecordSize + ext);
    else if (le32(&d[kOffBodyLength]) != kNetRecordSize || d[kOffBodyKind] != kNetRecordKind)
        fault = "modify-IP request: body is not an 88-byte record of kind 2";
    if (fault.empty())
        fault = flagFault(d, "modify-IP request");
    if (fault.empty())
        fault = strayByte(d, 3, kOffBodyLength, "modify-IP request");
    if (fault.empty())
        fault = strayByte(d, kOffBodyLength + 4, kOffBodyKind, "modify-IP request");
    if (fault.empty())
        fault = strayByte(d, kOffBodyKind + 1, kHeaderSize, "modify-IP request");
    std::array<uint8_t, kNetRecordSize> record{};
    if (fault.empty()) {
        std::copy_n(d.begin() + kHeaderSize, kNetRecordSize, record.begin());
        for (size_t b = 0; b < kNetRecordSize && fault.empty(); ++b) {
            bool settable = b >= kRecAddress && b < kRecGateway + 4;
            if (!settable && record[b] != dev.record[b])
                fault = "modify-IP request: record byte " + std::to_string(b) +
                        " differs from what the recorder reported";
        }
    }
    uint8_t result = m_behaviour.modifyResult;
    if (!fault.empty()) {
        observer.fault(fault);
        result = kModifyDataIrregular;
    }
    Ipv4 address = at(record, kRecAddress), mask = at(record, kRecMask), gateway = at(record, kRecGateway);
    if (result == 0) {
        put(dev.record, kRecAddress, address);
        put(dev.record, kRecMask, mask);
        put(dev.record, kRecGateway, gateway);
    }
    observer.modifyIp(unsigned(device), address, mask, gateway, result);
    std::vector<uint8_t> r = header(kModifyIp, 0, 0);
    r[kOffResult] = result;
    return {r};
}

} // namespace sim
