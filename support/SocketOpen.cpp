#include "support/SocketOpen.h"

#include "support/SocketWait.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Zorvik {

namespace {

bool ParseAddress(const char* text, int port, sockaddr_in& address) {
    if (text == nullptr || port < 1 || port > 65535) {
        return false;
    }
    // inet_addr keeps the classic forms ("127.1" too) but does no name lookup; the broadcast
    // address yields the same INADDR_NONE as a bad text and is refused with it.
    const in_addr_t ip = ::inet_addr(text);
    if (ip == INADDR_NONE) {
        return false;
    }
    address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = ip;
    return true;
}

} // namespace

int ConnectWithTimeout(const char* text, int port, uint32_t limitMs) {
    sockaddr_in peer{};
    if (!ParseAddress(text, port, peer)) {
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const Clock::time_point start = Clock::now();
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
        return fd;
    }
    if (errno != EINPROGRESS && errno != EINTR) {
        ::close(fd);
        return -1;
    }
    pollfd p{fd, POLLOUT, 0};
    for (;;) {
        const uint32_t elapsed = MillisecondsSince(start);
        if (elapsed >= limitMs) {
            ::close(fd);
            return -1;
        }
        const int n = ::poll(&p, 1, PollTimeout(uint64_t{limitMs} - elapsed));
        if (n > 0) {
            break;
        }
        if (n < 0 && errno != EINTR) {
            ::close(fd);
            return -1;
        }
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int CreateMulticastSocket(const char* group, int port) {
    if (group == nullptr || port < 0 || port > 65535) {
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        return -1;
    }
    const int on = 1;
    const int scope = 64;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    ip_mreq join{};
    join.imr_multiaddr.s_addr = ::inet_addr(group);
    join.imr_interface.s_addr = htonl(INADDR_ANY);
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &scope, sizeof scope) != 0 ||
        ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace Zorvik
