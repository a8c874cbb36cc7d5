#pragma once

// The discovery engine: the tool's one UDP endpoint, its receive thread, the table of recorders
// found since the last refresh, and the search, login and modify-IP operations.
//
// Threads: the owner's thread (the window's, or a command-line tool's main thread) calls every
// public operation; the receive thread parses datagrams and updates the table; the notifier
// thread hands deviceAdded and statusText to the listener. The receive thread never waits for
// the listener, so a slow listener cannot hold up a login reply behind a burst of search replies.

#include "discovery/BroadcastSocket.h"
#include "discovery/DeviceTable.h"
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
    // Sends a login request for the row's recorder and waits up to the login wait for the reply,
    // which counts only from the address the recorder's search reply came from (or the address it
    // was last given). One login at a time.
    LoginOutcome login(std::size_t row, std::string_view userName, std::string_view password);
    // As above, waiting at most `wait` (a caller with a deadline of its own).
    LoginOutcome login(std::size_t row, std::string_view userName, std::string_view password,
                       std::chrono::milliseconds wait);
    // After a login that timed out: waits up to `window` for its late answer, which is taken and
    // dropped here so that it cannot answer the next login. True when one came; false when the
    // window passed or the engine closed.
    bool drainLateLoginAnswer(std::chrono::milliseconds window);
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

    // Waits for a login answer and takes it; NotSent when the engine closed while waiting.
    LoginOutcome takeLoginAnswer(std::chrono::milliseconds wait);
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
    // Where the answer to the last login may come from: the address the recorder's search reply
    // came from, or the address it was last given.
    struct LoginFrom {
        std::uint32_t source = 0;
        std::uint32_t address = 0;
    };
    LoginFrom m_loginFrom;

    // The modify-IP request whose result is awaited: the addresses its answer may come from.
    struct PendingModify {
        std::uint32_t source;
        std::uint32_t newAddress;
    };
    std::mutex m_modifyMutex;
    std::optional<PendingModify> m_pendingModify;
};
