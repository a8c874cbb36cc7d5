#pragma once

// The discovery engine: the tool's one UDP endpoint, its receive thread, the table of recorders
// found since the last refresh, and the search, login and modify-IP operations.
//
// Threads: the owner's thread (the window's, or a command-line tool's main thread) calls every
// public operation; the receive thread parses datagrams and updates the table; the notifier
// thread hands deviceAdded and statusText to the listener. The receive thread never waits for
// the listener, so a slow listener cannot hold up a login reply behind a burst of search replies.

#include "discovery/BroadcastInterfaces.h"
#include "discovery/DiscoveryProtocol.h"
#include "discovery/SearchRepeater.h"

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

// Windows needs its socket library started before the first socket and cleaned up after the
// last; Linux needs neither. Each BroadcastSocket still starts it and cleans it up, so that a
// socket's life reads the same everywhere.
class WinsockSession {
public:
    // One more user of the socket library; true when sockets may be used.
    static bool startup() noexcept;
    // One user fewer; the library is cleaned up after the last.
    static void cleanup() noexcept;
    static bool started() noexcept;
};

// One UDP endpoint that sends every datagram to one destination (the limited broadcast address
// unless told otherwise) and receives on its bound port on a thread of its own.
//
// A datagram for the limited broadcast address leaves through every interface that can carry a
// broadcast (see broadcastInterfaces()), each time with that interface's own address as source,
// and once more the way the routing table sends it, unless that way is one of those interfaces.
// Given an interface name, every datagram leaves through that interface alone, whatever its
// destination.
class BroadcastSocket {
public:
    // Largest datagram handed to onDatagram; longer ones are skipped.
    static constexpr std::size_t kReceiveBufferSize = 102400;
    // Kernel receive queue asked for at open(). The default (about 208 KiB) overflows when a few
    // thousand recorders answer one search at once; the kernel caps the request at
    // net.core.rmem_max, and receiveQueueSize() tells what was granted.
    static constexpr int kReceiveQueueRequest = 4 * 1024 * 1024;

    // Ports are host numbers; boundPort 0 binds any free port (see localPort()).
    explicit BroadcastSocket(std::uint32_t destinationAddress = DISCOVERY_BROADCAST_ADDRESS,
                             std::uint16_t destinationPort = DISCOVERY_PORT,
                             std::uint16_t boundPort = DISCOVERY_PORT, std::string interfaceName = {});
    virtual ~BroadcastSocket();
    BroadcastSocket(const BroadcastSocket&) = delete;
    BroadcastSocket& operator=(const BroadcastSocket&) = delete;

    // Creates the socket, allows broadcast, binds the port on all local addresses and starts the
    // receive thread. 1 on success; -1 when already open or when any step fails.
    int open();
    // The datagram to the destination, through each interface as the class comment says; the
    // number of bytes of one datagram when at least one copy left, -1 when none did (an
    // interface that refuses is skipped). Safe from any thread.
    int send(const std::uint8_t* bytes, std::size_t length);
    int send(const Datagram& datagram) { return send(datagram.data(), datagram.size()); }
    // Ends the receive thread (promptly: it is woken, never killed), then releases the socket.
    // onDatagram is not running and will not run once this returns. Idempotent.
    virtual void close();

    bool isOpen() const;
    // The bound port while open, else 0.
    std::uint16_t localPort() const { return m_localPort.load(); }
    // The kernel's receive queue size as it reports it (Linux reports twice the granted
    // request, the other half being its bookkeeping); 0 when not open.
    int receiveQueueSize() const { return m_receiveQueueSize.load(); }
    // Datagrams taken off the socket since construction, the skipped ones included.
    std::uint64_t datagramsReceived() const { return m_datagramsReceived.load(); }

protected:
    // Called on the receive thread for every datagram received. Does nothing here.
    virtual void onDatagram(const std::uint8_t* bytes, std::size_t length);
    // The sender of the datagram being handled. Receive thread only.
    const sockaddr_in& source() const { return m_source; }
    // Whether the datagram being handled came from this very socket: a broadcast comes back to
    // the host that sent it. Receive thread only.
    bool sourceIsThisSocket();

private:
    // The interfaces a datagram leaves through now, and whether it also leaves without a named
    // interface; nullopt when the named interface is not there.
    struct Route {
        std::vector<BroadcastInterface> via;
        bool plain = false;
    };
    std::optional<Route> route() const;
    void receiveLoop(int socket);
    void receiveAvailable(int socket);
    bool isLocalAddress(std::uint32_t address);

