// Streams 256 MB of payload as 1056-byte packets (32-byte header + 1024 bytes) to a reader on
// 127.0.0.1, once through CNetSocket::Send and once through a plain blocking send() loop, and
// prints both rates, the sending thread's CPU time and the ratio. Several rounds alternate the two
// so that both see the same machine; the best round of each is compared.
#include "support/NetSocket.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kPacket = 1056;
constexpr size_t kPayload = 1024;
constexpr size_t kPayloadTotal = size_t{256} << 20;
constexpr size_t kPackets = kPayloadTotal / kPayload;
constexpr size_t kWireTotal = kPackets * kPacket;
constexpr int kRounds = 3;

using Clock = std::chrono::steady_clock;

[[noreturn]] void Die(const char* what) {
    std::perror(what);
    std::exit(1);
}

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct NullOwner final : Zorvik::CNetSocketOwner {
    void OnPacket(Zorvik::CNetSocket*, const uint8_t*, uint32_t) override {}
    void OnDatagram(Zorvik::CNetSocket*, const uint8_t*, uint32_t) override {}
    void OnClose(Zorvik::CNetSocket*) override { closed = true; }
    std::atomic<bool> closed{false};
};

// A listening socket on 127.0.0.1 and a thread that accepts one connection and reads exactly
// kWireTotal bytes from it.
class Reader {
public:
    Reader() {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(m_listen, 1) != 0) {
            Die("listen");
        }
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~Reader() {
        m_thread.join();
        ::close(m_listen);
    }
    int Port() const { return m_port; }
    // Waits until every byte has been read; the time of the last read.
    Clock::time_point Finish() {
        m_thread.join();
        m_thread = std::thread([] {});
        return m_done;
    }

private:
    void Run() {
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            Die("accept");
        }
        std::vector<char> buffer(256 * 1024);
        size_t total = 0;
        while (total < kWireTotal) {
            const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) {
                Die("reader recv");
            }
            total += static_cast<size_t>(n);
        }
        m_done = Clock::now();
        ::close(fd);
    }

    int m_listen = -1;
    int m_port = 0;
    std::thread m_thread;
    Clock::time_point m_done;
};

struct Result {
    double seconds;
    double cpuSeconds; // of the sending thread
};

std::vector<uint8_t> MakePacket() {
    std::vector<uint8_t> p(kPacket, 0xA5);
    std::memset(p.data(), 0, 32);
    p[0] = 0xC7;
    p[4] = 0x00;
    p[5] = 0x04; // payload length 1024
    return p;
}

Result RunNetSocket(const std::vector<uint8_t>& packet) {
    NullOwner owner;
    Zorvik::CNetSocket* socket = nullptr;
    if (!Zorvik::CreateNetSocket(&owner, &socket)) {
        Die("CreateNetSocket");
    }
    Reader reader;
    if (!socket->Connect("127.0.0.1", reader.Port(), 2000)) {
        Die("Connect");
    }
    const double cpu0 = ThreadCpuSeconds();
    const Clock::time_point start = Clock::now();
    for (size_t i = 0; i < kPackets; ++i) {
        if (!socket->Send(packet.data(), static_cast<uint32_t>(packet.size()), 3000)) {
            Die("CNetSocket::Send");
        }
    }
    const double cpu = ThreadCpuSeconds() - cpu0;
    const Clock::time_point end = reader.Finish();
    socket->Disconnect();
    Zorvik::ReleaseNetSocket(socket);
    return {std::chrono::duration<double>(end - start).count(), cpu};
}

Result RunPlain(const std::vector<uint8_t>& packet) {
    Reader reader;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(reader.Port()));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        Die("connect");
    }
    const double cpu0 = ThreadCpuSeconds();
    const Clock::time_point start = Clock::now();
    for (size_t i = 0; i < kPackets; ++i) {
        size_t sent = 0;
        while (sent < packet.size()) {
            const ssize_t n = ::send(fd, packet.data() + sent, packet.size() - sent, MSG_NOSIGNAL);
            if (n < 0) {
                Die("send");
            }
            sent += static_cast<size_t>(n);
        }
    }
    const double cpu = ThreadCpuSeconds() - cpu0;
    const Clock::time_point end = reader.Finish();
    ::close(fd);
    return {std::chrono::duration<double>(end - start).count(), cpu};
}

double MBps(const Result& r) {
    return static_cast<double>(kPayloadTotal) / (1024.0 * 1024.0) / r.seconds;
}

} // namespace

int main() {
    const std::vector<uint8_t> packet = MakePacket();
    Result bestSocket{1e9, 0}, bestPlain{1e9, 0};
    std::printf("%zu packets of %zu bytes (%zu MB of payload) per run\n", kPackets, kPacket,
                kPayloadTotal >> 20);
    for (int round = 1; round <= kRounds; ++round) {
        const Result plain = RunPlain(packet);
        const Result sock = RunNetSocket(packet);
        std::printf("round %d: plain send() %7.1f MB/s (sender CPU %.2f s)   CNetSocket::Send %7.1f MB/s "
                    "(sender CPU %.2f s)\n",
                    round, MBps(plain), plain.cpuSeconds, MBps(sock), sock.cpuSeconds);
        if (plain.seconds < bestPlain.seconds) {
            bestPlain = plain;
        }
        if (sock.seconds < bestSocket.seconds) {
            bestSocket = sock;
        }
    }
    std::printf("best: plain send() %.1f MB/s, CNetSocket::Send %.1f MB/s\n", MBps(bestPlain),
                MBps(bestSocket));
    std::printf("sender CPU per MB: plain %.2f ms, CNetSocket %.2f ms\n",
                1000.0 * bestPlain.cpuSeconds / (kPayloadTotal >> 20),
                1000.0 * bestSocket.cpuSeconds / (kPayloadTotal >> 20));
    std::printf("ratio CNetSocket::Send / plain send(): %.2f (target >= 0.80)\n",
                MBps(bestSocket) / MBps(bestPlain));
    return 0;
}
