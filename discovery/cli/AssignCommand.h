// assign: new addresses for many recorders in one run, numbered from a first address or read
// from a plan.
#pragma once

#include "discovery/ModifyIpPlan.h"
#include "discovery/cli/NetworkCommands.h"

#include <chrono>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

struct AssignOptions {
    DiscoveryEndpoint endpoint;
    std::chrono::milliseconds scanTime{3000};
    std::chrono::milliseconds timeout{5000}; // each recorder: its login and its answer
    // Either MAC addresses in the order to number them from firstAddress ...
    std::vector<std::string> macs;
    std::uint32_t firstAddress = 0;
    // ... or a plan; a mask or gateway of 0 in a line takes the option's.
    std::vector<PlanLine> plan;
    std::uint32_t mask = 0;    // 0: not given
    std::uint32_t gateway = 0; // 0: not given
    std::string user;
    std::string password;
    ListFormat format = ListFormat::Table;
};

// Reads a plan: the header "mac,ip,mask,gateway", then one recorder a line; mask and gateway may
// be blank (0). Throws cli::UsageError naming the line that cannot be read.
std::vector<PlanLine> ReadPlan(std::istream& in, const std::string& fileName);

// Searches, checks the whole plan against what answered (nothing is sent to a recorder when it
// does not pass), then logs in to each recorder in turn and gives it its new address. Prints one
// line per recorder: MAC, old address, new address and the result. Returns the exit status:
// a PelloryStatus, or 128 + the signal that stopped the batch (the results so far are printed).
int Assign(const AssignOptions& options);
