#include "discovery/BroadcastInterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

std::vector<BroadcastInterface> broadcastInterfaces() {
    std::vector<BroadcastInterface> found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return found;
    }
    for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        const unsigned flags = it->ifa_flags;
        // IFF_RUNNING: an interface without a link (cable out, Wi-Fi not associated, a virtual
        // bridge with nothing attached) would only swallow the datagram.
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET || it->ifa_broadaddr == nullptr ||
            (flags & IFF_UP) == 0 || (flags & IFF_RUNNING) == 0 || (flags & IFF_BROADCAST) == 0 ||
            (flags & IFF_LOOPBACK) != 0) {
            continue;
        }
        std::string name = it->ifa_name;
        name = name.substr(0, name.find(':'));
        const unsigned index = ::if_nametoindex(name.c_str());
        if (index == 0 || std::ranges::any_of(found, [&](const auto& f) { return f.index == index; })) {
            continue;
        }
        const auto* address = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
        const auto* broadcast = reinterpret_cast<const sockaddr_in*>(it->ifa_broadaddr);
        found.push_back(
            {std::move(name), index, ntohl(address->sin_addr.s_addr), ntohl(broadcast->sin_addr.s_addr)});
    }
    ::freeifaddrs(list);
    return found;
}

std::optional<BroadcastInterface> findInterface(const std::vector<BroadcastInterface>& interfaces,
                                                std::string_view name) {
    const auto it = std::ranges::find(interfaces, name, &BroadcastInterface::name);
    if (it == interfaces.end()) {
        return std::nullopt;
    }
    return *it;
}

std::optional<std::uint32_t> limitedBroadcastSource() {
    // Connecting a UDP socket sends nothing; it only makes the kernel choose a route and a source.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return std::nullopt;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    to.sin_port = htons(9); // any port will do: nothing is sent
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    std::optional<std::uint32_t> source;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&from), &fromLength) == 0) {
        source = ntohl(from.sin_addr.s_addr);
    }
    ::close(fd);
    return source;
}
