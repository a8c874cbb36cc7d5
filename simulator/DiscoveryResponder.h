#pragma once
// The recorders' end of the discovery protocol: one or more simulated recorders that answer
// search, login and modify-IP requests. Without a socket: a datagram goes in, the datagrams to
// send back to its sender come out.

#include "discovery/DiscoveryProtocol.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim {

// Addresses are numbers with the first dotted octet most significant, as in DiscoveryProtocol.
struct DiscoveryBehaviour {
    // Number of recorders played.
    unsigned count = 1;
    // Recorder i (from 0) reports address + i and port + i; all share mask and gateway.
    // With sameAddress every recorder reports the first one's address and port, as a batch fresh
    // from the factory does; only their MAC texts differ.
    bool sameAddress = false;
    uint32_t address = 0x7F000001;
    uint32_t mask = 0xFF000000;
    uint32_t gateway = 0x7F0000FE;
    uint16_t port = 37777;
    // Without a fixed login result, a login is accepted for this account only.
    std::string user = "admin";
    std::string password = "admin";
    std::optional<uint8_t> loginResult;
    uint8_t loginReason = 0;
    uint8_t modifyResult = 0;
    // Recorders (numbered from 1) that leave the first search they hear unanswered, as a
    // reply lost on a busy network would be.
    std::vector<unsigned> ignoreFirstSearch;
    // Recorders (numbered from 1) that refuse every login with "Invalid password!", whatever
    // the account.
    std::vector<unsigned> refuseLogin;
    // The first recorder's identity bytes instead of its usual MAC text and serial: a recorder
    // whose text holds whatever bytes it likes (the first 17 are its MAC text).
    std::optional<std::string> firstIdentity;
};

// One simulated recorder as it currently reports itself.
struct SimDevice {
    DeviceNetRecord record;
    DeviceIdentity identity;
    bool ignoreNextSearch = false;
};

class DiscoveryObserver {
public:
    virtual ~DiscoveryObserver() = default;
    virtual void searchHeard() = 0;
    // device counts from 0; result and reason as answered.
    virtual void discoveryLogin(unsigned device, const std::string& user, const std::string& password,
                                uint8_t result, uint8_t reason) = 0;
    virtual void modifyIp(unsigned device, uint32_t address, uint32_t mask, uint32_t gateway,
                          uint8_t result) = 0;
    virtual void fault(const std::string& text) = 0;
};

class DiscoveryResponder {
public:
    explicit DiscoveryResponder(const DiscoveryBehaviour& behaviour);

    // The replies to send back to the datagram's sender, in order.
    std::vector<Datagram> handle(ByteView datagram, DiscoveryObserver& observer);

    const std::vector<SimDevice>& devices() const { return m_devices; }

private:
    std::vector<Datagram> search(ByteView d, DiscoveryObserver& observer);
    std::vector<Datagram> login(ByteView d, DiscoveryObserver& observer);
    std::vector<Datagram> modify(ByteView d, DiscoveryObserver& observer);
    int findIdentity(const DeviceIdentity& identity) const;

    const DiscoveryBehaviour& m_behaviour;
    std::vector<SimDevice> m_devices;
};

} // namespace sim
