#include "discovery/BroadcastSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <system_error>

namespace {

sockaddr_in endpoint(std::uint32_t address, std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(address);
    addr.sin_port = htons(port);
    return addr;
}

void closeDescriptor(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace

BroadcastSocket::BroadcastSocket(std::uint32_t destinationAddress, std::uint16_t destinationPort,
                                 std::uint16_t boundPort, std::string interfaceName)
    : m_destination(endpoint(destinationAddress, destinationPort)), m_boundPort(boundPort),
      m_interfaceName(std::move(interfaceName)), m_bSessionStarted(WinsockSession::startup()),
      m_receiveBuffer(new std::uint8_t[kReceiveBufferSize]()) {}

BroadcastSocket::~BroadcastSocket() {
    BroadcastSocket::close();
    if (m_bSessionStarted) {
        WinsockSession::cleanup();
    }
}

bool BroadcastSocket::isOpen() const {
    std::lock_guard lock(m_socketMutex);
    return m_socket >= 0;
}

int BroadcastSocket::open() {
    std::lock_guard lock(m_socketMutex);
    if (m_socket >= 0 || !m_bSessionStarted) {
        return -1;
    }
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    m_source = m_destination;

    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    // Best effort: a smaller queue only means that a large burst of replies may lose some.
    const int request = kReceiveQueueRequest;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &request, sizeof request);

    const sockaddr_in local = endpoint(INADDR_ANY, m_boundPort);
    sockaddr_in bound{};
    socklen_t boundLength = sizeof bound;
    int queueSize = 0;
    socklen_t queueSizeLength = sizeof queueSize;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength) != 0 ||
        ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &queueSize, &queueSizeLength) != 0) {
        closeDescriptor(fd);
        return -1;
    }

    m_stopSignal = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_stopSignal < 0) {
        closeDescriptor(fd);
        return -1;
    }
    m_stopRequested.store(false);
    m_localPort.store(ntohs(bound.sin_port));
    m_receiveQueueSize.store(queueSize);
    try {
        m_thread = std::thread([this, fd] { receiveLoop(fd); });
    } catch (const std::system_error&) {
        closeDescriptor(m_stopSignal);
        closeDescriptor(fd);
        m_localPort.store(0);
        m_receiveQueueSize.store(0);
        return -1;
    }
    m_socket = fd;
    return 1;
}

std::optional<BroadcastSocket::Route> BroadcastSocket::route() const {
    const bool limitedBroadcast = m_destination.sin_addr.s_addr == htonl(INADDR_BROADCAST);
    if (!m_interfaceName.empty()) {
        auto only = findInterface(broadcastInterfaces(), m_interfaceName);
        if (!only) {
            return std::nullopt;
        }
        return Route{{std::move(*only)}, false};
    }
    if (!limitedBroadcast) {
        return Route{{}, true};
    }
    Route route{broadcastInterfaces(), true};
    // The routing table's own choice is usually one of those interfaces already: a second copy
    // there would only double every recorder's answer.
    if (const auto source = limitedBroadcastSource()) {
        route.plain = std::ranges::none_of(route.via, [&](const auto& i) { return i.address == *source; });
    }
    return route;
}

namespace {

// One datagram, through `via` with its address as source when given, else as routing decides.
ssize_t sendDatagram(int fd, const std::uint8_t* bytes, std::size_t length, const sockaddr_in& to,
                     const BroadcastInterface* via) {
    iovec part{const_cast<std::uint8_t*>(bytes), length};
    msghdr message{};
    message.msg_name = const_cast<sockaddr_in*>(&to);
    message.msg_namelen = sizeof to;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (via != nullptr) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = int(via->index);
        info.ipi_spec_dst.s_addr = htonl(via->address);
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
    }
    for (;;) {
        const ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (sent >= 0 || errno != EINTR) {
            return sent;
        }
    }
}

} // namespace

