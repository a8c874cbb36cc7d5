#include "discovery/DiscoveryEngine.h"

#include <arpa/inet.h>
#include <cerrno>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <system_error>

namespace {

// Counted rather than a plain flag, so that the first socket destroyed does not clean up under
// another that is still open.
std::atomic<int> g_nWinsockUsers{0};

sockaddr_in endpoint(std::uint32_t address, std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(address);
    addr.sin_port = htons(port);
    return addr;
}

void closeDescriptor(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace

// ---- WinsockSession ----

bool WinsockSession::startup() noexcept {
    g_nWinsockUsers.fetch_add(1);
    return true;
}

void WinsockSession::cleanup() noexcept {
    g_nWinsockUsers.fetch_sub(1);
}

bool WinsockSession::started() noexcept {
    return g_nWinsockUsers.load() > 0;
}

// ---- BroadcastSocket ----

BroadcastSocket::BroadcastSocket(std::uint32_t destinationAddress, std::uint16_t destinationPort,
                                 std::uint16_t boundPort, std::string interfaceName)
    : m_destination(endpoint(destinationAddress, destinationPort)), m_boundPort(boundPort),
      m_interfaceName(std::move(interfaceName)), m_bSessionStarted(WinsockSession::startup()),
      m_receiveBuffer(new std::uint8_t[kReceiveBufferSize]()) {}

BroadcastSocket::~BroadcastSocket() {
    BroadcastSocket::close();
    if (m_bSessionStarted) {
        WinsockSession::cleanup();
    }
}

bool BroadcastSocket::isOpen() const {
    std::lock_guard lock(m_socketMutex);
    return m_socket >= 0;
}

int BroadcastSocket::open() {
    std::lock_guard lock(m_socketMutex);
    if (m_socket >= 0 || !m_bSessionStarted) {
        return -1;
    }
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    m_source = m_destination;

    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    // Best effort: a smaller queue only means that a large burst of replies may lose some.
    const int request = kReceiveQueueRequest;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &request, sizeof request);

    const sockaddr_in local = endpoint(INADDR_ANY, m_boundPort);
    sockaddr_in bound{};
    socklen_t boundLength = sizeof bound;
    int queueSize = 0;
    socklen_t queueSizeLength = sizeof queueSize;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength) != 0 ||
        ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &queueSize, &queueSizeLength) != 0) {
        closeDescriptor(fd);
        return -1;
    }

    m_stopSignal = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_stopSignal < 0) {
        closeDescriptor(fd);
        return -1;
    }
    m_stopRequested.store(false);
    m_localPort.store(ntohs(bound.sin_port));
    m_receiveQueueSize.store(queueSize);
    try {
        m_thread = std::thread([this, fd] { receiveLoop(fd); });
    } catch (const std::system_error&) {
        closeDescriptor(m_stopSignal);
        closeDescriptor(fd);
        m_localPort.store(0);
        m_receiveQueueSize.store(0);
        return -1;
    }
    m_socket = fd;
    return 1;
}

std::optional<BroadcastSocket::Route> BroadcastSocket::route() const {
    const bool limitedBroadcast = m_destination.sin_addr.s_addr == htonl(INADDR_BROADCAST);
    if (!m_interfaceName.empty()) {
        auto only = findInterface(broadcastInterfaces(), m_interfaceName);
        if (!only) {
            return std::nullopt;
        }
        return Route{{std::move(*only)}, false};
    }
    if (!limitedBroadcast) {
        return Route{{}, true};
    }
    Route route{broadcastInterfaces(), true};
    // The routing table's own choice is usually one of those interfaces already: a second copy
    // there would only double every recorder's answer.
    if (const auto source = limitedBroadcastSource()) {
        route.plain = std::ranges::none_of(route.via, [&](const auto& i) { return i.address == *source; });
    }
    return route;
}

