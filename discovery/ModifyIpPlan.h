#pragma once

// New addresses for many recorders at once: numbering them from a first address, and the checks
// a plan must pass before anything is sent. The window's and the command line's assigning share
// these rules.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// A MAC text in one spelling: capitals, ':' between the pairs.
std::string normalMac(std::string_view mac);

// Why a new address, mask and gateway do not fit together, or an empty text when they do: the
// mask must be a run of ones followed by zeros, the address neither the subnet's own address nor
// its broadcast address, and the gateway inside the address's subnet.
std::string subnetRefusal(std::uint32_t address, std::uint32_t mask, std::uint32_t gateway);

// `count` addresses from `first` upwards, passing over those in `inUse` and the subnet's own and
// broadcast addresses; nullopt when the subnet of `first` and `mask` runs out first.
std::optional<std::vector<std::uint32_t>> numberAddresses(std::uint32_t first, std::uint32_t mask,
                                                          std::size_t count,
                                                          const std::unordered_set<std::uint32_t>& inUse);

// A recorder as the search listed it.
struct ListedRecorder {
    std::size_t row = 0; // in the device table
    std::string mac;
    std::uint32_t address = 0;
};

// One line of a plan: a recorder and its new settings.
struct PlanLine {
    std::string mac;
    std::uint32_t address = 0;
    std::uint32_t mask = 0;
    std::uint32_t gateway = 0;
};

struct PlannedChange {
    std::size_t row = 0;
    std::string mac; // as the recorder sent it
    std::uint32_t oldAddress = 0;
    std::uint32_t address = 0;
    std::uint32_t mask = 0;
    std::uint32_t gateway = 0;
};

// A plan numbered from a first address, or why it cannot be.
struct NumberedPlan {
    std::vector<PlanLine> lines; // empty when refused
    std::string refusal;
};

// The MACs in order, each given the next address from `first` (see numberAddresses), passing over
// every address a listed recorder or this machine uses; mask and gateway the same for all.
// Refused when the subnet runs out first.
NumberedPlan numberPlan(const std::vector<std::string>& macs, std::uint32_t first, std::uint32_t mask,
                        std::uint32_t gateway, const std::vector<ListedRecorder>& listed,
                        const std::unordered_set<std::uint32_t>& machineAddresses);

struct PlanCheck {
    std::vector<PlannedChange> changes; // in the plan's order; empty when refused
    std::string refusal;                // empty when the plan may be carried out
};

// Checks a plan against the recorders listed and this machine's addresses: every MAC names one
// listed recorder, once; no two recorders get one address; no recorder gets an address another
// listed recorder or this machine uses; address, mask and gateway fit together.
PlanCheck checkPlan(const std::vector<PlanLine>& plan, const std::vector<ListedRecorder>& listed,
                    const std::unordered_set<std::uint32_t>& machineAddresses);
