#include "discovery/DiscoveryEngine.h"

#include <arpa/inet.h>

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
    const auto found = m_table.row(row);
    {
        std::lock_guard lock(m_loginMutex);
        m_loginSignalled = false;
        m_loginFrom = found ? LoginFrom{found->source, found->record.address()} : LoginFrom{};
    }
    if (!found || send(buildLogin(userName, password, found->identity)) <= 0) {
        return {};
    }
    return takeLoginAnswer(wait);
}

bool DiscoveryEngine::drainLateLoginAnswer(std::chrono::milliseconds window) {
    return takeLoginAnswer(window).status == LoginStatus::Answered;
}

DiscoveryEngine::LoginOutcome DiscoveryEngine::takeLoginAnswer(std::chrono::milliseconds wait) {
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
    const std::uint32_t from = ntohl(source().sin_addr.s_addr);
    {
        std::lock_guard lock(m_loginMutex);
        // Another recorder's answer, which would otherwise stand for this one's.
        if (from != m_loginFrom.source && from != m_loginFrom.address) {
            return;
        }
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