namespace {

// One datagram, through `via` with its address as source when given, else as routing decides.
ssize_t sendDatagram(int fd, const std::uint8_t* bytes, std::size_t length, const sockaddr_in& to,
                     const BroadcastInterface* via) {
    iovec part{const_cast<std::uint8_t*>(bytes), length};
    msghdr message{};
    message.msg_name = const_cast<sockaddr_in*>(&to);
    message.msg_namelen = sizeof to;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (via != nullptr) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = int(via->index);
        info.ipi_spec_dst.s_addr = htonl(via->address);
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
    }
    for (;;) {
        const ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (sent >= 0 || errno != EINTR) {
            return sent;
        }
    }
}

} // namespace

int BroadcastSocket::send(const std::uint8_t* bytes, std::size_t length) {
    // Every datagram the engine sends leaves through here. The interfaces are read for every
    // send, since cables, Wi-Fi and virtual adapters come and go while the window is open.
    const auto way = route();
    std::lock_guard lock(m_socketMutex);
    if (m_socket < 0 || !way) {
        return -1;
    }
    ssize_t sent = -1;
    // An interface that refuses (gone down, no buffer) is passed over: one that works is enough.
    for (const BroadcastInterface& via : way->via) {
        sent = std::max(sent, sendDatagram(m_socket, bytes, length, m_destination, &via));
    }
    if (way->plain) {
        sent = std::max(sent, sendDatagram(m_socket, bytes, length, m_destination, nullptr));
    }
    return sent < 0 ? -1 : int(sent);
}

void BroadcastSocket::close() {
    int fd;
    {
        // From here on sends fail; a send in progress finishes first.
        std::lock_guard lock(m_socketMutex);
        fd = m_socket;
        m_socket = -1;
    }
    if (m_thread.joinable()) {
        m_stopRequested.store(true);
        const std::uint64_t one = 1;
        // Writing 1 to an eventfd fails only when its counter is full; the flag above is set anyway.
        [[maybe_unused]] ssize_t written = ::write(m_stopSignal, &one, sizeof one);
        m_thread.join();
    }
    // The descriptors are closed only now that no thread can still be polling them.
    closeDescriptor(m_stopSignal);
    closeDescriptor(fd);
    m_localPort.store(0);
    m_receiveQueueSize.store(0);
}

void BroadcastSocket::onDatagram(const std::uint8_t*, std::size_t) {}

void BroadcastSocket::receiveLoop(int socket) {
    pollfd fds[2] = {{socket, POLLIN, 0}, {m_stopSignal, POLLIN, 0}};
    while (!m_stopRequested.load()) {
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return; // poll() itself failing leaves nothing to wait on
        }
        if (fds[1].revents != 0) {
            return;
        }
        if (fds[0].revents != 0) {
            receiveAvailable(socket);
        }
    }
}

// Takes every datagram already queued, checking for a stop request between them.
void BroadcastSocket::receiveAvailable(int socket) {
    while (!m_stopRequested.load()) {
        socklen_t sourceLength = sizeof m_source;
        // MSG_TRUNC makes the result the datagram's real length, so an oversized one is recognised.
        const ssize_t length =
            ::recvfrom(socket, m_receiveBuffer.get(), kReceiveBufferSize, MSG_DONTWAIT | MSG_TRUNC,
                       reinterpret_cast<sockaddr*>(&m_source), &sourceLength);
        if (length < 0) {
            if (errno == EINTR) {
                continue;
            }
            // EAGAIN: the queue is empty. Any other error is reported once and cleared by this
            // call, so going back to poll() cannot spin.
            return;
        }
        m_datagramsReceived.fetch_add(1);
        if (std::size_t(length) > kReceiveBufferSize) {
            continue;
        }
        onDatagram(m_receiveBuffer.get(), std::size_t(length));
    }
}

bool BroadcastSocket::sourceIsThisSocket() {
    if (ntohs(m_source.sin_port) != m_localPort.load()) {
        return false;
    }
    // No other socket can hold our port on this host, so our port from a local address is us.
    return isLocalAddress(ntohl(m_source.sin_addr.s_addr));
}

