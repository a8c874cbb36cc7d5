#pragma once
// The recorders' end of the discovery protocol: one or more simulated recorders that answer
// search, login and modify-IP requests. Without a socket: a datagram goes in, the datagrams to
// send back to its sender come out.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim {

inline constexpr size_t kNetRecordSize = 88;
using Ipv4 = std::array<uint8_t, 4>;

struct DiscoveryBehaviour {
    // Number of recorders played.
    unsigned count = 1;
    // Recorder i (from 0) reports address + i and port + i; all share mask and gateway.
    Ipv4 address{127, 0, 0, 1};
    Ipv4 mask{255, 0, 0, 0};
    Ipv4 gateway{127, 0, 0, 254};
    uint16_t port = 37777;
    // Without a fixed login result, a login is accepted for this account only.
    std::string user = "admin";
    std::string password = "admin";
    std::optional<uint8_t> loginResult;
    uint8_t loginReason = 0;
    uint8_t modifyResult = 0;
    // Recorders (numbered from 1) that let the first search they hear go unanswered, as a
    // reply lost on a busy network would.
    std::vector<unsigned> ignoreFirstSearch;
};

// One simulated recorder as it currently reports itself.
struct SimDevice {
    std::array<uint8_t, kNetRecordSize> record{};
    std::vector<uint8_t> identity;
    bool ignoreNextSearch = false;

    Ipv4 address() const;
    Ipv4 mask() const;
    Ipv4 gateway() const;
    uint16_t port() const;
    // The first 17 identity bytes.
    std::string macText() const;
};

class DiscoveryObserver {
public:
    virtual ~DiscoveryObserver() = default;
    virtual void searchHeard() = 0;
    // device counts from 0; result and reason as answered.
    virtual void discoveryLogin(unsigned device, const std::string& user, const std::string& password,
                                uint8_t result, uint8_t reason) = 0;
    virtual void modifyIp(unsigned device, const Ipv4& address, const Ipv4& mask, const Ipv4& gateway,
                          uint8_t result) = 0;
    virtual void fault(const std::string& text) = 0;
};

class DiscoveryResponder {
public:
    explicit DiscoveryResponder(const DiscoveryBehaviour& behaviour);

    // The replies to send back to the datagram's sender, in order.
    std::vector<std::vector<uint8_t>> handle(std::span<const uint8_t> datagram, DiscoveryObserver& observer);

    const std::vector<SimDevice>& devices() const { return m_devices; }

private:
    std::vector<std::vector<uint8_t>> search(std::span<const uint8_t> d, DiscoveryObserver& observer);
    std::vector<std::vector<uint8_t>> login(std::span<const uint8_t> d, DiscoveryObserver& observer);
    std::vector<std::vector<uint8_t>> modify(std::span<const uint8_t> d, DiscoveryObserver& observer);
    int findIdentity(std::span<const uint8_t> identity) const;

    const DiscoveryBehaviour& m_behaviour;
    std::vector<SimDevice> m_devices;
};

// Dotted text of an address.
std::string ipv4Text(const Ipv4& a);

} // namespace sim
