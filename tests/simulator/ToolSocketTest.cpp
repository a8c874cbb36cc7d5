// The simulated recorder against the upgrade tool's own socket object: the same framing, send
// time limit and receive thread the upgrade session relies on.
#include "simulator/RecorderSim.h"

#include "tests/simulator/CramfsFixture.h"

#include "support/NetSocket.h"
#include "support/NetSocketCore.h"
#include "tests/common/LoopbackSim.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

using namespace std::chrono_literals;
using Zorvik::CNetSocket;

namespace {

// Decodes every packet the socket hands over, as the session's OnPacket does.
class ReplyCollector final : public Zorvik::CNetSocketOwner {
public:
    void OnPacket(CNetSocket*, const uint8_t* data, uint32_t length) override {
        std::lock_guard lock(m_mutex);
        m_events.push_back(DecodeReply(data, length));
        m_changed.notify_all();
    }
    void OnDatagram(CNetSocket*, const uint8_t*, uint32_t) override {}
    void OnClose(CNetSocket*) override {}

    // Waits for an event that satisfies the predicate; true when one came in time.
    bool waitFor(const std::function<bool(const ReplyEvent&)>& predicate) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 20s, [&] {
            for (const auto& e : m_events)
                if (predicate(e))
                    return true;
            return false;
        });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<ReplyEvent> m_events;
};

class ToolSocket : public ::testing::Test {
protected:
    void TearDown() override {
        Zorvik::ReleaseNetSocket(socket);
        // The object deletes itself on its own thread; the collector must outlive that.
        EXPECT_TRUE(Zorvik::CNetSocketCore::WaitForLiveObjects(0, 20000));
    }
    void connect(const sim::RecorderSim& recorder) {
        ASSERT_TRUE(Zorvik::CreateNetSocket(&collector, &socket));
        ASSERT_TRUE(socket->Connect("127.0.0.1", recorder.tcpPort(), 2000));
        Packet32 login = BuildLoginRequest("admin", "admin");
        ASSERT_TRUE(socket->Send(login.data(), 32, 3000));
        ASSERT_TRUE(
            collector.waitFor([](const ReplyEvent& e) { return e.type == ReplyType::LoginAccepted; }));
    }

    ReplyCollector collector;
    CNetSocket* socket = nullptr;
};

sim::SimOptions loopbackOptions() {
    sim::SimOptions o = LoopbackSimOptions();
    o.upgrade.progressInterval = 10ms;
    return o;
}

} // namespace

TEST_F(ToolSocket, UpgradeSentAsTheSessionSendsItEndsInCompletion) {
    sim::RecorderSim recorder(loopbackOptions());
    recorder.start();
    connect(recorder);
    std::vector<uint8_t> file = fixture::patternBytes(100000, 21);
    Packet32 start = BuildStartPacket(KIND_BIOS, uint32_t(file.size()));
    ASSERT_TRUE(socket->Send(start.data(), 32, 3000));
    for (const auto& p : BuildFilePackets(KIND_BIOS, file))
        ASSERT_TRUE(socket->Send(p.data(), uint32_t(p.size()), 3000));
    EXPECT_TRUE(collector.waitFor([](const ReplyEvent& e) { return e.type == ReplyType::UpgradeStart; }));
    EXPECT_TRUE(collector.waitFor([](const ReplyEvent& e) { return e.IsProgress() && e.complete; }));
    ASSERT_TRUE(recorder.waitFor([](const sim::SimState& s) { return !s.upgrades.empty(); }, 20s));
    EXPECT_EQ(recorder.state().upgrades[0].files.at(0).data, file);
}

TEST_F(ToolSocket, SlowReaderRunsOutTheSendTimeLimit) {
    sim::SimOptions o = loopbackOptions();
    o.upgrade.stall = 20s;
    o.receiveBuffer = 4096;
    sim::RecorderSim recorder(o);
    recorder.start();
    connect(recorder);
    Packet32 start = BuildStartPacket(KIND_BIOS, 1);
    ASSERT_TRUE(socket->Send(start.data(), 32, 3000));
    // Far more than the kernel buffers on both ends can hold while the recorder is not reading.
    std::vector<uint8_t> chunk = fixture::patternBytes(1024, 22);
    bool timedOut = false;
    for (uint32_t n = 0; n < 64 * 1024 && !timedOut; ++n) {
        std::vector<uint8_t> packet = BuildDataPacket(n, chunk);
        timedOut = !socket->Send(packet.data(), uint32_t(packet.size()), 200);
    }
    EXPECT_TRUE(timedOut) << "64 MiB went out while the recorder was not reading";
    recorder.stop();
    EXPECT_EQ(recorder.state().upgrades.at(0).verdict, "none");
}
