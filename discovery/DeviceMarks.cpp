#include "discovery/DeviceMarks.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <unordered_map>

std::vector<LocalNetwork> localNetworks() {
    std::vector<LocalNetwork> found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return found;
    }
    for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET || it->ifa_netmask == nullptr ||
            (it->ifa_flags & IFF_UP) == 0) {
            continue;
        }
        const auto* address = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
        const auto* mask = reinterpret_cast<const sockaddr_in*>(it->ifa_netmask);
        found.push_back({ntohl(address->sin_addr.s_addr), ntohl(mask->sin_addr.s_addr),
                         (it->ifa_flags & IFF_LOOPBACK) != 0});
    }
    ::freeifaddrs(list);
    return found;
}

std::unordered_set<std::uint32_t> machineAddresses(const std::vector<LocalNetwork>& networks) {
    std::unordered_set<std::uint32_t> machine;
    for (const LocalNetwork& n : networks) {
        if (!n.loopback) {
            machine.insert(n.address);
        }
    }
    return machine;
}

std::vector<DeviceMarks> markDevices(const std::vector<std::uint32_t>& addresses,
                                     const std::vector<LocalNetwork>& networks) {
    // Counted in one pass so that a site of thousands of recorders is marked in linear time.
    std::unordered_map<std::uint32_t, std::size_t> rowsAt;
    rowsAt.reserve(addresses.size());
    for (const std::uint32_t address : addresses) {
        ++rowsAt[address];
    }
    const std::unordered_set<std::uint32_t> machine = machineAddresses(networks);
    std::vector<DeviceMarks> marks(addresses.size());
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const std::uint32_t address = addresses[i];
        DeviceMarks& m = marks[i];
        m.othersAtAddress = rowsAt[address] - 1;
        m.machineAddress = machine.contains(address);
        m.conflict = m.othersAtAddress > 0 || m.machineAddress;
        m.otherSubnet = std::none_of(networks.begin(), networks.end(), [&](const LocalNetwork& n) {
            return (address & n.mask) == (n.address & n.mask);
        });
    }
    return marks;
}
