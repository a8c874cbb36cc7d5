#include "simulator/DiscoveryResponder.h"

#include <algorithm>
#include <cstdio>

namespace sim {
namespace {

using DH = DiscoveryHeader;
using Rec = DeviceNetRecord;

constexpr size_t kIdentitySize = 32;
constexpr uint8_t kLoginRefused = 1;
constexpr uint8_t kReasonInvalidPassword = 0;
constexpr uint8_t kReasonInvalidAccount = 1;
constexpr uint8_t kModifyDataIrregular = 3;

// The first byte in [from, to) that is not zero, as a fault text; empty when all are zero.
std::string strayByte(ByteView d, size_t from, size_t to, const char* what) {
    for (size_t i = from; i < to && i < d.size(); ++i)
        if (d[i] != 0) {
            char text[96];
            std::snprintf(text, sizeof text, "%s: header byte %zu is 0x%02X where 0 belongs", what, i, d[i]);
            return text;
        }
    return {};
}

// Checks the header bytes every request shares: the flag, the reserved byte 3, and that
// everything from `zeroFrom` to the end of the header is zero except `bodyKind` when given.
std::string headerFault(ByteView d, const char* what, size_t zeroFrom, bool hasBodyKind) {
    if (d[DH::kFlagOffset] != DISC_REQUEST_FLAG)
        return std::string(what) + ": flag byte is " + std::to_string(d[DH::kFlagOffset]) + ", not 1";
    std::string fault = strayByte(d, DH::kExtLengthOffset + 1, DH::kBodyLengthOffset, what);
    if (!fault.empty())
        return fault;
    if (!hasBodyKind)
        return strayByte(d, zeroFrom, DH::kSize, what);
    if (d[DH::kBodyKindOffset] != NET_RECORD_KIND)
        return std::string(what) + ": byte 16 is not 2";
    fault = strayByte(d, zeroFrom, DH::kBodyKindOffset, what);
    return fault.empty() ? strayByte(d, DH::kBodyKindOffset + 1, DH::kSize, what) : fault;
}

} // namespace

DiscoveryResponder::DiscoveryResponder(const DiscoveryBehaviour& behaviour) : m_behaviour(behaviour) {
    for (unsigned i = 0; i < behaviour.count; ++i) {
        SimDevice d;
        // The bytes the tool keeps opaque carry a fixed pattern, so that a tool which does not
        // echo them unchanged is caught.
        for (size_t b = 0; b < Rec::kSize; ++b)
            d.record.bytes[b] = uint8_t(b * 7 + 0x31);
        const unsigned step = behaviour.sameAddress ? 0 : i;
        d.record.setAddress(behaviour.address + step);
        d.record.setMask(behaviour.mask);
        d.record.setGateway(behaviour.gateway);
        d.record.setPort(uint16_t(behaviour.port + step));
        // A locally administered MAC address followed straight away (no terminator) by a
        // serial, so that a tool showing more than the first 17 bytes is caught too.
        char text[kIdentitySize + 1] = {};
        std::snprintf(text, sizeof text, "02:53:49:4D:%02X:%02X/SIMDVR-%04u", (i + 1) >> 8 & 0xFF,
                      (i + 1) & 0xFF, (i + 1) % 10000);
        d.identity = DeviceIdentity(ByteView(reinterpret_cast<const uint8_t*>(text), kIdentitySize));
        if (i == 0 && behaviour.firstIdentity)
            d.identity = DeviceIdentity::fromText(*behaviour.firstIdentity);
        d.ignoreNextSearch = std::find(behaviour.ignoreFirstSearch.begin(), behaviour.ignoreFirstSearch.end(),
                                       i + 1) != behaviour.ignoreFirstSearch.end();
        m_devices.push_back(std::move(d));
    }
}

std::vector<Datagram> DiscoveryResponder::handle(ByteView d, DiscoveryObserver& observer) {
    if (d.size() < DH::kSize) {
        if (!d.empty())
            observer.fault("datagram of " + std::to_string(d.size()) + " bytes is shorter than a header");
        return {};
    }
    switch (d[DH::kCommandOffset]) {
    case DISC_SEARCH:
        return search(d, observer);
    case DISC_LOGIN:
        return login(d, observer);
    case DISC_MODIFY_IP:
        return modify(d, observer);
    case DISC_SEARCH_REPLY:
    case DISC_LOGIN_REPLY:
        // Another recorder's answer, heard on a shared port: not for us.
        return {};
    default: {
        char text[48];
        std::snprintf(text, sizeof text, "unknown discovery command 0x%02X", d[DH::kCommandOffset]);
        observer.fault(text);
        return {};
    }
    }
}

std::vector<Datagram> DiscoveryResponder::search(ByteView d, DiscoveryObserver& observer) {
    // A recorder answers a search even when it is a little off; the fault is still noted.
    std::string fault = d.size() != DH::kSize
                            ? "search request of " + std::to_string(d.size()) + " bytes, not 32"
                            : headerFault(d, "search request", DH::kExtLengthOffset, true);
    if (!fault.empty())
        observer.fault(fault);
    observer.searchHeard();
    std::vector<Datagram> replies;
    for (SimDevice& dev : m_devices) {
        if (dev.ignoreNextSearch) {
            dev.ignoreNextSearch = false;
            continue;
        }
        replies.push_back(buildSearchReply(dev.record, dev.identity));
    }
    return replies;
}

int DiscoveryResponder::findIdentity(const DeviceIdentity& identity) const {
    for (size_t i = 0; i < m_devices.size(); ++i)
        if (m_devices[i].identity == identity)
            return int(i);
    return -1;
}

std::vector<Datagram> DiscoveryResponder::login(ByteView d, DiscoveryObserver& observer) {
    std::optional<LoginRequest> request = readLoginRequest(d);
    if (!request) {
        observer.fault("login request of " + std::to_string(d.size()) +
                       " bytes: its lengths do not add up, or its body has no \"&&\"");
        return {};
    }
    int device = findIdentity(request->identity);
    // A login for someone else's identity is not ours to answer.
    if (device < 0)
        return {};
    bool shortForm = DiscoveryHeader::decode(d)->bodyLength == 0;
    // Both forms leave the body length as they need it; the short form also uses bytes 8 to 23.
    std::string fault = headerFault(
        d, "login request",
        shortForm ? DH::kLoginPasswordOffset + DH::kLoginFieldSize : DH::kBodyLengthOffset + 4, false);
    if (!fault.empty())
        observer.fault(fault);
    uint8_t result = 0, reason = 0;
    const auto& refusing = m_behaviour.refuseLogin;
    if (std::find(refusing.begin(), refusing.end(), unsigned(device) + 1) != refusing.end()) {
        result = kLoginRefused;
        reason = kReasonInvalidPassword;
    } else if (m_behaviour.loginResult) {
        result = *m_behaviour.loginResult;
        reason = m_behaviour.loginReason;
    } else if (!fault.empty() || request->userName != m_behaviour.user) {
        result = kLoginRefused;
        reason = kReasonInvalidAccount;
    } else if (request->password != m_behaviour.password) {
        result = kLoginRefused;
        reason = kReasonInvalidPassword;
    }
    observer.discoveryLogin(unsigned(device), request->userName, request->password, result, reason);
    return {buildLoginReply(result, reason)};
}

std::vector<Datagram> DiscoveryResponder::modify(ByteView d, DiscoveryObserver& observer) {
    std::optional<ModifyIpRequest> request = readModifyIpRequest(d);
    if (!request) {
        // Malformed, but if it ends with one of our identities, that recorder says so.
        size_t ext = d[DH::kExtLengthOffset];
        std::string text = "modify-IP request of " + std::to_string(d.size()) +
                           " bytes: not an 88-byte kind-2 record with lengths that add up";
        observer.fault(text);
        if (d.size() < DH::kSize + ext)
            return {};
        int device = findIdentity(DeviceIdentity(d.subspan(d.size() - ext)));
        if (device < 0)
            return {};
        observer.modifyIp(unsigned(device), 0, 0, 0, kModifyDataIrregular);
        return {buildModifyIpReply(kModifyDataIrregular)};
    }
    int device = findIdentity(request->identity);
    if (device < 0)
        return {};
    SimDevice& dev = m_devices[size_t(device)];
    std::string fault = headerFault(d, "modify-IP request", DH::kResultOffset, true);
    for (size_t b = 0; b < Rec::kSize && fault.empty(); ++b) {
        bool settable = b >= Rec::kAddressOffset && b < Rec::kGatewayOffset + 4;
        if (!settable && request->record.bytes[b] != dev.record.bytes[b])
            fault = "modify-IP request: record byte " + std::to_string(b) +
                    " differs from what the recorder reported";
    }
    uint8_t result = m_behaviour.modifyResult;
    if (!fault.empty()) {
        observer.fault(fault);
        result = kModifyDataIrregular;
    }
    const Rec& r = request->record;
    if (result == 0) {
        dev.record.setAddress(r.address());
        dev.record.setMask(r.mask());
        dev.record.setGateway(r.gateway());
    }
    observer.modifyIp(unsigned(device), r.address(), r.mask(), r.gateway(), result);
    return {buildModifyIpReply(result)};
}

} // namespace sim
