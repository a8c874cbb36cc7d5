#pragma once
// Plain blocking-with-deadline socket clients on 127.0.0.1, standing in for the tools.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace loopback {

// host: first dotted octet most significant; 127.0.0.1 unless given.
inline sockaddr_in address(uint16_t port, uint32_t host = INADDR_LOOPBACK) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(host);
    return a;
}

inline bool waitFor(int fd, short events, std::chrono::milliseconds timeout) {
    pollfd p{fd, events, 0};
    int rc;
    while ((rc = poll(&p, 1, int(timeout.count()))) < 0 && errno == EINTR) {
    }
    return rc > 0;
}

class Tcp {
public:
    explicit Tcp(uint16_t port, int sendBuffer = 0, uint32_t host = INADDR_LOOPBACK) {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (sendBuffer > 0)
            setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
        sockaddr_in a = address(port, host);
        if (connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            throw std::runtime_error("connect failed");
    }
    ~Tcp() { ::close(m_fd); }
    Tcp(const Tcp&) = delete;
    Tcp& operator=(const Tcp&) = delete;

    int fd() const { return m_fd; }

    void send(std::span<const uint8_t> bytes) {
        while (!bytes.empty()) {
            if (!waitFor(m_fd, POLLOUT, std::chrono::seconds(20)))
                throw std::runtime_error("send stalled");
            ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0)
                throw std::runtime_error("send failed");
            bytes = bytes.subspan(size_t(n));
        }
    }

    // The next 32-byte reply, or nothing when the peer closed or the time ran out.
    std::optional<std::vector<uint8_t>> reply(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::vector<uint8_t> out(32);
        size_t got = 0;
        while (got < out.size()) {
            if (!waitFor(m_fd, POLLIN, timeout))
                return std::nullopt;
            ssize_t n = ::recv(m_fd, out.data() + got, out.size() - got, 0);
            if (n <= 0)
                return std::nullopt;
            got += size_t(n);
        }
        return out;
    }

    // True when the peer has closed the connection (read returns end of stream) in time.
    bool closedByPeer(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        uint8_t b[64];
        for (;;) {
            if (!waitFor(m_fd, POLLIN, timeout))
                return false;
            ssize_t n = ::recv(m_fd, b, sizeof b, 0);
            if (n == 0)
                return true;
            if (n < 0)
                return errno == ECONNRESET;
        }
    }

private:
    int m_fd = -1;
};

class Udp {
public:
    Udp() {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = address(0);
        bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ~Udp() { ::close(m_fd); }
    Udp(const Udp&) = delete;
    Udp& operator=(const Udp&) = delete;

    void sendTo(uint16_t port, std::span<const uint8_t> d) {
        sockaddr_in a = address(port);
        ::sendto(m_fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }

    // The next datagram, or nothing when none comes in time.
    std::optional<std::vector<uint8_t>>
    receive(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        if (!waitFor(m_fd, POLLIN, timeout))
            return std::nullopt;
        std::vector<uint8_t> d(65536);
        ssize_t n = ::recv(m_fd, d.data(), d.size(), 0);
        if (n < 0)
            return std::nullopt;
        d.resize(size_t(n));
        return d;
    }

private:
    int m_fd = -1;
};

} // namespace loopback