    const sockaddr_in m_destination;
    const std::uint16_t m_boundPort;
    const std::string m_interfaceName; // empty: every interface
    const bool m_bSessionStarted;

    // Guards m_socket so that a send from another thread never uses a descriptor being closed.
    mutable std::mutex m_socketMutex;
    int m_socket = -1;
    int m_stopSignal = -1; // eventfd that wakes the receive thread's poll()
    std::atomic<bool> m_stopRequested{false};
    std::thread m_thread;
    std::atomic<std::uint16_t> m_localPort{0};
    std::atomic<int> m_receiveQueueSize{0};
    std::atomic<std::uint64_t> m_datagramsReceived{0};

    // Receive thread only.
    sockaddr_in m_source{};
    std::unique_ptr<std::uint8_t[]> m_receiveBuffer;
    std::vector<std::uint32_t> m_localAddresses;
    std::chrono::steady_clock::time_point m_localAddressesRead{};
};

// A recorder found since the last refresh.
struct DeviceRow {
    std::uint32_t address = 0; // key, as found
    std::uint16_t port = 0;    // key, as found
    DeviceNetRecord record;    // as received, with the last modify-IP values written in
    DeviceIdentity identity;   // the recorder's own identity bytes; empty if it sent none
    std::uint32_t source = 0;  // the address its search reply came from
};

// The recorders found since the last refresh, in the order found, at most one per address, port
// and identity, with a generation that each clear() increases. Every member takes the table's
// mutex.
//
// Recorders fresh from the factory all answer from one address and port; only their identity
// tells them apart, so it is part of the key. The same recorder answering again (the repeated
// searches, a reply heard through two interfaces) has the same key and makes no second row.
class DeviceTable {
public:
    struct Added {
        std::size_t row;
        std::uint64_t generation;
    };

    // Appends a row unless one with the record's address and port and this identity exists (a
    // hash lookup).
    std::optional<Added> add(const DeviceNetRecord& record, const DeviceIdentity& identity,
                             std::uint32_t source = 0);
    // Empties the table and starts the next generation, which it returns.
    std::uint64_t clear();
    std::uint64_t generation() const;
    std::size_t size() const;
    std::optional<DeviceRow> row(std::size_t index) const;
    // Writes address, mask and gateway into the row's record (not its key) and returns the row.
    std::optional<DeviceRow> setAddresses(std::size_t index, std::uint32_t address, std::uint32_t mask,
                                          std::uint32_t gateway);

private:
    // The key's hash; rows whose keys share a hash are told apart by comparing the rows.
    static std::size_t keyHash(std::uint32_t address, std::uint16_t port, const DeviceIdentity& identity);
    // The slot that holds the row with this key, or the empty slot where it belongs.
    std::size_t slotFor(std::size_t hash, std::uint32_t address, std::uint16_t port,
                        const DeviceIdentity& identity) const;
    // Doubles the slots when they are half full, so that probe runs stay short.
    void growSlots();

    mutable std::mutex m_mutex;
    std::vector<DeviceRow> m_rows;
    // Open addressing over the rows: each slot holds a row index + 1, or 0 when empty. A table
    // of thousands of rows is filled on the receive thread during a burst of replies, where a
    // node allocated per row would cost more than the row itself.
    std::vector<std::uint32_t> m_slots;
    std::vector<std::size_t> m_hashes; // of each row's key, for growing the slots
    std::uint64_t m_generation = 0;
};

// A new row of the device table, with its texts ready to show.
struct DeviceAddedNotice {
    std::uint64_t generation = 0; // the table's generation when the row was made
    std::size_t row = 0;          // index in the table, 0 for the first
    std::string addressText;      // dotted decimal
    std::uint16_t port = 0;
    std::string maskText;
    std::string gatewayText;
    std::string macText;
};

// What the engine reports; the window and the command-line tool implement it. Called on the
// engine's notifier thread, one call at a time, in the order the datagrams arrived; never after
// close() has returned. A window hands each call on to its own thread (a queued call) and
// drops a deviceAdded whose generation the engine no longer considers current.
class DiscoveryListener {
public:
    virtual ~DiscoveryListener() = default;
    virtual void deviceAdded(const DeviceAddedNotice& notice) = 0;
    virtual void statusText(const std::string& text) = 0;
};

struct DiscoveryEngineConfig {
    // The first four settings in the order callers have long written them in braces.
    DiscoveryEngineConfig(std::uint32_t destination = DISCOVERY_BROADCAST_ADDRESS,
                          std::uint16_t toPort = DISCOVERY_PORT, std::uint16_t bindPort = DISCOVERY_PORT,
                          std::chrono::milliseconds wait = std::chrono::milliseconds(10000))
        : destinationAddress(destination), destinationPort(toPort), boundPort(bindPort), loginWait(wait) {}

