#pragma once
// Everything the simulated recorder can be told, and the command line of recorder-sim.

#include "simulator/DiscoveryResponder.h"
#include "simulator/UpgradeConnection.h"

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

namespace sim {

struct SimOptions {
    // Upgrade side: TCP server. Port 0 lets the system pick a free port.
    bool upgradeSide = true;
    std::string tcpAddress = "127.0.0.1";
    uint16_t tcpPort = 37777;
    // Small receive buffer for the accepted connections (0: the system's default); with the
    // slow reader it makes the tool's sends block sooner.
    int receiveBuffer = 0;
    UpgradeBehaviour upgrade;

    // Discovery side: UDP socket. Replies go only to the sender of each request.
    bool discoverySide = true;
    std::string udpAddress = "127.0.0.1";
    uint16_t udpPort = 5050;
    DiscoveryBehaviour discovery;
    // First recorder's address and port in its search reply; by default the TCP address
    // (127.0.0.1 when that is the wildcard) and the TCP port that was bound. Every recorder
    // whose reported address is a loopback one (127.x.x.x) also takes upgrades there, on a
    // listening socket of its own (the first 64 recorders).
    std::optional<uint32_t> deviceAddress;
    std::optional<uint16_t> devicePort;

    // The one account of every simulated recorder, on both sides; overrides the user and
    // password of the two behaviours.
    std::string user = "admin";
    std::string password = "admin";

    // Receives one line per finished upgrade (and, when verbose, per login, search and
    // modify-IP), on the simulator's thread. Empty: nothing is printed.
    std::function<void(const std::string&)> print;
    bool verbose = false;
};

struct CommandLine {
    // Set when the simulator is to run.
    std::optional<SimOptions> options;
    // Exit status when it is not: 0 after --help, 2 after a bad option.
    int exitStatus = 0;
};

// Parses recorder-sim's arguments; the usage text goes to out, errors to err.
CommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace sim
