// How fast the session streams an upgrade, next to the fastest the same bytes can go.
//
//   session     a 256 MB BIOS upgrade through CUpgradeSession (worker, 1024-byte chunks read from
//               the file, the socket object's Send) to the in-process simulated recorder on
//               loopback, timed from the button press to the end packet;
//   plain loop  the same 1056-byte data packets, prepared in memory, through a plain blocking
//               send() loop to a loopback reader that only drains them;
//   plain->sim  that loop into the simulated recorder instead, which parses and checks every
//               packet like it does for the session (so the difference to the session is the
//               session's own cost).
//
// Each is run several times, interleaved, and the best time of each counts. Prints the figures
// and the ratio of the session's throughput to the plain loop's (target: at least 0.7), and the
// CPU time of the sending thread in each (the worker for the session), which a busy machine
// disturbs less than the wall-clock times.
#include "simulator/RecorderSim.h"
#include "upgrade/UpgradeIds.h"
#include "upgrade/UpgradeProtocol.h"
#include "upgrade/UpgradeSession.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kFileSize = 256u * 1024 * 1024;
constexpr int kRounds = 5;

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct Timing {
    double seconds = 0;
    double cpuSeconds = 0; // of the sending thread
};

// A window that shows nothing: it answers the login dialog and notes when the file is sent.
class BenchView final : public CUpgradeView {
public:
    void SetControlText(int id, const std::string& text) override {
        if (id == IDC_STATUS && text == kFileSentStatus) {
            // Called on the worker, which was started for this upgrade: its CPU clock is the
            // cost of streaming the file.
            const double cpu = ThreadCpuSeconds();
            std::lock_guard lock(m_lock);
            sentAt = Clock::now();
            workerCpu = cpu;
        }
    }
    void EnableControl(int, bool) override {}
    void SetProgress(int) override { ++progressCalls; }
    bool TakeForm(UpgradeForm& form) override {
        form = boxes;
        return true;
    }
    void RefreshForm(const UpgradeForm& form) override { boxes = form; }
    int MessageBox(const std::string& text, const std::string& caption, MessageIcon) override {
        std::lock_guard lock(m_lock);
        messages.push_back(caption + ": " + text);
        return IDOK;
    }
    bool AskOpenFiles(std::vector<std::string>& paths) override {
        paths = files;
        return true;
    }
    int RunLoginDialog(const LoginHandler& onOk) override {
        onOk("admin", "admin");
        std::unique_lock lock(m_lock);
        return m_ended.wait_for(lock, 10s, [this] { return m_loginEnded; }) ? IDOK : IDCANCEL;
    }
    void EndLoginDialog() override {
        std::lock_guard lock(m_lock);
        m_loginEnded = true;
        m_ended.notify_all();
    }
    void RequestClose() override {}
    void UpgradeEnded(const UpgradeResult&) override {}

    UpgradeForm boxes;
    std::vector<std::string> files;
    std::atomic<long> progressCalls{0};
    std::mutex m_lock;
    Clock::time_point sentAt;
    double workerCpu = 0;
    std::vector<std::string> messages;

private:
    std::condition_variable m_ended;
    bool m_loginEnded = false;
};

sim::SimOptions SimOptionsForBench() {
    sim::SimOptions options;
    options.tcpPort = 0;
    options.discoverySide = false;
    options.upgrade.keepData = false;
    options.upgrade.verdict = sim::Verdict::Right;
    options.upgrade.settle = 50ms;
    return options;
}

Timing SessionRun(const std::string& path) {
    sim::RecorderSim sim(SimOptionsForBench());
    sim.start();
    BenchView view;
    view.boxes.m_strIP = "127.0.0.1";
    view.boxes.m_nPort = sim.tcpPort();
    view.files = {path};
    Timing timing;
    {
        CUpgradeSession session(view);
        session.OnLoginButton();
        session.ChooseFiles();
        const auto start = Clock::now();
        session.OnUpgradeButton(IDC_BIOS);
        if (!session.WaitUntilIdle(600s)) {
            std::fprintf(stderr, "session did not finish\n");
            std::exit(1);
        }
        std::lock_guard lock(view.m_lock);
        timing.seconds = std::chrono::duration<double>(view.sentAt - start).count();
        timing.cpuSeconds = view.workerCpu;
        if (view.messages.empty() || view.messages[0].find("success") == std::string::npos) {
            std::fprintf(stderr, "session upgrade failed: %s\n",
                         view.messages.empty() ? "no verdict" : view.messages[0].c_str());
            std::exit(1);
        }
    }
    sim.waitFor([](const sim::SimState& s) { return !s.upgrades.empty(); }, 10s);
    const auto state = sim.state();
    if (state.upgrades.empty() || state.upgrades[0].files.empty() ||
        state.upgrades[0].files[0].size != kFileSize || !state.upgrades[0].problem.empty()) {
        std::fprintf(stderr, "the simulated recorder did not get the whole file\n");
        std::exit(1);
    }
    return timing;
}

int ConnectTo(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    return fd;
}