    std::uint32_t destinationAddress;
    std::uint16_t destinationPort;
    std::uint16_t boundPort; // 0: any free port
    std::chrono::milliseconds loginWait;
    // Each search is sent again after these delays, for recorders whose reply was lost.
    std::vector<std::chrono::milliseconds> searchRepeats{std::chrono::milliseconds(300),
                                                         std::chrono::milliseconds(1000)};
    // Send through this interface only; empty: through every one.
    std::string interfaceName;
};

class DiscoveryEngine : public BroadcastSocket {
public:
    enum class LoginStatus {
        NotSent,  // no such row, the send failed, or the engine closed while waiting: show nothing
        TimedOut, // show LOGIN_TIMEOUT_TEXT
        Answered, // result and reason hold the recorder's answer
    };
    struct LoginOutcome {
        LoginStatus status = LoginStatus::NotSent;
        int result = -1;
        int reason = -1;
        // The recorder accepted: go on to the modify-IP step.
        bool accepted() const { return status == LoginStatus::Answered && result == 0; }
        // The text to show, if any.
        std::optional<std::string_view> text() const;
    };

    // The listener may be null; it must outlive the engine or its close().
    explicit DiscoveryEngine(DiscoveryListener* listener, const DiscoveryEngineConfig& config = {});
    ~DiscoveryEngine() override;

    // open(), then search(). The result of open(): 1 or -1.
    int start();
    // Sends the search request at once and again after each of the configured delays, without
    // waiting for them; a search still being repeated is cancelled first. The bytes sent at once,
    // or -1. Replies are added whenever they arrive; a recorder answering twice is listed once.
    int search();
    // Empties the table, starts a new generation, then searches again. The caller empties its
    // own list first.
    int refresh();
    // Repeated searches started so far (for tests).
    unsigned searchRepeatsSent() const { return m_repeater.runs(); }
    // Sends a login request for the row's recorder and waits up to the login wait for the reply.
    // One login at a time.
    LoginOutcome login(std::size_t row, std::string_view userName, std::string_view password);
    // As above, waiting at most `wait` (a caller with a deadline of its own).
    LoginOutcome login(std::size_t row, std::string_view userName, std::string_view password,
                       std::chrono::milliseconds wait);
    // Writes the values into the row's record and sends the modify-IP request; the outcome comes
    // later as a status text. False when there is no such row or the send failed. Only one
    // result counts for the request, and only one that arrives after it was sent from the
    // address the recorder's search reply came from (or from the new address it was given);
    // results from elsewhere, or with no request out, are ignored.
    bool modifyIp(std::size_t row, std::uint32_t address, std::uint32_t mask, std::uint32_t gateway);
    // The row's record as it now stands (address, mask and gateway as last sent).
    std::optional<DeviceNetRecord> rowRecord(std::size_t row) const;
    std::optional<DeviceRow> row(std::size_t index) const { return m_table.row(index); }
    std::size_t rowCount() const { return m_table.size(); }
    std::uint64_t generation() const { return m_table.generation(); }
    // Whether a deviceAdded of this generation still belongs to the list.
    bool isCurrent(std::uint64_t generation) const { return generation == m_table.generation(); }
    // Cancels the repeats of the last search, stops the receive thread, then the notifier
    // (pending notifications are dropped), and
    // wakes a login that is waiting.
    void close() override;

protected:
    void onDatagram(const std::uint8_t* bytes, std::size_t length) override;

private:
    class Notifier;

    void signalLogin(int result, int reason);
    void onModifyResult(int result);

    const std::chrono::milliseconds m_loginWait;
    const std::vector<std::chrono::milliseconds> m_searchRepeats;
    const Datagram m_search;
    SearchRepeater m_repeater;
    DiscoveryParser m_parser; // receive thread only
    DeviceTable m_table;
    std::unique_ptr<Notifier> m_notifier;

    // loginSignal: an auto-reset event that carries the answer it signals.
    std::mutex m_loginMutex;
    std::condition_variable m_loginCondition;
    bool m_loginSignalled = false;
    bool m_closed = false;
    int m_loginResult = -1;
    int m_loginReason = -1;

    // The modify-IP request whose result is awaited: the addresses its answer may come from.
    struct PendingModify {
        std::uint32_t source;
        std::uint32_t newAddress;
    };
    std::mutex m_modifyMutex;
    std::optional<PendingModify> m_pendingModify;
};
