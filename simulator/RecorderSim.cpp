#include "simulator/RecorderSim.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace sim {
namespace {

// The tool opens one connection at a time; a few more leave room for a MAC command or a
// second tool, and the cap keeps a runaway client from exhausting descriptors.
constexpr size_t kMostConnections = 64;
constexpr size_t kReadBuffer = 64 * 1024;
// Full reads taken from one connection before the others and the discovery side get their turn.
constexpr int kReadsPerWake = 8;
// Datagrams drained per wake-up, so that a flood cannot starve the TCP side.
constexpr int kDatagramsPerWake = 64;
// Recorders that get a listening socket of their own at their reported loopback address.
constexpr size_t kMostRecorderListeners = 64;

std::string errnoText(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer);
}

sockaddr_in socketAddress(const std::string& address, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    return a;
}

uint16_t boundPort(int fd) {
    sockaddr_in a{};
    socklen_t length = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    return ntohs(a.sin_port);
}

std::string peerText(const sockaddr_in& a) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
}

} // namespace

struct RecorderSim::Connection {
    int fd = -1;
    std::string peer;
    std::unique_ptr<UpgradeConnection> upgrade;
};

RecorderSim::RecorderSim(SimOptions options) : m_options(std::move(options)), m_buffer(kReadBuffer + 1) {}

RecorderSim::~RecorderSim() {
    stop();
}