bool BroadcastSocket::isLocalAddress(std::uint32_t address) {
    if (address >> 24 == 127) {
        return true;
    }
    if (std::ranges::find(m_localAddresses, address) != m_localAddresses.end()) {
        return true;
    }
    // Addresses come and go (DHCP, cables); re-read them, but not for every datagram.
    const auto now = std::chrono::steady_clock::now();
    if (now - m_localAddressesRead < std::chrono::seconds(1)) {
        return false;
    }
    m_localAddressesRead = now;
    m_localAddresses.clear();
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) == 0) {
        for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
            if (it->ifa_addr != nullptr && it->ifa_addr->sa_family == AF_INET) {
                const auto* in = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
                m_localAddresses.push_back(ntohl(in->sin_addr.s_addr));
            }
        }
        ::freeifaddrs(list);
    }
    return std::ranges::find(m_localAddresses, address) != m_localAddresses.end();
}

// ---- DeviceTable ----

std::size_t DeviceTable::keyHash(std::uint32_t address, std::uint16_t port, const DeviceIdentity& identity) {
    const ByteView bytes = identity.bytes();
    const std::size_t where = std::hash<std::uint64_t>{}(std::uint64_t(address) << 16 | port);
    const std::size_t who = std::hash<std::string_view>{}(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    return where ^ (who + 0x9E3779B97F4A7C15ull + (where << 6) + (where >> 2));
}

std::size_t DeviceTable::slotFor(std::size_t hash, std::uint32_t address, std::uint16_t port,
                                 const DeviceIdentity& identity) const {
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t held = m_slots[slot];
        if (held == 0) {
            return slot;
        }
        const DeviceRow& row = m_rows[held - 1];
        if (m_hashes[held - 1] == hash && row.address == address && row.port == port &&
            row.identity == identity) {
            return slot;
        }
    }
}

void DeviceTable::growSlots() {
    if (m_slots.size() >= 2 * (m_rows.size() + 1)) {
        return;
    }
    m_slots.assign(std::max<std::size_t>(64, m_slots.size() * 2), 0);
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        std::size_t slot = m_hashes[row] & mask;
        while (m_slots[slot] != 0) {
            slot = (slot + 1) & mask;
        }
        m_slots[slot] = std::uint32_t(row + 1);
    }
}

std::optional<DeviceTable::Added> DeviceTable::add(const DeviceNetRecord& record,
                                                   const DeviceIdentity& identity, std::uint32_t source) {
    const std::uint32_t address = record.address();
    const std::uint16_t port = record.port();
    const std::size_t hash = keyHash(address, port, identity);
    std::lock_guard lock(m_mutex);
    growSlots();
    const std::size_t slot = slotFor(hash, address, port, identity);
    if (m_slots[slot] != 0) {
        return std::nullopt;
    }
    m_rows.push_back(DeviceRow{address, port, record, identity, source});
    m_hashes.push_back(hash);
    m_slots[slot] = std::uint32_t(m_rows.size());
    return Added{m_rows.size() - 1, m_generation};
}

std::uint64_t DeviceTable::clear() {
    std::lock_guard lock(m_mutex);
    m_rows.clear();
    m_hashes.clear();
    m_slots.clear();
    return ++m_generation;
}

std::uint64_t DeviceTable::generation() const {
    std::lock_guard lock(m_mutex);
    return m_generation;
}

std::size_t DeviceTable::size() const {
    std::lock_guard lock(m_mutex);
    return m_rows.size();
}

std::optional<DeviceRow> DeviceTable::row(std::size_t index) const {
    std::lock_guard lock(m_mutex);
    if (index >= m_rows.size()) {
        return std::nullopt;
    }
    return m_rows[index];
}

std::optional<DeviceRow> DeviceTable::setAddresses(std::size_t index, std::uint32_t address,
                                                   std::uint32_t mask, std::uint32_t gateway) {
    std::lock_guard lock(m_mutex);
    if (index >= m_rows.size()) {
        return std::nullopt;
    }
    DeviceNetRecord& record = m_rows[index].record;
    record.setAddress(address);
    record.setMask(mask);
    record.setGateway(gateway);
    return m_rows[index];
}

// ---- DiscoveryEngine::Notifier ----

