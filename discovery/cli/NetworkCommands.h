// scan and set-ip: the discovery window's list and its Modify IP command, on the same engine.
#pragma once

#include "discovery/DiscoveryEngine.h"
#include "discovery/cli/PelloryStatus.h"

#include <chrono>
#include <cstdint>
#include <string>

enum class ListFormat { Table, Csv, Json };

// Where requests go and where replies are taken in.
struct DiscoveryEndpoint {
    std::uint32_t target = DISCOVERY_BROADCAST_ADDRESS;
    std::uint16_t targetPort = DISCOVERY_PORT;
    std::uint16_t bindPort = DISCOVERY_PORT; // 0: any free port
    std::string interfaceName;               // empty: every interface that can broadcast
};

struct ScanOptions {
    DiscoveryEndpoint endpoint;
    std::chrono::milliseconds timeout{3000};
    ListFormat format = ListFormat::Table;
};

// Searches, collects the answers for the timeout and prints the list.
PelloryStatus Scan(const ScanOptions& options);

struct SetIpOptions {
    DiscoveryEndpoint endpoint;
    std::chrono::milliseconds timeout{5000}; // the whole command: search, login and answer
    std::string mac;
    std::string user;
    std::string password;
    std::uint32_t address = 0;
    std::uint32_t mask = 0;
    std::uint32_t gateway = 0;
};

// Finds the recorder by its MAC address, logs in to it and asks it to take the new address,
// mask and gateway, with the window's messages.
PelloryStatus SetIp(const SetIpOptions& options);

DiscoveryEngineConfig ConfigOf(const DiscoveryEndpoint& endpoint);
// Why the discovery socket could not be opened, for the technician.
std::string OpenFailure(const DiscoveryEndpoint& endpoint);

// The Modify IP dialog's refusal of the new addresses (its text), or nullptr when they may be sent.
const char* ModifyIpRefusal(std::uint32_t address, std::uint32_t mask, std::uint32_t gateway);