bool SendAll(int fd, const uint8_t* data, size_t length) {
    while (length > 0) {
        const ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// The file's data packets, built once in memory: the loop measures sending alone.
std::vector<std::vector<uint8_t>> Packets(const std::vector<uint8_t>& file) {
    std::vector<std::vector<uint8_t>> packets;
    for (size_t off = 0, chunk = 0; off < file.size(); off += kMaxDataPayload, ++chunk) {
        const size_t n = std::min<size_t>(kMaxDataPayload, file.size() - off);
        packets.push_back(
            BuildDataPacket(static_cast<uint32_t>(chunk), file.data() + off, static_cast<uint32_t>(n)));
    }
    return packets;
}

Timing PlainLoopToReader(const std::vector<std::vector<uint8_t>>& packets) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    size_t total = 0;
    for (const auto& p : packets) {
        total += p.size();
    }
    std::thread reader([listener, total] {
        const int fd = ::accept(listener, nullptr, nullptr);
        std::vector<uint8_t> buffer(64 * 1024);
        size_t got = 0;
        while (got < total) {
            const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) {
                break;
            }
            got += static_cast<size_t>(n);
        }
        ::close(fd);
    });
    const int fd = ConnectTo(ntohs(address.sin_port));
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuSeconds();
    for (const auto& p : packets) {
        SendAll(fd, p.data(), p.size());
    }
    const double cpu = ThreadCpuSeconds() - cpuStart;
    ::shutdown(fd, SHUT_WR);
    reader.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(fd);
    ::close(listener);
    return {seconds, cpu};
}

Timing PlainLoopToSim(const std::vector<std::vector<uint8_t>>& packets) {
    sim::RecorderSim sim(SimOptionsForBench());
    sim.start();
    const int fd = ConnectTo(sim.tcpPort());
    const Packet32 login = BuildLoginRequest("admin", "admin");
    const Packet32 start = BuildStartPacket(KIND_BIOS, kFileSize);
    const Packet32 end = BuildEndPacket(KIND_BIOS);
    SendAll(fd, login.data(), login.size());
    SendAll(fd, start.data(), start.size());
    const auto begin = Clock::now();
    const double cpuStart = ThreadCpuSeconds();
    for (const auto& p : packets) {
        SendAll(fd, p.data(), p.size());
    }
    SendAll(fd, end.data(), end.size());
    const double cpu = ThreadCpuSeconds() - cpuStart;
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    sim.waitFor([](const sim::SimState& s) { return !s.upgrades.empty(); }, 60s);
    ::close(fd);
    sim.stop();
    return {seconds, cpu};
}

} // namespace

int main() {
    char pattern[] = "/tmp/bench-session-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = pattern;
    const std::string path = dir + "/fw.bin";
    std::vector<uint8_t> file(kFileSize);
    uint32_t x = 2463534242u;
    for (auto& b : file) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    file[0] = 'M';
    file[1] = 'Z';
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    const auto packets = Packets(file);
    file.clear();
    file.shrink_to_fit();

    Timing bestSession{1e9, 1e9}, bestPlain{1e9, 1e9}, bestPlainSim{1e9, 1e9};
    auto keepBest = [](Timing& best, const Timing& t) {
        best.seconds = std::min(best.seconds, t.seconds);
        best.cpuSeconds = std::min(best.cpuSeconds, t.cpuSeconds);
    };
    for (int round = 0; round < kRounds; ++round) {
        const Timing plain = PlainLoopToReader(packets);
        const Timing session = SessionRun(path);
        const Timing plainSim = PlainLoopToSim(packets);
        std::printf("round %d: plain loop %.3f s (cpu %.3f), session %.3f s (cpu %.3f), plain->sim %.3f s "
                    "(cpu %.3f)\n",
                    round + 1, plain.seconds, plain.cpuSeconds, session.seconds, session.cpuSeconds,
                    plainSim.seconds, plainSim.cpuSeconds);
        keepBest(bestPlain, plain);
        keepBest(bestSession, session);
        keepBest(bestPlainSim, plainSim);
    }
    std::filesystem::remove_all(dir);

    const double mb = static_cast<double>(kFileSize) / (1024.0 * 1024.0);
    std::printf("payload %.0f MB in %zu data packets of up to 1056 bytes; best of %d rounds\n", mb,
                packets.size(), kRounds);
    std::printf("plain send() loop to a reader:     %7.1f MB/s, sender cpu %.2f s\n", mb / bestPlain.seconds,
                bestPlain.cpuSeconds);
    std::printf("plain send() loop to recorder-sim: %7.1f MB/s, sender cpu %.2f s\n",
                mb / bestPlainSim.seconds, bestPlainSim.cpuSeconds);
    std::printf("session to recorder-sim:           %7.1f MB/s, worker cpu %.2f s\n",
                mb / bestSession.seconds, bestSession.cpuSeconds);
    std::printf("ratio session / plain loop: %.2f (target >= 0.7)\n",
                bestPlain.seconds / bestSession.seconds);
    std::printf("ratio session / plain loop to recorder-sim: %.2f\n",
                bestPlainSim.seconds / bestSession.seconds);
    std::printf("sending cpu, plain loop / session worker: %.2f\n",
                bestPlain.cpuSeconds / bestSession.cpuSeconds);
    return 0;
}
