// Loopback peers and a recording owner for the socket object's tests.
#pragma once

#include "support/NetSocket.h"
#include "support/NetSocketCore.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace sockettest {

using Bytes = std::vector<uint8_t>;

// Generous limit for waits on conditions that should come true at once; reached only on failure.
constexpr int kPatienceMs = 10000;

inline Bytes Packet(uint8_t tag, uint32_t payload, uint8_t fill = 0x5A) {
    Bytes b(32, 0);
    b.resize(32 + payload, fill);
    b[0] = tag;
    b[4] = static_cast<uint8_t>(payload);
    b[5] = static_cast<uint8_t>(payload >> 8);
    b[6] = static_cast<uint8_t>(payload >> 16);
    b[7] = static_cast<uint8_t>(payload >> 24);
    return b;
}

// An owned descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(Fd&& o) noexcept : m_fd(o.Release()) {}
    Fd& operator=(Fd&& o) noexcept {
        Reset(o.Release());
        return *this;
    }
    ~Fd() { Reset(); }
    int Get() const { return m_fd; }
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void Reset(int fd = -1) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = fd;
    }
    explicit operator bool() const { return m_fd >= 0; }

    // Sends everything (blocking socket); false on failure.
    bool SendAll(const Bytes& b) const {
        size_t at = 0;
        while (at < b.size()) {
            const ssize_t n = ::send(m_fd, b.data() + at, b.size() - at, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            at += static_cast<size_t>(n);
        }
        return true;
    }
    // Reads exactly `size` bytes, waiting at most kPatienceMs for each piece; short on failure.
    Bytes ReadExactly(size_t size) const {
        Bytes b(size);
        size_t at = 0;
        while (at < size) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, kPatienceMs) != 1) {
                break;
            }
            const ssize_t n = ::recv(m_fd, b.data() + at, size - at, 0);
            if (n <= 0) {
                break;
            }
            at += static_cast<size_t>(n);
        }
        b.resize(at);
        return b;
    }
    // Waits for the peer's close and tells how it closed: 0 orderly, or the errno of the read.
    int WaitForClose() const {
        char sink[4096];
        for (;;) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, kPatienceMs) != 1) {
                return ETIMEDOUT;
            }
            const ssize_t n = ::recv(m_fd, sink, sizeof sink, 0);
            if (n == 0) {
                return 0;
            }
            if (n < 0) {
                return errno;
            }
        }
    }
    void NoDelay() const {
        const int on = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }

private:
    int m_fd = -1;
};

// A listening TCP socket on 127.0.0.1 with a port chosen by the system.
class Listener {
public:
    explicit Listener(int backlog = 64) {
        m_fd.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const int on = 1;
        ::setsockopt(m_fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(m_fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(m_fd.Get(), backlog), 0);
        socklen_t len = sizeof a;
        ::getsockname(m_fd.Get(), reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
    int Port() const { return m_port; }
    int Get() const { return m_fd.Get(); }
    // The next connection, or an empty Fd after kPatienceMs.
    Fd Accept() const {
        pollfd p{m_fd.Get(), POLLIN, 0};
        if (::poll(&p, 1, kPatienceMs) != 1) {
            return Fd();
        }
        return Fd(::accept4(m_fd.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    }

private:
    Fd m_fd;
    int m_port = 0;
};

// Connects a plain blocking socket to 127.0.0.1:port.
inline Fd ConnectPlain(int port) {
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        return Fd();
    }
    return fd;
}

// Records every callback; tests wait on its state changing instead of sleeping.
class RecordingOwner final : public Zorvik::CNetSocketOwner {
public:
    struct Packet {
        Bytes bytes;
        const uint8_t* where;
        std::thread::id thread;
    };

    // Optional hooks, run on the calling thread after recording.
    std::function<void(Zorvik::CNetSocket*, const Bytes&)> onPacket;
    std::function<void(Zorvik::CNetSocket*)> onClose;

    void OnPacket(Zorvik::CNetSocket* sender, const uint8_t* data, uint32_t length) override {
        Bytes b(data, data + length);
        {
            std::lock_guard lock(m_lock);
            m_packets.push_back({b, data, std::this_thread::get_id()});
            m_sender = sender;
        }
        m_changed.notify_all();
        if (onPacket) {
            onPacket(sender, b);
        }
    }
    void OnDatagram(Zorvik::CNetSocket* sender, const uint8_t* data, uint32_t length) override {
        {
            std::lock_guard lock(m_lock);
            m_datagrams.emplace_back(data, data + length);
            m_sender = sender;
        }
        m_changed.notify_all();
    }
    void OnClose(Zorvik::CNetSocket* sender) override {
        {
            std::lock_guard lock(m_lock);
            ++m_closes;
            m_closeThreads.push_back(std::this_thread::get_id());
            m_sender = sender;
        }
        m_changed.notify_all();
        if (onClose) {
            onClose(sender);
        }
    }

    // Waits until pred(*this) holds, at most `ms`; the predicate runs under the lock.
    template <class Pred> bool WaitFor(Pred pred, int ms = kPatienceMs) {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return pred(*this); });
    }
    bool WaitForPackets(size_t n, int ms = kPatienceMs) {
        return WaitFor([n](const RecordingOwner& o) { return o.m_packets.size() >= n; }, ms);
    }

    std::vector<Packet> Packets() {
        std::lock_guard lock(m_lock);
        return m_packets;
    }
    std::vector<Bytes> Datagrams() {
        std::lock_guard lock(m_lock);
        return m_datagrams;
    }
    Zorvik::CNetSocket* Sender() {
        std::lock_guard lock(m_lock);
        return m_sender;
    }
    int Closes() {
        std::lock_guard lock(m_lock);
        return m_closes;
    }
    std::vector<std::thread::id> CloseThreads() {
        std::lock_guard lock(m_lock);
        return m_closeThreads;
    }

    // Read under the lock by WaitFor predicates.
    std::vector<Packet> m_packets;
    std::vector<Bytes> m_datagrams;
    int m_closes = 0;
    std::vector<std::thread::id> m_closeThreads;
    Zorvik::CNetSocket* m_sender = nullptr;

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
};

// Waits until every socket object of the test has deleted itself.
inline bool AllSocketsGone() {
    return Zorvik::CNetSocketCore::WaitForLiveObjects(0, kPatienceMs);
}

inline uint32_t ElapsedMs(std::chrono::steady_clock::time_point start) {
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count());
}

} // namespace sockettest
