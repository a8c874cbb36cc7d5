#pragma once
// One TCP connection of the simulated recorder's upgrade side, as a state machine without a
// socket: bytes go in with the time they arrived, reply bytes come out, and timers are run by
// whoever owns the socket. That keeps every rule testable without a network.

#include "simulator/RequestCheck.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim {

using Clock = std::chrono::steady_clock;

// How the recorder answers once an upgrade's files are in and passed their checks.
enum class Verdict { Progress, Right, Error, Silence, Drop };

struct UpgradeBehaviour {
    // The one account the recorder accepts.
    std::string user = "admin";
    std::string password = "admin";
    Verdict verdict = Verdict::Progress;
    // Progress reports go 0, step, 2 step, ... up to `progressUntil`, one per interval. A
    // recorder may count past 100 (up to 255, one byte); 100 and more means done.
    unsigned progressStep = 25;
    std::chrono::milliseconds progressInterval{200};
    unsigned progressUntil = 100;
    // Time the recorder takes to burn its flash: when set, the progress reports are spread
    // evenly over it (the last one comes this long after the verdict) instead of one per
    // `progressInterval`.
    std::chrono::milliseconds burn{0};
    // An upgrade reply word ("right", "error") sent in the same write as an accepted login's
    // reply, as a recorder still answering an earlier upgrade does. Empty: none.
    std::string wordWithLogin;
    // An upgrade reply word sent in the same write right behind the verdict word, as a recorder
    // that contradicts itself does. Empty: none.
    std::string wordAfterVerdict;
    // Answer each start packet with the word "start".
    bool replyStart = true;
    // Drop the connection after a successful verdict, as a recorder does when it reboots.
    bool rebootAfterSuccess = false;
    // How long the stream must stay quiet after an end packet before the upgrade counts as
    // complete: another file of the same upgrade may still follow.
    std::chrono::milliseconds settle{500};
    // Slow reader: once `stallAfterBytes` file bytes of an upgrade are in, read nothing for
    // this long (0: never stall).
    std::chrono::milliseconds stall{0};
    uint64_t stallAfterBytes = 0;
    // Bytes per second the recorder takes in on one connection, as over its real link; the
    // owner of the socket reads only while wantsRead says so. 0: as fast as they come.
    uint64_t linkRate = 0;
    // Keep every received file's bytes in memory for the in-process API (packages are always
    // kept for their check).
    bool keepData = true;
    // Folder to write each received file to; empty: files are not saved.
    std::string saveDir;
};

struct ReceivedFile {
    uint64_t size = 0;
    uint32_t crc32 = 0;
    // The file's bytes, when kept.
    std::vector<uint8_t> data;
    // For a web or logo package: its archive entries and the names inside its image.
    std::vector<std::string> entries;
    std::vector<std::string> imageNames;
    // Where the file was saved; empty when it was not.
    std::string savedPath;
    // Why this file failed its checks; empty when it passed.
    std::string problem;
};

struct UpgradeRecord {
    // 1, 2, ... over the simulator's life.
    unsigned number = 0;
    // From the start packet; 0 when data came without one.
    uint8_t kind = 0;
    uint32_t announcedLength = 0;
    std::vector<ReceivedFile> files;
    // Every file had its end packet and the stream went quiet afterwards.
    bool complete = false;
    // The first check that failed, over the whole upgrade; empty when all passed.
    std::string problem;
    // What the recorder answered: "progress", "right", "error", "silence", "drop", or "none"
    // when the connection ended before a verdict.
    std::string verdict;
};

// One line for a technician: what came in and what the recorder answered.
std::string summaryLine(const UpgradeRecord& upgrade);

// What a connection reports to the simulator that owns it, on the owner's thread.
class UpgradeObserver {
public:
    virtual ~UpgradeObserver() = default;
    virtual void loginAttempt(const std::string& user, const std::string& password, bool accepted) = 0;
    virtual void macValue(uint32_t value) = 0;
    virtual void upgradeEnded(UpgradeRecord upgrade) = 0;
    // A packet that breaks the protocol, or a file that could not be saved.
    virtual void fault(const std::string& text) = 0;
    virtual unsigned nextUpgradeNumber() = 0;
};

class UpgradeConnection {
public:
    UpgradeConnection(const UpgradeBehaviour& behaviour, UpgradeObserver& observer);
    ~UpgradeConnection();
    UpgradeConnection(const UpgradeConnection&) = delete;
    UpgradeConnection& operator=(const UpgradeConnection&) = delete;

    // Bytes read from the socket.
    void receive(std::span<const uint8_t> bytes, Clock::time_point now);
    // Runs whatever timer is due.
    void onTime(Clock::time_point now);
    // The peer closed, or the simulator stops: an upgrade without verdict is recorded as such.
    void finish(const std::string& why);

    // The earliest time onTime has something to do.
    std::optional<Clock::time_point> nextDeadline() const;
    // False while the slow reader pauses, or while the link is still busy with bytes already
    // read.
    bool wantsRead(Clock::time_point now) const;
    // Reply bytes not yet sent; the owner sends and erases what it could.
    std::vector<uint8_t>& output() { return m_output; }
    // The connection is to be closed once the output has been flushed.
    bool closeWanted() const { return m_close; }

private:
    struct Active;

    // Handles the packets held in m_input.
    void process(Clock::time_point now);
    // Handles the whole packets at the start of bytes until a stall or a close; returns how many
    // bytes they took.
    size_t consume(std::span<const uint8_t> bytes, Clock::time_point now);
    // The size of the packet at the start of m_input, as far as its header is in.
    size_t heldPacketSize() const;
    void handle(std::span<const uint8_t> message, Clock::time_point now);
    void onLogin(const CheckedRequest& r);
    void onStart(const CheckedRequest& r, Clock::time_point now);
    void onData(const CheckedRequest& r, Clock::time_point now);
    void onEnd(const CheckedRequest& r, Clock::time_point now);
    void ensureUpgrade(const std::string& missing);
    void fail(const std::string& problem);
    void closeFile();
    void abandonFile(Active& a);
    void conclude(Clock::time_point now);
    void stopProgress();
    void send(std::span<const uint8_t> bytes);
    bool stalled(Clock::time_point now) const;
    // Books `count` bytes on the link; they keep it busy for count / linkRate seconds.
    void occupyLink(size_t count, Clock::time_point now);
    std::chrono::nanoseconds progressInterval() const;

    const UpgradeBehaviour& m_behaviour;
    UpgradeObserver& m_observer;
    std::vector<uint8_t> m_input;
    std::vector<uint8_t> m_output;
    bool m_close = false;
    bool m_finished = false;
    bool m_loggedIn = false;
    std::unique_ptr<Active> m_active;
    std::optional<Clock::time_point> m_settleAt;
    std::optional<Clock::time_point> m_stallUntil;
    // Progress reports still to be sent for the last verdict.
    std::optional<Clock::time_point> m_progressAt;
    unsigned m_progressPercent = 0;
    // When the link is free again after what was read; a deadline only while in the future
    // at the last read.
    std::optional<Clock::time_point> m_linkFreeAt;
    bool m_linkBusy = false;
};

} // namespace sim
