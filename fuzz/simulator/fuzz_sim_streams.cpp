// Arbitrary bytes as a TCP stream after an accepted login, cut at varying places, with time
// moving on; and the same bytes as a discovery datagram to three recorders.
#include "simulator/DiscoveryResponder.h"
#include "simulator/UpgradeConnection.h"

#include <chrono>
#include <cstdlib>

namespace {

struct NullUpgradeObserver : sim::UpgradeObserver {
    unsigned n = 0;
    void loginAttempt(const std::string&, const std::string&, bool) override {}
    void macValue(uint32_t) override {}
    void upgradeEnded(sim::UpgradeRecord u) override {
        if (u.verdict.empty())
            std::abort();
    }
    void fault(const std::string&) override {}
    unsigned nextUpgradeNumber() override { return ++n; }
};

struct NullDiscoveryObserver : sim::DiscoveryObserver {
    void searchHeard() override {}
    void discoveryLogin(unsigned, const std::string&, const std::string&, uint8_t, uint8_t) override {}
    void modifyIp(unsigned, uint32_t, uint32_t, uint32_t, uint8_t) override {}
    void fault(const std::string&) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace std::chrono_literals;
    sim::UpgradeBehaviour behaviour;
    behaviour.settle = 10ms;
    behaviour.progressInterval = 1ms;
    behaviour.stall = size > 0 && (data[0] & 1) ? 5ms : 0ms;
    behaviour.stallAfterBytes = size;
    NullUpgradeObserver upgradeObserver;
    {
        sim::UpgradeConnection connection(behaviour, upgradeObserver);
        sim::Clock::time_point now{};
        auto login = BuildLoginRequest("admin", "admin");
        connection.receive(login, now);
        size_t step = size > 1 ? data[1] % 97 + 1 : 1;
        for (size_t at = 0; at < size; at += step) {
            connection.receive(std::span<const uint8_t>(data + at, std::min(step, size - at)), now);
            now += 3ms;
            connection.onTime(now);
        }
        for (int i = 0; i < 120; ++i) {
            now += 1ms;
            connection.onTime(now);
        }
        connection.finish("end of input");
    }

    sim::DiscoveryBehaviour discovery;
    discovery.count = 3;
    sim::DiscoveryResponder responder(discovery);
    NullDiscoveryObserver discoveryObserver;
    for (const auto& reply : responder.handle(ByteView(data, size), discoveryObserver))
        if (reply.size() < DiscoveryHeader::kSize)
            std::abort();
    return 0;
}
