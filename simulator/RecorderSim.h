#pragma once
// The simulated recorder: both sockets and every connection served by one thread with poll().
//
//   sim::SimOptions o;
//   o.tcpPort = 0;            // free loopback ports
//   o.udpPort = 0;
//   sim::RecorderSim sim(o);
//   sim.start();
//   ... connect to 127.0.0.1:sim.tcpPort(), send to 127.0.0.1:sim.udpPort() ...
//   sim.waitFor([](const sim::SimState& s) { return s.upgrades.size() == 1; }, 10s);
//   sim.state().upgrades[0].files[0].data;
//   sim.stop();               // also done by the destructor

#include "simulator/SimOptions.h"

#include <poll.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace sim {

struct LoginAttempt {
    std::string user;
    std::string password;
    bool accepted = false;
};

struct DiscoveryLogin {
    unsigned device = 0; // from 0
    std::string user;
    std::string password;
    uint8_t result = 0;
    uint8_t reason = 0;
};

struct ModifyIpEvent {
    unsigned device = 0; // from 0
    // As requested, first dotted octet most significant; all 0 when the request was malformed.
    uint32_t address = 0;
    uint32_t mask = 0;
    uint32_t gateway = 0;
    uint8_t result = 0;
};

// What the simulated recorders have seen and done so far.
struct SimState {
    unsigned connections = 0;
    std::vector<LoginAttempt> logins;
    std::vector<uint32_t> macValues;
    // Finished upgrades, in the order their verdicts were given.
    std::vector<UpgradeRecord> upgrades;
    unsigned searches = 0;
    std::vector<DiscoveryLogin> discoveryLogins;
    std::vector<ModifyIpEvent> modifies;
    // Every recorder as it now reports itself (after any adopted modify-IP).
    std::vector<SimDevice> devices;
    // Packets and datagrams that broke the protocol, and files that could not be saved.
    std::vector<std::string> faults;
};

class RecorderSim : private UpgradeObserver, private DiscoveryObserver {
public:
    explicit RecorderSim(SimOptions options);
    ~RecorderSim() override;
    RecorderSim(const RecorderSim&) = delete;
    RecorderSim& operator=(const RecorderSim&) = delete;

    // Binds the sockets; throws std::runtime_error with a text for the technician.
    void open();
    // open() when not done yet, then serves on a thread of its own until stop().
    void start();
    // Serves on the calling thread until stop() is called from elsewhere or stopFd (when not
    // -1) becomes readable; open() must have been called.
    void run(int stopFd = -1);
    // Ends serving, joins the thread and closes the sockets; every upgrade still open is
    // recorded with verdict "none". Safe to call more than once; not from the print callback.
    void stop();

    // Ports actually bound (after open); 0 for a side that is off.
    uint16_t tcpPort() const { return m_tcpPort; }
    uint16_t udpPort() const { return m_udpPort; }
    // "recorder-sim ready tcp=127.0.0.1:37777 udp=127.0.0.1:5050 recorders=1"
    std::string readyLine() const;

    SimState state() const;
    // Waits until the predicate holds on the state, or the time is up; true when it held.
    bool waitFor(const std::function<bool(const SimState&)>& predicate,
                 std::chrono::milliseconds timeout) const;

private:
    struct Connection;

    // UpgradeObserver
    void loginAttempt(const std::string& user, const std::string& password, bool accepted) override;
    void macValue(uint32_t value) override;
    void upgradeEnded(UpgradeRecord upgrade) override;
    void fault(const std::string& text) override;
    unsigned nextUpgradeNumber() override;
    // DiscoveryObserver
    void searchHeard() override;
    void discoveryLogin(unsigned device, const std::string& user, const std::string& password, uint8_t result,
                        uint8_t reason) override;
    void modifyIp(unsigned device, uint32_t address, uint32_t mask, uint32_t gateway,
                  uint8_t result) override;

    int listenOn(const std::string& address, uint16_t port);
    void listenForEachRecorder();
    // Gives each connection's upgrade the time, sends what it has and closes what it asks to;
    // the earliest deadline among the rest.
    std::optional<Clock::time_point> tendConnections(Clock::time_point now);
    // The descriptors of one round's poll; the index of the first connection among them.
    size_t fillPollSet(std::vector<pollfd>& fds, int stopFd, Clock::time_point now) const;
    void acceptConnections(int listenFd);
    void readDatagrams();
    void serveConnection(Connection& c, short revents, Clock::time_point now);
    void flush(Connection& c);
    void closeConnection(Connection& c, const std::string& why);
    void closeSockets();
    void print(const std::string& line);
    template <typename F> void update(F&& change);

    SimOptions m_options;
    int m_listenFd = -1;
    // Further recorders' own listening sockets at their reported loopback address and port.
    std::vector<int> m_recorderListeners;
    int m_udpFd = -1;
    int m_wakeFd = -1;
    uint16_t m_tcpPort = 0;
    uint16_t m_udpPort = 0;
    bool m_opened = false;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::unique_ptr<DiscoveryResponder> m_responder;
    unsigned m_upgradeCount = 0;
    std::vector<uint8_t> m_buffer;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    SimState m_state;
    bool m_running = false;
};

} // namespace sim