// Hands notifications from the receive thread to the listener on a thread of its own, so that
// the receive thread only ever appends to a queue.
class DiscoveryEngine::Notifier {
public:
    using Notice = std::variant<DeviceAddedNotice, std::string>;

    Notifier(const DiscoveryEngine& engine, DiscoveryListener* listener)
        : m_engine(engine), m_listener(listener) {}
    ~Notifier() { stop(); }

    void start() {
        std::lock_guard lock(m_mutex);
        if (!m_thread.joinable()) {
            m_bStop = false;
            m_thread = std::thread([this] { run(); });
        }
    }

    // Drops what is pending and waits for a call in progress to return.
    void stop() {
        {
            std::lock_guard lock(m_mutex);
            m_bStop = true;
            m_pending.clear();
        }
        m_wake.notify_all();
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    void post(Notice notice) {
        {
            std::lock_guard lock(m_mutex);
            if (m_bStop) {
                return;
            }
            m_pending.push_back(std::move(notice));
        }
        m_wake.notify_one();
    }

private:
    void run() {
        std::deque<Notice> batch;
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_bStop || !m_pending.empty(); });
                if (m_bStop) {
                    return;
                }
                batch.swap(m_pending);
            }
            for (const Notice& notice : batch) {
                if (stopping()) {
                    return;
                }
                deliver(notice);
            }
            batch.clear();
        }
    }

    bool stopping() {
        std::lock_guard lock(m_mutex);
        return m_bStop;
    }

    void deliver(const Notice& notice) {
        if (m_listener == nullptr) {
            return;
        }
        if (const auto* device = std::get_if<DeviceAddedNotice>(&notice)) {
            // A row from before a refresh no longer exists in the table.
            if (m_engine.isCurrent(device->generation)) {
                m_listener->deviceAdded(*device);
            }
        } else {
            m_listener->statusText(std::get<std::string>(notice));
        }
    }

    const DiscoveryEngine& m_engine;
    DiscoveryListener* const m_listener;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Notice> m_pending;
    bool m_bStop = false;
    std::thread m_thread;
};

// ---- DiscoveryEngine ----

std::optional<std::string_view> DiscoveryEngine::LoginOutcome::text() const {
    switch (status) {
    case LoginStatus::TimedOut:
        return LOGIN_TIMEOUT_TEXT;
    case LoginStatus::Answered:
        return loginResultText(result, reason);
    case LoginStatus::NotSent:
        break;
    }
    return std::nullopt;
}

DiscoveryEngine::DiscoveryEngine(DiscoveryListener* listener, const DiscoveryEngineConfig& config)
    : BroadcastSocket(config.destinationAddress, config.destinationPort, config.boundPort,
                      config.interfaceName),
      m_loginWait(config.loginWait), m_searchRepeats(config.searchRepeats), m_search(buildSearch()),
      m_repeater([this] { send(m_search); }), m_notifier(std::make_unique<Notifier>(*this, listener)) {
    m_notifier->start();
}

DiscoveryEngine::~DiscoveryEngine() {
    // The receive thread calls onDatagram, which uses the table and the parser: it must have
    // ended before they are destroyed, which the base destructor would do too late.
    DiscoveryEngine::close();
}

int DiscoveryEngine::start() {
    {
        std::lock_guard lock(m_loginMutex);
        m_closed = false;
    }
    m_notifier->start();
    const int opened = open();
    search();
    return opened;
}

int DiscoveryEngine::search() {
    m_repeater.cancel();
    const int sent = send(m_search);
    // Repeated even when the first send failed: an interface that is just coming up may carry
    // the next one.
    if (isOpen()) {
        m_repeater.schedule(m_searchRepeats);
    }
    return sent;
}

int DiscoveryEngine::refresh() {
    m_table.clear();
    return search();
}

DiscoveryEngine::LoginOutcome DiscoveryEngine::login(std::size_t row, std::string_view userName,
                                                     std::string_view password) {
    return login(row, userName, password, m_loginWait);
}