int BroadcastSocket::send(const std::uint8_t* bytes, std::size_t length) {
    // Every datagram the engine sends leaves through here. The interfaces are read for every
    // send, since cables, Wi-Fi and virtual adapters come and go while the window is open.
    const auto way = route();
    std::lock_guard lock(m_socketMutex);
    if (m_socket < 0 || !way) {
        return -1;
    }
    ssize_t sent = -1;
    // An interface that refuses (gone down, no buffer) is passed over: one that works is enough.
    for (const BroadcastInterface& via : way->via) {
        sent = std::max(sent, sendDatagram(m_socket, bytes, length, m_destination, &via));
    }
    if (way->plain) {
        sent = std::max(sent, sendDatagram(m_socket, bytes, length, m_destination, nullptr));
    }
    return sent < 0 ? -1 : int(sent);
}

void BroadcastSocket::close() {
    int fd;
    {
        // From here on sends fail; a send in progress finishes first.
        std::lock_guard lock(m_socketMutex);
        fd = m_socket;
        m_socket = -1;
    }
    if (m_thread.joinable()) {
        m_stopRequested.store(true);
        const std::uint64_t one = 1;
        // Writing 1 to an eventfd fails only when its counter is full; the flag above is set anyway.
        [[maybe_unused]] ssize_t written = ::write(m_stopSignal, &one, sizeof one);
        m_thread.join();
    }
    // The descriptors are closed only now that no thread can still be polling them.
    closeDescriptor(m_stopSignal);
    closeDescriptor(fd);
    m_localPort.store(0);
    m_receiveQueueSize.store(0);
}

void BroadcastSocket::onDatagram(const std::uint8_t*, std::size_t) {}

void BroadcastSocket::receiveLoop(int socket) {
    pollfd fds[2] = {{socket, POLLIN, 0}, {m_stopSignal, POLLIN, 0}};
    while (!m_stopRequested.load()) {
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return; // poll() itself failing leaves nothing to wait on
        }
        if (fds[1].revents != 0) {
            return;
        }
        if (fds[0].revents != 0) {
            receiveAvailable(socket);
        }
    }
}

// Takes every datagram already queued, checking for a stop request between them.
void BroadcastSocket::receiveAvailable(int socket) {
    while (!m_stopRequested.load()) {
        socklen_t sourceLength = sizeof m_source;
        // MSG_TRUNC makes the result the datagram's real length, so an oversized one is recognised.
        const ssize_t length =
            ::recvfrom(socket, m_receiveBuffer.get(), kReceiveBufferSize, MSG_DONTWAIT | MSG_TRUNC,
                       reinterpret_cast<sockaddr*>(&m_source), &sourceLength);
        if (length < 0) {
            if (errno == EINTR) {
                continue;
            }
            // EAGAIN: the queue is empty. Any other error is reported once and cleared by this
            // call, so going back to poll() cannot spin.
            return;
        }
        m_datagramsReceived.fetch_add(1);
        if (std::size_t(length) > kReceiveBufferSize) {
            continue;
        }
        onDatagram(m_receiveBuffer.get(), std::size_t(length));
    }
}

bool BroadcastSocket::sourceIsThisSocket() {
    if (ntohs(m_source.sin_port) != m_localPort.load()) {
        return false;
    }
    // No other socket can hold our port on this host, so our port from a local address is us.
    return isLocalAddress(ntohl(m_source.sin_addr.s_addr));
}

bool BroadcastSocket::isLocalAddress(std::uint32_t address) {
    if (address >> 24 == 127) {
        return true;
    }
    if (std::ranges::find(m_localAddresses, address) != m_localAddresses.end()) {
        return true;
    }
    // Addresses come and go (DHCP, cables); re-read them, but not for every datagram.
    const auto now = std::chrono::steady_clock::now();
    if (now - m_localAddressesRead < std::chrono::seconds(1)) {
        return false;
    }
    m_localAddressesRead = now;
    m_localAddresses.clear();
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) == 0) {
        for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
            if (it->ifa_addr != nullptr && it->ifa_addr->sa_family == AF_INET) {
                const auto* in = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
                m_localAddresses.push_back(ntohl(in->sin_addr.s_addr));
            }
        }
        ::freeifaddrs(list);
    }
    return std::ranges::find(m_localAddresses, address) != m_localAddresses.end();
}
