// Discovery engine under load, on loopback only.
//
// 1. Burst: 2,000 distinct recorders answer one search at once from another thread. Every one
//    must end up in the table. Baseline: a bare socket receiving the same burst, once with the
//    kernel's default receive queue and once with the queue the engine asks for.
// 2. Table: the time to add 10,000 rows, each checked for a duplicate (same address, port and
//    identity) by a hash lookup. The rows are a site fresh from the factory: one address and
//    port, a MAC of their own each. Baseline: appending the same rows with no duplicate check.
// 3. Interfaces: what a broadcast send reads before it sends (the interface list and the routing
//    table's choice for 255.255.255.255). Baseline: one 32-byte datagram sent on loopback.
#include "discovery/DiscoveryEngine.h"
#include "discovery/DiscoveryProtocol.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;
constexpr int kRecorders = 2000;
constexpr int kTableRows = 10000;
constexpr int kRuns = 5;

[[noreturn]] void fail(const char* what) {
    std::perror(what);
    std::exit(1);
}

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(kLoopback);
    addr.sin_port = htons(port);
    return addr;
}

// A UDP socket bound to 127.0.0.1 on a free port; queueRequest 0 keeps the kernel default.
int boundSocket(std::uint16_t& port, int queueRequest = 0) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fail("socket");
    }
    if (queueRequest > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &queueRequest, sizeof queueRequest);
    }
    sockaddr_in addr = loopback(0);
    socklen_t length = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        fail("bind");
    }
    port = ntohs(addr.sin_port);
    return fd;
}

int queueSize(int fd) {
    int size = 0;
    socklen_t length = sizeof size;
    ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &length);
    return size;
}

DeviceNetRecord recorderRecord(int i) {
    DeviceNetRecord record;
    record.setAddress(0x0A000000u + std::uint32_t(i) + 1); // 10.0.x.y, only ever inside datagrams
    record.setMask(0xFF000000u);
    record.setGateway(0x0A000001u);
    record.setPort(37777);
    return record;
}

std::vector<Datagram> burstReplies() {
    std::vector<Datagram> replies;
    for (int i = 0; i < kRecorders; ++i) {
        char mac[18];
        std::snprintf(mac, sizeof mac, "00:12:34:56:%02X:%02X", (i >> 8) & 0xFF, i & 0xFF);
        replies.push_back(buildSearchReply(recorderRecord(i), DeviceIdentity::fromText(mac)));
    }
    return replies;
}

