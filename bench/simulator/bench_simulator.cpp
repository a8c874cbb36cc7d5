// How fast the simulated recorder takes in an upgrade, so that benchmarks of the upgrade tool
// run against it measure the tool and not the simulator.
//
// A 64 MiB BIOS file, cut into data packets by the tool's encoders, is streamed over loopback
// to recorder-sim's upgrade side (every packet checked, the file's CRC-32 taken, nothing kept).
// Baseline: the same bytes streamed to a bare socket that only drains them.
#include "simulator/RecorderSim.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kFileSize = 64u << 20;
constexpr int kRuns = 5;

[[noreturn]] void fail(const char* what) {
    std::perror(what);
    std::exit(1);
}

sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

int connectTo(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(port);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        fail("connect");
    return fd;
}

void sendAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n <= 0)
            fail("send");
        at += size_t(n);
    }
}

// Seconds to stream the bytes to a socket whose peer only reads them.
double rawDrain(const std::vector<uint8_t>& stream) {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t length = sizeof a;
    if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener, 1) != 0)
        fail("listen");
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length);
    size_t received = 0;
    std::thread reader([&] {
        int fd = accept(listener, nullptr, nullptr);
        std::vector<uint8_t> buffer(64 * 1024);
        ssize_t n;
        while ((n = recv(fd, buffer.data(), buffer.size(), 0)) > 0)
            received += size_t(n);
        close(fd);
    });
    int fd = connectTo(ntohs(a.sin_port));
    Clock::time_point start = Clock::now();
    sendAll(fd, stream);
    shutdown(fd, SHUT_WR);
    reader.join();
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    close(fd);
    close(listener);
    if (received != stream.size())
        fail("drain");
    return seconds;
}

// Seconds from the first byte to the simulator having checked the whole file.
double simulatorReceive(const std::vector<uint8_t>& stream) {
    sim::SimOptions o;
    o.tcpPort = 0;
    o.discoverySide = false;
    o.upgrade.keepData = false;
    o.upgrade.verdict = sim::Verdict::Silence;
    o.upgrade.settle = 1ms;
    sim::RecorderSim recorder(o);
    recorder.start();
    int fd = connectTo(recorder.tcpPort());
    Packet32 login = BuildLoginRequest("admin", "admin");
    sendAll(fd, std::vector<uint8_t>(login.begin(), login.end()));
    Clock::time_point start = Clock::now();
    sendAll(fd, stream);
    if (!recorder.waitFor([](const sim::SimState& s) { return !s.upgrades.empty(); }, 120s))
        fail("the simulator did not finish");
    double seconds = std::chrono::duration<double>(Clock::now() - start).count() - 0.001;
    sim::SimState s = recorder.state();
    if (s.upgrades[0].files.at(0).size != kFileSize || !s.upgrades[0].problem.empty())
        fail("the simulator received something else");
    close(fd);
    return seconds;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main() {
    std::vector<uint8_t> file(kFileSize);
    uint32_t x = 1;
    for (auto& b : file)
        b = uint8_t((x = x * 1103515245u + 12345u) >> 16);
    Packet32 start = BuildStartPacket(KIND_BIOS, uint32_t(file.size()));
    std::vector<uint8_t> stream(start.begin(), start.end());
    for (const auto& p : BuildFilePackets(KIND_BIOS, file))
        stream.insert(stream.end(), p.begin(), p.end());

    std::vector<double> raw, simulated;
    for (int i = 0; i < kRuns; ++i) {
        raw.push_back(rawDrain(stream));
        simulated.push_back(simulatorReceive(stream));
    }
    double mb = double(stream.size()) / (1 << 20);
    double rawRate = mb / median(raw), simRate = mb / median(simulated);
    std::printf("upgrade stream of %.0f MiB in %zu-byte packets, median of %d runs\n", mb, size_t(1024 + 32),
                kRuns);
    std::printf("  baseline, bare socket drain:        %8.0f MiB/s\n", rawRate);
    std::printf("  recorder-sim, checked and summed:   %8.0f MiB/s\n", simRate);
    std::printf("  ratio recorder-sim / baseline:      %8.2f\n", simRate / rawRate);
    return 0;
}