DiscoveryEngine::LoginOutcome DiscoveryEngine::login(std::size_t row, std::string_view userName,
                                                     std::string_view password,
                                                     std::chrono::milliseconds wait) {
    {
        std::lock_guard lock(m_loginMutex);
        m_loginSignalled = false;
    }
    const auto found = m_table.row(row);
    if (!found || send(buildLogin(userName, password, found->identity)) <= 0) {
        return {};
    }
    std::unique_lock lock(m_loginMutex);
    if (!m_loginCondition.wait_for(lock, wait, [this] { return m_loginSignalled || m_closed; })) {
        return {LoginStatus::TimedOut};
    }
    if (!m_loginSignalled) {
        return {}; // closed while waiting
    }
    m_loginSignalled = false;
    return {LoginStatus::Answered, m_loginResult, m_loginReason};
}

bool DiscoveryEngine::modifyIp(std::size_t row, std::uint32_t address, std::uint32_t mask,
                               std::uint32_t gateway) {
    const auto updated = m_table.setAddresses(row, address, mask, gateway);
    if (!updated) {
        return false;
    }
    // Awaited from before the send: the answer may come before send() returns.
    {
        std::lock_guard lock(m_modifyMutex);
        m_pendingModify = PendingModify{updated->source, address};
    }
    if (send(buildModifyIp(updated->record, updated->identity)) > 0) {
        return true;
    }
    std::lock_guard lock(m_modifyMutex);
    m_pendingModify.reset();
    return false;
}

void DiscoveryEngine::onModifyResult(int result) {
    const auto text = modifyResultText(result);
    const std::uint32_t from = ntohl(source().sin_addr.s_addr);
    {
        std::lock_guard lock(m_modifyMutex);
        // Another recorder's answer, one to nobody's request, or a second one: not this result.
        if (!m_pendingModify || (from != m_pendingModify->source && from != m_pendingModify->newAddress)) {
            return;
        }
        // A result without a text changes nothing, and a real one may still follow.
        if (!text) {
            return;
        }
        m_pendingModify.reset();
    }
    m_notifier->post(std::string(*text));
}

std::optional<DeviceNetRecord> DiscoveryEngine::rowRecord(std::size_t row) const {
    const auto found = m_table.row(row);
    if (!found) {
        return std::nullopt;
    }
    return found->record;
}

void DiscoveryEngine::close() {
    // The repeater sends through the socket: it ends first.
    m_repeater.stop();
    BroadcastSocket::close();
    m_notifier->stop();
    {
        std::lock_guard lock(m_loginMutex);
        m_closed = true;
    }
    m_loginCondition.notify_all();
}

void DiscoveryEngine::signalLogin(int result, int reason) {
    {
        std::lock_guard lock(m_loginMutex);
        m_loginSignalled = true;
        m_loginResult = result;
        m_loginReason = reason;
    }
    m_loginCondition.notify_all();
}

void DiscoveryEngine::onDatagram(const std::uint8_t* bytes, std::size_t length) {
    // Our own broadcast comes back to us; our own modify-IP request would otherwise read as a
    // reply with result 0 and report success before any recorder had answered.
    if (sourceIsThisSocket()) {
        return;
    }
    DeviceNetRecord record;
    switch (m_parser.parse(bytes, length, record)) {
    case ParseOutcome::DeviceFound: {
        // A recorder that sent no identity gets none rather than the previous recorder's, which
        // would aim its login and modify-IP requests at that other recorder.
        const DeviceIdentity identity =
            m_parser.lastReplyHadIdentity() ? m_parser.identity() : DeviceIdentity();
        const auto added = m_table.add(record, identity, ntohl(source().sin_addr.s_addr));
        if (!added) {
            return;
        }
        m_notifier->post(DeviceAddedNotice{added->generation, added->row, formatIpv4(record.address()),
                                           record.port(), formatIpv4(record.mask()),
                                           formatIpv4(record.gateway()), identity.macText()});
        return;
    }
    case ParseOutcome::LoginAnswered:
        signalLogin(m_parser.loginResult(), m_parser.loginReason());
        return;
    case ParseOutcome::ModifyAnswered:
        onModifyResult(m_parser.modifyResult());
        return;
    case ParseOutcome::None:
        return;
    }
}