void sendAll(int fd, std::uint16_t port, const std::vector<Datagram>& replies) {
    const sockaddr_in to = loopback(port);
    for (const Datagram& reply : replies) {
        ::sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
}

struct BurstResult {
    int arrived = 0;
    int queue = 0;
    double ms = 0; // first reply sent to last one handled
};

// How long a receiver waits, once the sender is done, before it counts the rest as lost.
constexpr auto kSettle = 300ms;

// Baseline: a bare socket that only counts the datagrams it receives.
BurstResult bareBurst(const std::vector<Datagram>& replies, int queueRequest) {
    std::uint16_t receiverPort = 0;
    std::uint16_t senderPort = 0;
    const int receiver = boundSocket(receiverPort, queueRequest);
    const int sender = boundSocket(senderPort);
    BurstResult result;
    result.queue = queueSize(receiver);

    const auto start = Clock::now();
    std::thread burst([&] { sendAll(sender, receiverPort, replies); });
    std::vector<std::uint8_t> buffer(BroadcastSocket::kReceiveBufferSize);
    auto last = start;
    pollfd fd{receiver, POLLIN, 0};
    while (result.arrived < int(replies.size()) &&
           ::poll(&fd, 1, int(std::chrono::duration_cast<std::chrono::milliseconds>(kSettle).count())) > 0) {
        if (::recv(receiver, buffer.data(), buffer.size(), 0) >= 0) {
            ++result.arrived;
            last = Clock::now();
        }
    }
    burst.join();
    result.ms = std::chrono::duration<double, std::milli>(last - start).count();
    ::close(sender);
    ::close(receiver);
    return result;
}

class CountingListener : public DiscoveryListener {
public:
    void deviceAdded(const DeviceAddedNotice&) override {
        std::lock_guard lock(m_mutex);
        ++m_devices;
        m_last = Clock::now();
    }
    void statusText(const std::string&) override {}

    int devices() {
        std::lock_guard lock(m_mutex);
        return m_devices;
    }
    Clock::time_point last() {
        std::lock_guard lock(m_mutex);
        return m_last;
    }

private:
    std::mutex m_mutex;
    int m_devices = 0;
    Clock::time_point m_last{};
};

// The engine searches; a recorder thread answers with the whole burst the moment the search
// arrives.
BurstResult engineBurst(const std::vector<Datagram>& replies, int& rows) {
    std::uint16_t senderPort = 0;
    const int sender = boundSocket(senderPort);
    CountingListener listener;
    DiscoveryEngine engine(&listener, DiscoveryEngineConfig{kLoopback, senderPort, 0, 10s});

    std::atomic<bool> answered{false};
    Clock::time_point start{};
    std::thread recorders([&] {
        std::vector<std::uint8_t> buffer(64);
        pollfd fd{sender, POLLIN, 0};
        if (::poll(&fd, 1, 10000) <= 0) {
            return;
        }
        sockaddr_in from{};
        socklen_t length = sizeof from;
        if (::recvfrom(sender, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length) <
            0) {
            return;
        }
        start = Clock::now();
        sendAll(sender, ntohs(from.sin_port), replies);
        answered.store(true);
    });
    if (engine.start() != 1) {
        fail("engine open");
    }
    // Waits until the table is full, or nothing more has arrived for a while after the burst.
    std::uint64_t seen = 0;
    auto quietSince = Clock::now();
    while (engine.rowCount() < replies.size() || listener.devices() < int(replies.size())) {
        std::this_thread::sleep_for(1ms);
        const std::uint64_t now = engine.datagramsReceived();
        if (now != seen) {
            seen = now;
            quietSince = Clock::now();
        } else if (answered.load() && Clock::now() - quietSince > kSettle) {
            break;
        }
    }
    recorders.join();
    BurstResult result;
    result.queue = engine.receiveQueueSize();
    rows = int(engine.rowCount());
    result.arrived = listener.devices();
    result.ms = std::chrono::duration<double, std::milli>(listener.last() - start).count();
    engine.close();
    ::close(sender);
    return result;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void burstBenchmark() {
    const std::vector<Datagram> replies = burstReplies();
    std::printf("burst: %d recorders answer one search, %zu-byte replies, %d runs each\n", kRecorders,
                replies.front().size(), kRuns);

    int defaultQueue = 0;
    int defaultWorst = kRecorders;
    for (int run = 0; run < kRuns; ++run) {
        const BurstResult bare = bareBurst(replies, 0);
        defaultQueue = bare.queue;
        defaultWorst = std::min(defaultWorst, bare.arrived);
    }
    std::printf("  bare socket, default queue (%d bytes):   worst run %d of %d arrived\n", defaultQueue,
                defaultWorst, kRecorders);

    std::vector<double> bareTimes;
    int bareQueue = 0;
    int bareWorst = kRecorders;
    for (int run = 0; run < kRuns; ++run) {
        const BurstResult bare = bareBurst(replies, BroadcastSocket::kReceiveQueueRequest);
        bareQueue = bare.queue;
        bareWorst = std::min(bareWorst, bare.arrived);
        bareTimes.push_back(bare.ms);
    }
    std::printf("  bare socket, raised queue (%d bytes):   worst run %d of %d arrived, median %.2f ms\n",
                bareQueue, bareWorst, kRecorders, median(bareTimes));

    std::vector<double> engineTimes;
    int engineQueue = 0;
    int engineWorst = kRecorders;
    int rowsWorst = kRecorders;
    for (int run = 0; run < kRuns; ++run) {
        int rows = 0;
        const BurstResult engine = engineBurst(replies, rows);
        engineQueue = engine.queue;
        engineWorst = std::min(engineWorst, engine.arrived);
        rowsWorst = std::min(rowsWorst, rows);
        engineTimes.push_back(engine.ms);
    }
    std::printf("  engine (asked %d, effective %d bytes): worst run %d rows in the table, %d notified, "
                "median %.2f ms to the last notification\n",
                BroadcastSocket::kReceiveQueueRequest, engineQueue, rowsWorst, engineWorst,
                median(engineTimes));
    std::printf("  ratio engine / bare socket (raised queue): %.2f\n",
                median(engineTimes) / median(bareTimes));
    std::printf("  every recorder in the table: %s\n", rowsWorst == kRecorders ? "yes" : "NO");
}

void tableBenchmark() {
    const DeviceNetRecord record = recorderRecord(0);
    std::vector<DeviceIdentity> identities;
    for (int i = 0; i < kTableRows; ++i) {
        char mac[24];
        std::snprintf(mac, sizeof mac, "00:12:34:%02X:%02X:%02X", (i >> 16) & 0xFF, (i >> 8) & 0xFF,
                      i & 0xFF);
        identities.push_back(DeviceIdentity::fromText(mac));
    }

    // Many short runs, the two kinds taking turns, so that a busy machine weighs on both alike.
    constexpr int kTableRuns = 31;
    std::vector<double> tableTimes;
    std::vector<double> plainTimes;
    const auto fillTable = [&] {
        DeviceTable table;
        const auto start = Clock::now();
        for (const DeviceIdentity& identity : identities) {
            if (!table.add(record, identity)) {
                fail("unexpected duplicate");
            }
        }
        tableTimes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (table.size() != identities.size() || table.add(record, identities.back())) {
            fail("row count");
        }
    };
    const auto fillPlain = [&] {
        std::vector<DeviceRow> plain;
        const auto start = Clock::now();
        for (const DeviceIdentity& identity : identities) {
            plain.push_back(DeviceRow{record.address(), record.port(), record, identity});
        }
        plainTimes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    };
    for (int run = 0; run < kTableRuns; ++run) {
        // Each goes first in turn: the first after a free finds the allocator in another state.
        if (run % 2 == 0) {
            fillTable();
            fillPlain();
        } else {
            fillPlain();
            fillTable();
        }
    }
    const double ratio = median(tableTimes) / median(plainTimes);
    const double fastest = *std::min_element(tableTimes.begin(), tableTimes.end()) /
                           *std::min_element(plainTimes.begin(), plainTimes.end());
    std::printf("table: %d rows on one address, each with its own identity, added with the hash duplicate "
                "check: median %.2f ms\n",
                kTableRows, median(tableTimes));
    std::printf(
        "  baseline, appended without a check: median %.2f ms; ratio %.2f (at most 1.5: %s); ratio of "
        "the fastest runs %.2f\n",
        median(plainTimes), ratio, ratio <= 1.5 ? "yes" : "NO", fastest);
}

void interfaceBenchmark() {
    constexpr int kLookups = 2000;
    std::uint16_t port = 0;
    const int receiver = boundSocket(port, BroadcastSocket::kReceiveQueueRequest);
    const int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = loopback(port);
    const Datagram search = buildSearch();
    std::vector<double> lookupTimes;
    std::vector<double> sendTimes;
    std::size_t interfaces = 0;
    for (int run = 0; run < kRuns; ++run) {
        auto start = Clock::now();
        for (int i = 0; i < kLookups; ++i) {
            interfaces = broadcastInterfaces().size();
            [[maybe_unused]] const auto source = limitedBroadcastSource();
        }
        lookupTimes.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count() /
                              kLookups);

        start = Clock::now();
        for (int i = 0; i < kLookups; ++i) {
            if (::sendto(sender, search.data(), search.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                         sizeof to) < 0) {
                fail("sendto");
            }
        }
        sendTimes.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count() /
                            kLookups);
        // Empties the receiver's queue so that later runs do not fill it.
        std::vector<std::uint8_t> buffer(64);
        while (::recv(receiver, buffer.data(), buffer.size(), MSG_DONTWAIT) >= 0) {
        }
    }
    ::close(sender);
    ::close(receiver);
    std::printf("interfaces: reading the interface list (%zu here) and the broadcast route: median %.1f us "
                "per send\n",
                interfaces, median(lookupTimes));
    std::printf("  baseline, one search datagram sent on loopback: median %.1f us; ratio %.1f\n",
                median(sendTimes), median(lookupTimes) / median(sendTimes));
}

} // namespace

int main() {
    burstBenchmark();
    tableBenchmark();
    interfaceBenchmark();
    return 0;
}
