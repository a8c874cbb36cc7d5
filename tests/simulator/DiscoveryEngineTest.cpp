// The discovery engine against the simulated recorders on loopback: one socket answers for all
// of them, and the engine tells them apart by the address and port in each record.
#include "simulator/RecorderSim.h"

#include "discovery/DeviceMarks.h"
#include "discovery/DiscoveryEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

using namespace std::chrono_literals;

namespace {

class Listener : public DiscoveryListener {
public:
    void deviceAdded(const DeviceAddedNotice& notice) override {
        std::lock_guard lock(m_mutex);
        m_devices.push_back(notice);
        m_changed.notify_all();
    }
    void statusText(const std::string& text) override {
        std::lock_guard lock(m_mutex);
        m_texts.push_back(text);
        m_changed.notify_all();
    }
    bool waitForDevices(size_t n) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 20s, [&] { return m_devices.size() >= n; });
    }
    bool waitForText(const std::string& text) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 20s,
                                  [&] { return std::count(m_texts.begin(), m_texts.end(), text) > 0; });
    }
    std::vector<DeviceAddedNotice> devices() {
        std::lock_guard lock(m_mutex);
        return m_devices;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<DeviceAddedNotice> m_devices;
    std::vector<std::string> m_texts;
};

sim::SimOptions options(unsigned count) {
    sim::SimOptions o;
    o.tcpPort = 0;
    o.udpPort = 0;
    o.discovery.count = count;
    return o;
}

// Without the engine's repeated searches, unless asked for: most tests count the searches the
// recorders hear.
DiscoveryEngineConfig engineConfig(const sim::RecorderSim& recorder, bool repeatSearches = false) {
    DiscoveryEngineConfig c;
    c.destinationAddress = 0x7F000001;
    c.destinationPort = recorder.udpPort();
    c.boundPort = 0;
    c.loginWait = 20s;
    if (!repeatSearches) {
        c.searchRepeats.clear();
    }
    return c;
}

} // namespace

TEST(DiscoveryEngineWithSimulator, OneSearchFindsEveryRecorderOnce) {
    sim::RecorderSim recorder(options(6));
    recorder.start();
    Listener listener;
    DiscoveryEngine engine(&listener, engineConfig(recorder));
    ASSERT_EQ(engine.start(), 1);
    ASSERT_TRUE(listener.waitForDevices(6));
    engine.search(); // the same recorders again: no new rows
    ASSERT_TRUE(recorder.waitFor([](const sim::SimState& s) { return s.searches == 2; }, 20s));
    auto devices = listener.devices();
    for (size_t i = 0; i < devices.size(); ++i) {
        EXPECT_EQ(devices[i].addressText, "127.0.0." + std::to_string(i + 1));
        EXPECT_EQ(devices[i].port, recorder.tcpPort() + i);
        EXPECT_EQ(devices[i].maskText, "255.0.0.0");
        EXPECT_EQ(devices[i].gatewayText, "127.0.0.254");
        EXPECT_EQ(devices[i].macText, "02:53:49:4D:00:0" + std::to_string(i + 1));
    }
    engine.close();
    EXPECT_EQ(engine.rowCount(), 6u);
}

TEST(DiscoveryEngineWithSimulator, LoginThenModifyIpIsAdoptedAndFoundAfterRefresh) {
    sim::RecorderSim recorder(options(3));
    recorder.start();
    Listener listener;
    DiscoveryEngine engine(&listener, engineConfig(recorder));
    ASSERT_EQ(engine.start(), 1);
    ASSERT_TRUE(listener.waitForDevices(3));

    EXPECT_EQ(engine.login(1, "admin", "wrong").text(), std::optional<std::string_view>("Invalid password!"));
    ASSERT_TRUE(engine.login(1, "admin", "admin").accepted());
    ASSERT_TRUE(engine.modifyIp(1, 0x7F000042, 0xFFFFFF00, 0x7F000001));
    ASSERT_TRUE(listener.waitForText("Modified IP address successfully!"));

    engine.refresh();
    ASSERT_TRUE(recorder.waitFor([](const sim::SimState& s) { return s.searches == 2; }, 20s));
    ASSERT_TRUE(listener.waitForDevices(6));
    std::vector<std::string> after;
    for (size_t i = 0; i < engine.rowCount(); ++i)
        after.push_back(formatIpv4(engine.row(i)->address));
    EXPECT_EQ(after, (std::vector<std::string>{"127.0.0.1", "127.0.0.66", "127.0.0.3"}));
    EXPECT_EQ(recorder.state().devices[1].record.mask(), 0xFFFFFF00u);
    engine.close();
}