void RecorderSim::open() {
    if (m_opened)
        return;
    if (m_options.upgradeSide && !::parseIpv4(m_options.tcpAddress))
        throw std::runtime_error("'" + m_options.tcpAddress + "' is not a dotted IPv4 address");
    if (m_options.discoverySide && !::parseIpv4(m_options.udpAddress))
        throw std::runtime_error("'" + m_options.udpAddress + "' is not a dotted IPv4 address");
    m_options.upgrade.user = m_options.discovery.user = m_options.user;
    m_options.upgrade.password = m_options.discovery.password = m_options.password;

    auto failWith = [this](const std::string& text) {
        int error = errno;
        closeSockets();
        throw std::runtime_error(text + ": " + errnoText(error));
    };
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0)
        failWith("cannot create the wake-up event");

    if (m_options.upgradeSide) {
        m_listenFd = listenOn(m_options.tcpAddress, m_options.tcpPort);
        if (m_listenFd < 0)
            failWith("cannot listen for upgrades on " + m_options.tcpAddress + ":" +
                     std::to_string(m_options.tcpPort));
        m_tcpPort = boundPort(m_listenFd);
    }

    if (m_options.discoverySide) {
        if (m_options.deviceAddress) {
            m_options.discovery.address = *m_options.deviceAddress;
        } else if (m_options.upgradeSide && m_options.tcpAddress != "0.0.0.0") {
            m_options.discovery.address = *::parseIpv4(m_options.tcpAddress);
        } else {
            m_options.discovery.address = 0x7F000001;
        }
        m_options.discovery.port = m_options.devicePort    ? *m_options.devicePort
                                   : m_options.upgradeSide ? m_tcpPort
                                                           : 37777;
        const unsigned lastPort =
            m_options.discovery.port + (m_options.discovery.sameAddress ? 0 : m_options.discovery.count - 1);
        if (lastPort > 65535) {
            closeSockets();
            throw std::runtime_error("recorder " + std::to_string(m_options.discovery.count) +
                                     " would report port " + std::to_string(lastPort) + ", beyond 65535");
        }
        std::string where = m_options.udpAddress + ":" + std::to_string(m_options.udpPort);
        m_udpFd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (m_udpFd < 0)
            failWith("cannot create the discovery socket");
        sockaddr_in a = socketAddress(m_options.udpAddress, m_options.udpPort);
        if (bind(m_udpFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            failWith("cannot receive discovery requests on " + where);
        m_udpPort = boundPort(m_udpFd);
        m_responder = std::make_unique<DiscoveryResponder>(m_options.discovery);
        update([&](SimState& s) { s.devices = m_responder->devices(); });
        if (m_options.upgradeSide)
            listenForEachRecorder();
    }
    m_opened = true;
}

int RecorderSim::listenOn(const std::string& address, uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // Set before listen so that accepted connections inherit it and the window is negotiated
    // small from the first byte.
    bool buffered =
        m_options.receiveBuffer <= 0 ||
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &m_options.receiveBuffer, sizeof m_options.receiveBuffer) == 0;
    sockaddr_in a = socketAddress(address, port);
    if (!buffered || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 16) != 0) {
        int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

void RecorderSim::listenForEachRecorder() {
    // A recorder found by a search should also take an upgrade at the address and port it
    // reported, as a real one does. Loopback addresses can all be served from this machine;
    // any other address belongs to someone else and is left alone.
    uint32_t mainAddress = *::parseIpv4(m_options.tcpAddress);
    const auto& devices = m_responder->devices();
    for (size_t i = 0; i < devices.size() && i < kMostRecorderListeners; ++i) {
        uint32_t address = devices[i].record.address();
        uint16_t port = devices[i].record.port();
        bool servedAlready = (port == m_tcpPort && (address == mainAddress || mainAddress == 0)) ||
                             (i > 0 && m_options.discovery.sameAddress);
        if (address >> 24 != 127 || servedAlready)
            continue;
        std::string where = formatIpv4(address) + ":" + std::to_string(port);
        int fd = listenOn(formatIpv4(address), port);
        if (fd < 0) {
            fault("recorder " + std::to_string(i + 1) + " cannot take upgrades on " + where + ": " +
                  errnoText(errno));
            continue;
        }
        m_recorderListeners.push_back(fd);
    }
}

void RecorderSim::start() {
    open();
    if (m_thread.joinable())
        return;
    m_thread = std::thread([this] { run(); });
}

std::string RecorderSim::readyLine() const {
    std::string line = "recorder-sim ready tcp=";
    line += m_options.upgradeSide ? m_options.tcpAddress + ":" + std::to_string(m_tcpPort) : "off";
    line += " udp=";
    line += m_options.discoverySide ? m_options.udpAddress + ":" + std::to_string(m_udpPort) : "off";
    line += " recorders=" + std::to_string(m_options.discovery.count);
    return line;
}

namespace {

// The first descriptors of each round's poll, before the recorders' own listeners and the
// connections.
enum PollSlot : size_t { kWakeSlot, kStopSlot, kListenSlot, kUdpSlot, kFixedSlots };

} // namespace

void RecorderSim::run(int stopFd) {
    if (!m_opened)
        throw std::logic_error("RecorderSim::run before open");
    {
        std::lock_guard lock(m_mutex);
        m_running = true;
    }
    std::vector<pollfd> fds;
    while (!m_stopping.load()) {
        Clock::time_point now = Clock::now();
        const std::optional<Clock::time_point> next = tendConnections(now);
        int timeout = -1;
        if (next) {
            auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now).count();
            timeout = int(std::clamp<long long>(wait, 0, 60000));
        }
        const size_t firstConnection = fillPollSet(fds, stopFd, now);
        int ready = poll(fds.data(), fds.size(), timeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            fault("poll failed: " + errnoText(errno));
            break;
        }
        if (fds[kWakeSlot].revents || fds[kStopSlot].revents)
            break;
        if (fds[kUdpSlot].revents)
            readDatagrams();
        // Connections accepted now are appended to m_connections after those polled, and are
        // served from the next round on.
        size_t served = fds.size() - firstConnection;
        for (size_t i = kListenSlot; i < firstConnection; ++i)
            if (i != kUdpSlot && fds[i].revents)
                acceptConnections(fds[i].fd);
        now = Clock::now();
        for (size_t i = 0; i < served; ++i)
            if (fds[firstConnection + i].revents)
                serveConnection(*m_connections[i], fds[firstConnection + i].revents, now);
    }
    for (auto& c : m_connections)
        if (c->fd >= 0)
            closeConnection(*c, "the simulator stopped");
    m_connections.clear();
    {
        std::lock_guard lock(m_mutex);
        m_running = false;
    }
    m_changed.notify_all();
}

