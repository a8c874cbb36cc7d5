#include "discovery/ModifyIpPlan.h"

#include "discovery/DiscoveryProtocol.h"

#include <cctype>
#include <unordered_map>

std::string normalMac(std::string_view mac) {
    std::string out(mac);
    for (char& c : out) {
        c = c == '-' ? ':' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

namespace {

// The subnet's own address (host part all zeros) or its broadcast address (all ones), which no
// recorder may take; a /31 or /32 has neither.
bool isOwnOrBroadcast(std::uint32_t address, std::uint32_t hosts) {
    return hosts > 1 && ((address & hosts) == 0 || (address & hosts) == hosts);
}

} // namespace

std::string subnetRefusal(std::uint32_t address, std::uint32_t mask, std::uint32_t gateway) {
    // Ones followed by zeros: the complement plus one is a power of two.
    const std::uint32_t hosts = ~mask;
    if ((hosts & (hosts + 1)) != 0) {
        return "the subnet mask " + formatIpv4(mask) + " is not a run of ones followed by zeros";
    }
    if (isOwnOrBroadcast(address, hosts)) {
        return "the address " + formatIpv4(address) + " is the own or broadcast address of its subnet";
    }
    if ((gateway & mask) != (address & mask)) {
        return "the gateway " + formatIpv4(gateway) + " is outside the subnet of " + formatIpv4(address) +
               " with mask " + formatIpv4(mask);
    }
    return {};
}

std::optional<std::vector<std::uint32_t>> numberAddresses(std::uint32_t first, std::uint32_t mask,
                                                          std::size_t count,
                                                          const std::unordered_set<std::uint32_t>& inUse) {
    const std::uint32_t hosts = ~mask;
    const std::uint64_t last = std::uint64_t(first | hosts);
    std::vector<std::uint32_t> numbers;
    for (std::uint64_t a = first; numbers.size() < count; ++a) {
        if (a > last) {
            return std::nullopt;
        }
        const auto address = std::uint32_t(a);
        if (!isOwnOrBroadcast(address, hosts) && !inUse.contains(address)) {
            numbers.push_back(address);
        }
    }
    return numbers;
}

NumberedPlan numberPlan(const std::vector<std::string>& macs, std::uint32_t first, std::uint32_t mask,
                        std::uint32_t gateway, const std::vector<ListedRecorder>& listed,
                        const std::unordered_set<std::uint32_t>& machineAddresses) {
    std::unordered_set<std::uint32_t> inUse = machineAddresses;
    for (const ListedRecorder& r : listed) {
        inUse.insert(r.address);
    }
    const auto numbers = numberAddresses(first, mask, macs.size(), inUse);
    if (!numbers) {
        return {{},
                "the subnet of " + formatIpv4(first) + " with mask " + formatIpv4(mask) +
                    " has no free address left for every recorder"};
    }
    NumberedPlan plan;
    for (std::size_t i = 0; i < macs.size(); ++i) {
        plan.lines.push_back({macs[i], (*numbers)[i], mask, gateway});
    }
    return plan;
}

namespace {

// Why the line cannot be carried out, given who uses each address now; empty when it can.
std::string lineRefusal(const PlanLine& line, const std::string& mac,
                        const std::unordered_map<std::uint32_t, std::vector<std::string>>& usedBy,
                        const std::unordered_set<std::uint32_t>& machineAddresses) {
    if (machineAddresses.contains(line.address)) {
        return mac + ": " + formatIpv4(line.address) + " is an address of this machine";
    }
    if (const auto users = usedBy.find(line.address); users != usedBy.end()) {
        for (const std::string& other : users->second) {
            if (other != mac) {
                return mac + ": " + formatIpv4(line.address) + " is in use by the recorder " + other;
            }
        }
    }
    const std::string subnet = subnetRefusal(line.address, line.mask, line.gateway);
    return subnet.empty() ? subnet : mac + ": " + subnet;
}

} // namespace

PlanCheck checkPlan(const std::vector<PlanLine>& plan, const std::vector<ListedRecorder>& listed,
                    const std::unordered_set<std::uint32_t>& machineAddresses) {
    std::unordered_map<std::string, std::vector<const ListedRecorder*>> byMac;
    // In the order listed, so that a refusal names the same recorder each time.
    std::unordered_map<std::uint32_t, std::vector<std::string>> usedBy;
    for (const ListedRecorder& r : listed) {
        byMac[normalMac(r.mac)].push_back(&r);
        usedBy[r.address].push_back(normalMac(r.mac));
    }
    PlanCheck check;
    std::unordered_map<std::uint32_t, std::string> given;
    std::unordered_set<std::string> planned;
    for (const PlanLine& line : plan) {
        const std::string mac = normalMac(line.mac);
        const auto found = byMac.find(mac);
        if (found == byMac.end()) {
            return {{}, mac + ": no recorder with this MAC address answered the search"};
        }
        if (found->second.size() > 1) {
            return {{}, mac + ": several recorders answered with this MAC address"};
        }
        if (!planned.insert(mac).second) {
            return {{}, mac + ": named twice"};
        }
        if (const auto [it, fresh] = given.emplace(line.address, mac); !fresh) {
            return {{}, formatIpv4(line.address) + " would be given to both " + it->second + " and " + mac};
        }
        if (std::string refusal = lineRefusal(line, mac, usedBy, machineAddresses); !refusal.empty()) {
            return {{}, refusal};
        }
        const ListedRecorder& r = *found->second.front();
        check.changes.push_back({r.row, r.mac, r.address, line.address, line.mask, line.gateway});
    }
    return check;
}