// Recorders 2 and 4 leave the first search unanswered, as when their replies are lost in a burst:
// the engine's repeated search finds them, and nobody is listed twice.
TEST(DiscoveryEngineWithSimulator, RecordersThatMissTheFirstSearchAppearAfterTheRepeat) {
    sim::SimOptions o = options(5);
    o.discovery.ignoreFirstSearch = {2, 4};
    sim::RecorderSim recorder(o);
    recorder.start();
    Listener listener;
    DiscoveryEngine engine(&listener, engineConfig(recorder, true));
    ASSERT_EQ(engine.start(), 1);
    ASSERT_TRUE(listener.waitForDevices(5));
    ASSERT_TRUE(recorder.waitFor([](const sim::SimState& s) { return s.searches == 3; }, 20s));
    std::vector<std::string> found;
    for (const auto& d : listener.devices())
        found.push_back(d.addressText);
    EXPECT_EQ(found,
              (std::vector<std::string>{"127.0.0.1", "127.0.0.3", "127.0.0.5", "127.0.0.2", "127.0.0.4"}));
    engine.close();
    EXPECT_EQ(engine.rowCount(), 5u);
    EXPECT_EQ(listener.devices().size(), 5u);
}

// Six recorders fresh from the factory answer from one address and port. Each is listed once
// through three searches, all six are marked as conflicting, and a login and modify-IP reach the
// one chosen and no other.
TEST(DiscoveryEngineWithSimulator, RecordersSharingOneAddressAreEachListedOnceAndReachedAlone) {
    sim::SimOptions o = options(6);
    o.discovery.sameAddress = true;
    o.deviceAddress = 0xC0A8016C; // 192.168.1.108
    o.discovery.mask = 0xFFFFFF00;
    sim::RecorderSim recorder(o);
    recorder.start();
    Listener listener;
    DiscoveryEngine engine(&listener, engineConfig(recorder, true));
    ASSERT_EQ(engine.start(), 1);
    ASSERT_TRUE(listener.waitForDevices(6));
    ASSERT_TRUE(recorder.waitFor([](const sim::SimState& s) { return s.searches == 3; }, 20s));
    // The login answer comes after the replies to every search on the same socket, so once it is
    // in, every reply to the repeats has been handled.
    ASSERT_TRUE(engine.login(3, "admin", "admin").accepted());

    std::vector<std::string> macs;
    std::vector<std::uint32_t> addresses;
    for (std::size_t i = 0; i < engine.rowCount(); ++i) {
        macs.push_back(engine.row(i)->identity.macText());
        addresses.push_back(engine.row(i)->address);
        EXPECT_EQ(engine.row(i)->port, engine.row(0)->port);
    }
    std::vector<std::string> sorted = macs;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted,
              (std::vector<std::string>{"02:53:49:4D:00:01", "02:53:49:4D:00:02", "02:53:49:4D:00:03",
                                        "02:53:49:4D:00:04", "02:53:49:4D:00:05", "02:53:49:4D:00:06"}));
    EXPECT_EQ(listener.devices().size(), 6u);
    for (const DeviceMarks& m : markDevices(addresses, {{0xC0A80105, 0xFFFFFF00, false}})) {
        EXPECT_TRUE(m.conflict);
        EXPECT_EQ(m.othersAtAddress, 5u);
        EXPECT_FALSE(m.otherSubnet);
    }

    ASSERT_TRUE(engine.modifyIp(3, 0xC0A80178, 0xFFFFFF00, 0xC0A80101));
    ASSERT_TRUE(listener.waitForText("Modified IP address successfully!"));
    const sim::SimState state = recorder.state();
    ASSERT_EQ(state.modifies.size(), 1u);
    EXPECT_EQ(state.devices[state.modifies[0].device].identity.macText(), macs[3]);
    for (const sim::SimDevice& d : state.devices) {
        EXPECT_EQ(d.record.address(), d.identity.macText() == macs[3] ? 0xC0A80178u : 0xC0A8016Cu);
    }
    engine.close();
}