std::optional<Clock::time_point> RecorderSim::tendConnections(Clock::time_point now) {
    std::optional<Clock::time_point> next;
    for (auto& c : m_connections) {
        if (c->fd < 0)
            continue;
        c->upgrade->onTime(now);
        flush(*c);
        if (c->fd >= 0 && c->upgrade->closeWanted())
            closeConnection(*c, "closed by the recorder");
        if (c->fd >= 0)
            if (auto d = c->upgrade->nextDeadline(); d && (!next || *d < *next))
                next = d;
    }
    std::erase_if(m_connections, [](const auto& c) { return c->fd < 0; });
    return next;
}

size_t RecorderSim::fillPollSet(std::vector<pollfd>& fds, int stopFd, Clock::time_point now) const {
    fds.assign(kFixedSlots, pollfd{});
    fds[kWakeSlot] = {m_wakeFd, POLLIN, 0};
    fds[kStopSlot] = {stopFd, POLLIN, 0}; // a negative descriptor is skipped by poll
    fds[kListenSlot] = {m_listenFd, POLLIN, 0};
    fds[kUdpSlot] = {m_udpFd, POLLIN, 0};
    for (int fd : m_recorderListeners)
        fds.push_back({fd, POLLIN, 0});
    const size_t firstConnection = fds.size();
    for (auto& c : m_connections) {
        short events = c->upgrade->wantsRead(now) ? POLLIN : 0;
        if (!c->upgrade->output().empty())
            events |= POLLOUT;
        fds.push_back({c->fd, events, 0});
    }
    return firstConnection;
}

void RecorderSim::stop() {
    m_stopping.store(true);
    if (m_wakeFd >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(m_wakeFd, &one, sizeof one);
    }
    if (m_thread.joinable())
        m_thread.join();
    // run() may be serving on a thread of the caller's; its sockets are closed only once it
    // has left them, or poll() would be handed numbers that could already name other files.
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_running; });
    }
    closeSockets();
}

void RecorderSim::closeSockets() {
    for (int* fd : {&m_listenFd, &m_udpFd, &m_wakeFd})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    for (int fd : m_recorderListeners)
        ::close(fd);
    m_recorderListeners.clear();
}

void RecorderSim::acceptConnections(int listenFd) {
    for (;;) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        int fd = accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED)
                fault("cannot accept a connection: " + errnoText(errno));
            return;
        }
        if (m_connections.size() >= kMostConnections) {
            ::close(fd);
            fault("refused a connection from " + peerText(peer) + ": too many open connections");
            continue;
        }
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        c->peer = peerText(peer);
        c->upgrade =
            std::make_unique<UpgradeConnection>(m_options.upgrade, static_cast<UpgradeObserver&>(*this));
        if (m_options.verbose)
            print("connection from " + c->peer);
        m_connections.push_back(std::move(c));
        update([](SimState& s) { ++s.connections; });
    }
}

