#pragma once

// What the technician must see about the recorders found: addresses that collide, and recorders
// this machine cannot reach directly because they sit outside each of its subnets.

#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

// One IPv4 address of this machine with its subnet.
struct LocalNetwork {
    std::uint32_t address = 0; // first octet most significant
    std::uint32_t mask = 0;
    bool loopback = false;
};

// Every IPv4 address of every interface that is up, loopback included, read as
// broadcastInterfaces() reads them. Empty when the list cannot be read.
std::vector<LocalNetwork> localNetworks();

// The addresses of `networks` other than loopback ones: those this machine answers to on a
// network, which no recorder may share.
std::unordered_set<std::uint32_t> machineAddresses(const std::vector<LocalNetwork>& networks);

struct DeviceMarks {
    // Another row has this address, or this machine uses it on a network.
    bool conflict = false;
    // How many other rows have this address.
    std::size_t othersAtAddress = 0;
    // This machine uses the address on one of its interfaces.
    bool machineAddress = false;
    // The address lies outside the subnet of every local address.
    bool otherSubnet = false;
};

// The marks of each row, given the rows' addresses in table order. Loopback addresses of this
// machine never leave it, so a recorder reporting one collides with nothing on the network; they
// still make their subnet local.
std::vector<DeviceMarks> markDevices(const std::vector<std::uint32_t>& addresses,
                                     const std::vector<LocalNetwork>& networks);
