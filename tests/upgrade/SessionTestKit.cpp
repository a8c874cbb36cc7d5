#include "tests/upgrade/SessionTestKit.h"

#include "support/NetSocketCore.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

using Zorvik::CNetSocket;
using Zorvik::CNetSocketOwner;

bool AllSocketObjectsGone(std::chrono::milliseconds limit) {
    return Zorvik::CNetSocketCore::WaitForLiveObjects(0, static_cast<uint32_t>(limit.count()));
}

// ---- FlakyFactory

class FlakyFactory::Socket final : public CNetSocket, public CNetSocketOwner {
public:
    Socket(FlakyFactory& factory, CNetSocketOwner* owner) : m_factory(factory), m_owner(owner) {}

    CNetSocket* real = nullptr;

    bool Connect(const char* address, int port, uint32_t limitMs) override {
        return real->Connect(address, port, limitMs);
    }
    bool Attach(int socket) override { return real->Attach(socket); }
    void Disconnect() override { real->Disconnect(); }
    bool IsConnected() override { return real->IsConnected(); }
    bool Send(const void* data, uint32_t length, uint32_t limitMs, uint32_t* sent) override {
        bool fail = false;
        {
            std::lock_guard lock(m_factory.m_lock);
            bool dataPacket = m_factory.m_continuing;
            if (!dataPacket) {
                const RequestEvent request = DecodeRequest(static_cast<const uint8_t*>(data), length);
                dataPacket = request.type == RequestType::Data;
                m_factory.m_chunk = request.chunkNumber;
            }
            if (dataPacket) {
                const int attempt = ++m_factory.m_attempts[m_factory.m_chunk];
                fail = m_factory.m_chunk == m_factory.m_failChunk && attempt <= m_factory.m_failures;
            }
        }
        uint32_t out = 0;
        bool whole = false;
        if (!fail) {
            whole = real->Send(data, length, limitMs, &out);
        } else if (m_factory.m_partBytes > 0) {
            real->Send(data, std::min(m_factory.m_partBytes, length), limitMs, &out);
        }
        if (sent != nullptr) {
            *sent = out;
        }
        std::lock_guard lock(m_factory.m_lock);
        m_factory.m_continuing = !whole && (m_factory.m_continuing || out > 0);
        return whole;
    }

    bool JoinMulticast(const char* group, int port) override { return real->JoinMulticast(group, port); }
    void LeaveMulticast() override { real->LeaveMulticast(); }
    bool IsMulticastOpen() override { return real->IsMulticastOpen(); }

    // The session sees this wrapper, never the real object, as the sender.
    void OnPacket(CNetSocket*, const uint8_t* data, uint32_t length) override {
        m_owner->OnPacket(this, data, length);
    }
    void OnDatagram(CNetSocket*, const uint8_t* data, uint32_t length) override {
        m_owner->OnDatagram(this, data, length);
    }
    void OnClose(CNetSocket*) override { m_owner->OnClose(this); }
    void OnPacketsRead(CNetSocket*) override { m_owner->OnPacketsRead(this); }

private:
    FlakyFactory& m_factory;
    CNetSocketOwner* m_owner;
};

FlakyFactory::FlakyFactory(uint32_t failChunk, int failures, uint32_t partBytes)
    : m_failChunk(failChunk), m_failures(failures), m_partBytes(partBytes) {}

FlakyFactory::~FlakyFactory() {
    AllSocketObjectsGone();
}

bool FlakyFactory::Create(CNetSocketOwner* owner, CNetSocket** socket) {
    auto wrapper = std::make_unique<Socket>(*this, owner);
    if (!Zorvik::CreateNetSocket(wrapper.get(), &wrapper->real)) {
        return false;
    }
    *socket = wrapper.get();
    std::lock_guard lock(m_lock);
    m_sockets.push_back(std::move(wrapper));
    return true;
}

void FlakyFactory::Release(CNetSocket*& socket) {
    auto* wrapper = static_cast<Socket*>(socket);
    socket = nullptr;
    Zorvik::ReleaseNetSocket(wrapper->real);
    ++m_releases;
}

std::map<uint32_t, int> FlakyFactory::Attempts() const {
    std::lock_guard lock(m_lock);
    return m_attempts;
}

// ---- TestPeer

TestPeer::TestPeer() {
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 4) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("test peer cannot listen");
    }
    m_port = ntohs(address.sin_port);
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this] { Run(); });
}

TestPeer::~TestPeer() {
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    m_thread.join();
    if (m_connFd >= 0) {
        ::close(m_connFd);
    }
    ::close(m_listenFd);
    ::close(m_wakeFd);
}

void TestPeer::OnRequest(std::function<void(TestPeer&, const RequestEvent&)> handler) {
    std::lock_guard lock(m_lock);
    m_handler = std::move(handler);
}

void TestPeer::Reply(const Packet32& packet) {
    // Under the lock, so that the descriptor cannot be closed and reused meanwhile.
    std::lock_guard lock(m_lock);
    if (m_connFd >= 0) {
        [[maybe_unused]] ssize_t n = ::send(m_connFd, packet.data(), packet.size(), MSG_NOSIGNAL);
    }
}

void TestPeer::SetReading(bool reading) {
    {
        std::lock_guard lock(m_lock);
        m_reading = reading;
    }
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

bool TestPeer::WaitForRequests(RequestType type, size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, limit, [&] {
        size_t n = 0;
        for (const auto& r : m_requests) {
            n += r.type == type ? 1 : 0;
        }
        return n >= count;
    });
}

std::vector<RequestEvent> TestPeer::Requests() const {
    std::lock_guard lock(m_lock);
    return m_requests;
}

void TestPeer::Run() {
    std::vector<uint8_t> input;
    uint8_t buffer[16384];
    for (;;) {
        bool reading;
        int conn;
        {
            std::lock_guard lock(m_lock);
            if (m_stopping) {
                return;
            }
            reading = m_reading;
            conn = m_connFd;
        }
        pollfd fds[3] = {
            {m_wakeFd, POLLIN, 0}, {m_listenFd, POLLIN, 0}, {conn, short(reading ? POLLIN : 0), 0}};
        if (::poll(fds, conn >= 0 ? 3 : 2, -1) < 0) {
            continue;
        }
        if (fds[0].revents & POLLIN) {
            uint64_t value;
            [[maybe_unused]] ssize_t n = ::read(m_wakeFd, &value, sizeof value);
        }
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                std::lock_guard lock(m_lock);
                if (m_connFd >= 0) {
                    ::close(m_connFd);
                }
                m_connFd = fd;
                input.clear();
            }
            continue;
        }
        if (conn >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = ::recv(conn, buffer, sizeof buffer, 0);
            if (n <= 0) {
                std::lock_guard lock(m_lock);
                ::close(m_connFd);
                m_connFd = -1;
                continue;
            }
            input.insert(input.end(), buffer, buffer + n);
            size_t used = 0;
            while (input.size() - used >= PacketHeader::kSize) {
                const uint32_t length = PacketHeader::kSize + LittleEndian::Read32(&input[used + 4]);
                if (input.size() - used < length) {
                    break;
                }
                RequestEvent request = DecodeRequest(&input[used], length);
                request.payload = {};
                std::function<void(TestPeer&, const RequestEvent&)> handler;
                {
                    std::lock_guard lock(m_lock);
                    m_requests.push_back(request);
                    handler = m_handler;
                }
                m_changed.notify_all();
                if (handler) {
                    handler(*this, request);
                }
                used += length;
            }
            input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(used));
        }
    }
}
