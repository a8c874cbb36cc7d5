#pragma once

// The local IPv4 interfaces a broadcast can leave through.
//
// Linux sends a datagram for 255.255.255.255 out of one interface only, the one its routing
// picks. A laptop with a wired card, Wi-Fi and a virtual adapter would then search one of its
// networks and miss recorders on the others, so the discovery socket sends each request out of
// every interface listed here as well.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct BroadcastInterface {
    std::string name;            // "eth0"; an alias label such as "eth0:1" is reported as its device
    unsigned index = 0;          // the kernel's interface index
    std::uint32_t address = 0;   // its first IPv4 address (first octet most significant)
    std::uint32_t broadcast = 0; // that address's subnet broadcast address
};

// Interfaces that are up with a link, can broadcast and have an IPv4 address with a broadcast
// address; loopback and point-to-point links are left out. One entry per interface (its first
// address), in the order the system lists them. Empty when none qualifies or the list cannot be
// read.
std::vector<BroadcastInterface> broadcastInterfaces();

// The entry of `interfaces` with this name, if any.
std::optional<BroadcastInterface> findInterface(const std::vector<BroadcastInterface>& interfaces,
                                                std::string_view name);

// The local address the kernel would send from when a datagram for 255.255.255.255 names no
// interface; nullopt when no route takes such a datagram.
std::optional<std::uint32_t> limitedBroadcastSource();
