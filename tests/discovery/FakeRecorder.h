#pragma once

// A stand-in recorder for the engine tests: a UDP socket (on 127.0.0.1 unless told otherwise)
// with a thread that keeps every request it receives and answers each, to its sender, with
// whatever the test's handler returns.

#include "discovery/DiscoveryProtocol.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

inline constexpr std::uint32_t kLoopback = 0x7F000001; // 127.0.0.1
// Generous upper bounds for waits that normally end in milliseconds: reaching one is a failure,
// not a way of synchronising.
inline constexpr std::chrono::seconds kGuard{20};

inline sockaddr_in loopbackEndpoint(std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(kLoopback);
    addr.sin_port = htons(port);
    return addr;
}

// A port that was free a moment ago, for a test that must name its port before binding it.
inline std::uint16_t freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = loopbackEndpoint(0);
    socklen_t length = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        throw std::runtime_error("no free loopback port");
    }
    ::close(fd);
    return ntohs(addr.sin_port);
}

class FakeRecorder {
public:
    using Handler = std::function<std::vector<Datagram>(const Datagram& request)>;

    // Binds address:port (port 0: any free one). The socket belongs to the network namespace of
    // the thread that constructs the recorder.
    explicit FakeRecorder(std::uint32_t address = kLoopback, std::uint16_t port = 0) {
        m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(address);
        addr.sin_port = htons(port);
        socklen_t length = sizeof addr;
        if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
            throw std::runtime_error("fake recorder cannot bind");
        }
        m_port = ntohs(addr.sin_port);
        m_wake = ::eventfd(0, EFD_CLOEXEC);
        m_thread = std::thread([this] { run(); });
    }

    ~FakeRecorder() {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(m_wake, &one, sizeof one);
        m_thread.join();
        ::close(m_wake);
        ::close(m_socket);
    }

    std::uint16_t port() const { return m_port; }

    // How every later request is answered; by default it is only kept.
    void setHandler(Handler handler) {
        std::lock_guard lock(m_mutex);
        m_handler = std::move(handler);
    }

    // Sends one datagram from the recorder's socket to 127.0.0.1:port.
    void sendTo(std::uint16_t port, const Datagram& datagram) const {
        sendTo(loopbackEndpoint(port), datagram);
    }

    void sendTo(const sockaddr_in& to, const Datagram& datagram) const {
        if (::sendto(m_socket, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                     sizeof to) != ssize_t(datagram.size())) {
            throw std::runtime_error("fake recorder cannot send");
        }
    }

    // Waits until `count` requests have arrived in all; false when the guard ran out first.
    bool waitRequests(std::size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kGuard, [&] { return m_requests.size() >= count; });
    }

    std::vector<Datagram> requests() const {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

    // The sender of each request, in the same order.
    std::vector<sockaddr_in> senders() const {
        std::lock_guard lock(m_mutex);
        return m_senders;
    }

private:
    void run() {
        pollfd fds[2] = {{m_socket, POLLIN, 0}, {m_wake, POLLIN, 0}};
        std::vector<std::uint8_t> buffer(65536);
        for (;;) {
            if (::poll(fds, 2, -1) < 0 || fds[1].revents != 0) {
                return;
            }
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = ::recvfrom(m_socket, buffer.data(), buffer.size(), 0,
                                         reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 0) {
                continue;
            }
            const Datagram request(buffer.begin(), buffer.begin() + n);
            Handler handler;
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(request);
                m_senders.push_back(from);
                handler = m_handler;
            }
            m_changed.notify_all();
            if (handler) {
                for (const Datagram& reply : handler(request)) {
                    sendTo(from, reply);
                }
            }
        }
    }

    int m_socket = -1;
    int m_wake = -1;
    std::uint16_t m_port = 0;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Datagram> m_requests;
    std::vector<sockaddr_in> m_senders;
    Handler m_handler;
    std::thread m_thread;
};