void RecorderSim::serveConnection(Connection& c, short revents, Clock::time_point now) {
    if (c.upgrade->wantsRead(now) && (revents & (POLLIN | POLLHUP | POLLERR))) {
        // A tool streaming a file refills the socket while a read is handled: a read that came
        // back full is followed by another at once, up to a few, instead of a trip through poll.
        for (int reads = 0;;) {
            ssize_t n = recv(c.fd, m_buffer.data(), kReadBuffer, MSG_DONTWAIT);
            if (n > 0) {
                c.upgrade->receive(std::span<const uint8_t>(m_buffer.data(), size_t(n)), now);
                if (size_t(n) < kReadBuffer || ++reads == kReadsPerWake || c.upgrade->closeWanted())
                    break;
                now = Clock::now();
                if (!c.upgrade->wantsRead(now))
                    break;
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                break;
            std::string why =
                n == 0 ? "the tool closed the connection" : "connection error: " + errnoText(errno);
            // The replies to what came before still go out first.
            if (reads > 0)
                flush(c);
            if (c.fd >= 0)
                closeConnection(c, why);
            return;
        }
    } else if (revents & (POLLHUP | POLLERR)) {
        closeConnection(c, "the connection broke");
        return;
    }
    flush(c);
    if (c.fd >= 0 && c.upgrade->closeWanted())
        closeConnection(c, "closed by the recorder");
}

void RecorderSim::flush(Connection& c) {
    std::vector<uint8_t>& out = c.upgrade->output();
    size_t sent = 0;
    while (sent < out.size()) {
        ssize_t n = send(c.fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        out.erase(out.begin(), out.begin() + ptrdiff_t(sent));
        closeConnection(c, "cannot send: " + errnoText(errno));
        return;
    }
    out.erase(out.begin(), out.begin() + ptrdiff_t(sent));
}

void RecorderSim::closeConnection(Connection& c, const std::string& why) {
    c.upgrade->finish(why);
    ::close(c.fd);
    c.fd = -1;
    if (m_options.verbose)
        print("connection from " + c.peer + " ended: " + why);
}

void RecorderSim::readDatagrams() {
    for (int i = 0; i < kDatagramsPerWake; ++i) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        ssize_t n = recvfrom(m_udpFd, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT | MSG_TRUNC,
                             reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                fault("cannot receive a datagram: " + errnoText(errno));
            return;
        }
        if (size_t(n) > m_buffer.size()) {
            fault("datagram of " + std::to_string(n) + " bytes from " + peerText(from) + " is too long");
            continue;
        }
        auto replies =
            m_responder->handle(ByteView(m_buffer.data(), size_t(n)), static_cast<DiscoveryObserver&>(*this));
        // Published before the answer goes: whoever hears "modified" must find the new address in
        // the state.
        update([&](SimState& s) { s.devices = m_responder->devices(); });
        for (const auto& r : replies)
            if (sendto(m_udpFd, r.data(), r.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&from),
                       length) < 0)
                fault("cannot answer " + peerText(from) + ": " + errnoText(errno));
    }
}

void RecorderSim::print(const std::string& line) {
    if (m_options.print)
        m_options.print(line);
}

template <typename F> void RecorderSim::update(F&& change) {
    {
        std::lock_guard lock(m_mutex);
        change(m_state);
    }
    m_changed.notify_all();
}

SimState RecorderSim::state() const {
    std::lock_guard lock(m_mutex);
    return m_state;
}

bool RecorderSim::waitFor(const std::function<bool(const SimState&)>& predicate,
                          std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return predicate(m_state); });
}

void RecorderSim::loginAttempt(const std::string& user, const std::string& password, bool accepted) {
    if (m_options.verbose)
        print("login as \"" + user + "\" " + (accepted ? "accepted" : "refused"));
    update([&](SimState& s) { s.logins.push_back({user, password, accepted}); });
}

void RecorderSim::macValue(uint32_t value) {
    if (m_options.verbose)
        print("MAC value " + std::to_string(value));
    update([&](SimState& s) { s.macValues.push_back(value); });
}

void RecorderSim::upgradeEnded(UpgradeRecord upgrade) {
    print(summaryLine(upgrade));
    update([&](SimState& s) { s.upgrades.push_back(std::move(upgrade)); });
}

void RecorderSim::fault(const std::string& text) {
    if (m_options.verbose)
        print("fault: " + text);
    update([&](SimState& s) { s.faults.push_back(text); });
}

unsigned RecorderSim::nextUpgradeNumber() {
    return ++m_upgradeCount;
}

void RecorderSim::searchHeard() {
    if (m_options.verbose)
        print("search request");
    update([](SimState& s) { ++s.searches; });
}

void RecorderSim::discoveryLogin(unsigned device, const std::string& user, const std::string& password,
                                 uint8_t result, uint8_t reason) {
    if (m_options.verbose)
        print("recorder " + std::to_string(device + 1) + ": login as \"" + user + "\" answered " +
              std::to_string(result) + " reason " + std::to_string(reason));
    update([&](SimState& s) { s.discoveryLogins.push_back({device, user, password, result, reason}); });
}

void RecorderSim::modifyIp(unsigned device, uint32_t address, uint32_t mask, uint32_t gateway,
                           uint8_t result) {
    if (m_options.verbose)
        print("recorder " + std::to_string(device + 1) + ": modify IP to " + formatIpv4(address) + " mask " +
              formatIpv4(mask) + " gateway " + formatIpv4(gateway) + " answered " + std::to_string(result));
    update([&](SimState& s) { s.modifies.push_back({device, address, mask, gateway, result}); });
}

} // namespace sim
