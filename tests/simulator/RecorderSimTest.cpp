#include "simulator/RecorderSim.h"

#include "tests/common/Files.h"
#include "tests/common/TempDir.h"
#include "tests/simulator/CramfsFixture.h"
#include "tests/simulator/Loopback.h"
#include "tests/simulator/ZipFixture.h"

#include <gtest/gtest.h>

#include <mutex>

using namespace std::chrono_literals;

namespace {

constexpr auto kWait = 20s;

sim::SimOptions loopbackOptions() {
    sim::SimOptions o;
    o.tcpPort = 0;
    o.udpPort = 0;
    o.upgrade.settle = 100ms;
    o.upgrade.progressInterval = 10ms;
    return o;
}

ReplyEvent decode(const std::optional<std::vector<uint8_t>>& r) {
    EXPECT_TRUE(r.has_value()) << "no reply in time";
    return r ? DecodeReply(r->data(), uint32_t(r->size())) : ReplyEvent{};
}

void sendUpgrade(loopback::Tcp& tcp, UpgradeKind kind, const std::vector<uint8_t>& file) {
    tcp.send(BuildStartPacket(kind, uint32_t(file.size())));
    for (const auto& p : BuildFilePackets(kind, file))
        tcp.send(p);
}

void login(loopback::Tcp& tcp) {
    tcp.send(BuildLoginRequest("admin", "admin"));
    ASSERT_EQ(decode(tcp.reply()).type, ReplyType::LoginAccepted);
}

// Lines the simulator prints, collected across its thread.
struct Lines {
    std::mutex mutex;
    std::vector<std::string> lines;
    std::function<void(const std::string&)> sink() {
        return [this](const std::string& l) {
            std::lock_guard lock(mutex);
            lines.push_back(l);
        };
    }
    std::vector<std::string> get() {
        std::lock_guard lock(mutex);
        return lines;
    }
};

// The recorder's progress reports up to the one marked complete; anything else is a failure.
std::vector<int> progressUntilComplete(loopback::Tcp& tcp) {
    std::vector<int> percents;
    for (;;) {
        const ReplyEvent e = decode(tcp.reply());
        if (e.type != ReplyType::Progress) {
            ADD_FAILURE() << "a reply that is no progress report";
            break;
        }
        percents.push_back(e.percent);
        if (e.complete) {
            break;
        }
    }
    return percents;
}

} // namespace

TEST(RecorderSim, LoginIsAcceptedAndRefusedOverLoopback) {
    sim::SimOptions o = loopbackOptions();
    o.user = "tech";
    o.password = "secret";
    sim::RecorderSim sim(o);
    sim.start();
    ASSERT_NE(sim.tcpPort(), 0);
    loopback::Tcp tcp(sim.tcpPort());
    tcp.send(BuildLoginRequest("tech", "wrong"));
    EXPECT_EQ(decode(tcp.reply()).type, ReplyType::LoginRefused);
    tcp.send(BuildLoginRequest("tech", "secret"));
    EXPECT_EQ(decode(tcp.reply()).type, ReplyType::LoginAccepted);
    ASSERT_TRUE(sim.waitFor([](const sim::SimState& s) { return s.logins.size() == 2; }, kWait));
    sim::SimState s = sim.state();
    EXPECT_FALSE(s.logins[0].accepted);
    EXPECT_TRUE(s.logins[1].accepted);
    EXPECT_EQ(s.connections, 1u);
    EXPECT_TRUE(s.faults.empty());
}

TEST(RecorderSim, BiosFileArrivesByteIdenticalWithProgressToTheEnd) {
    TempDir dir;
    Lines printed;
    sim::SimOptions o = loopbackOptions();
    o.upgrade.saveDir = dir.path();
    o.print = printed.sink();
    sim::RecorderSim sim(o);
    sim.start();
    loopback::Tcp tcp(sim.tcpPort());
    login(tcp);
    std::vector<uint8_t> file = fixture::patternBytes(300000, 11);
    sendUpgrade(tcp, KIND_BIOS, file);

    EXPECT_EQ(decode(tcp.reply()).type, ReplyType::UpgradeStart);
    EXPECT_EQ(progressUntilComplete(tcp), (std::vector<int>{0, 25, 50, 75, 100}));

    ASSERT_TRUE(sim.waitFor([](const sim::SimState& s) { return !s.upgrades.empty(); }, kWait));
    sim::UpgradeRecord u = sim.state().upgrades.at(0);
    EXPECT_EQ(u.verdict, "progress");
    ASSERT_EQ(u.files.size(), 1u);
    EXPECT_EQ(u.files[0].data, file);
    EXPECT_EQ(ReadBytes(u.files[0].savedPath), file);
    auto lines = printed.get();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("upgrade 1: BIOS, 1 file, 300000 bytes (crc32 ", 0), 0u) << lines[0];
}

// The link rate holds reads back between polls; every byte still arrives, and the burn's
// reports still run to the end.
TEST(RecorderSim, LinkRateAndBurnTimeLoseNothing) {
    sim::SimOptions o = loopbackOptions();
    o.upgrade.linkRate = 4 * 1024 * 1024;
    o.upgrade.burn = std::chrono::milliseconds(40);
    o.receiveBuffer = 8192;
    sim::RecorderSim sim(o);
    sim.start();
    loopback::Tcp tcp(sim.tcpPort());
    login(tcp);
    std::vector<uint8_t> file = fixture::patternBytes(700000, 13);
    sendUpgrade(tcp, KIND_BIOS, file);

    EXPECT_EQ(decode(tcp.reply()).type, ReplyType::UpgradeStart);
    EXPECT_EQ(progressUntilComplete(tcp), (std::vector<int>{0, 25, 50, 75, 100}));
    ASSERT_TRUE(sim.waitFor([](const sim::SimState& s) { return !s.upgrades.empty(); }, kWait));
    sim::UpgradeRecord u = sim.state().upgrades.at(0);
    ASSERT_EQ(u.files.size(), 1u);
    EXPECT_EQ(u.files[0].data, file);
    EXPECT_EQ(u.problem, "");
}

TEST(RecorderSim, WebPackageArrivesIdenticalAndACorruptedOneIsAnsweredError) {
    TempDir dir;
    std::vector<uint8_t> image = fixture::makeCramfs({{"index.htm", fixture::textBytes(20000)},
                                                      {"live.htm", fixture::textBytes(700)},
                                                      {"logo.gif", fixture::patternBytes(3000, 2)}});
    std::vector<uint8_t> good = fixture::makeZip(
        (dir / "tmp_web.bin").string(), {{"Install.lua", fixture::textBytes(1938)}, {"web.cramfs", image}});
    std::vector<uint8_t> corrupted = good;
    corrupted[corrupted.size() / 2] ^= 0x20;

    sim::SimOptions o = loopbackOptions();
    o.upgrade.verdict = sim::Verdict::Right;
    sim::RecorderSim sim(o);
    sim.start();
    loopback::Tcp tcp(sim.tcpPort());
    login(tcp);
    sendUpgrade(tcp, KIND_WEB, good);
    EXPECT_EQ(decode(tcp.reply()).type, ReplyType::UpgradeStart);
    EXPECT_EQ(decode(tcp.reply()).type, ReplyType::UpgradeRight);
    sendUpgrade(tcp, KIND_WEB, corrupted);
    EXPECT_EQ(decode(tcp.reply()).type, ReplyType::UpgradeStart);
    EXPECT_EQ(decode(tcp.reply()).type, ReplyType::UpgradeError);

    ASSERT_TRUE(sim.waitFor([](const sim::SimState& s) { return s.upgrades.size() == 2; }, kWait));
    sim::SimState s = sim.state();
    EXPECT_EQ(s.upgrades[0].files.at(0).data, good);
    EXPECT_EQ(s.upgrades[0].files[0].imageNames,
              (std::vector<std::string>{"index.htm", "live.htm", "logo.gif"}));
    EXPECT_EQ(s.upgrades[1].files.at(0).data, corrupted);
    EXPECT_FALSE(s.upgrades[1].problem.empty());
}

TEST(RecorderSim, DroppingTheConnectionIsSeenByTheTool) {
    sim::SimOptions o = loopbackOptions();
    o.upgrade.verdict = sim::Verdict::Drop;
    sim::RecorderSim sim(o);
    sim.start();
    loopback::Tcp tcp(sim.tcpPort());
    login(tcp);
    sendUpgrade(tcp, KIND_EXE, fixture::patternBytes(5000, 1));
    EXPECT_EQ(decode(tcp.reply()).type, ReplyType::UpgradeStart);
    EXPECT_TRUE(tcp.closedByPeer());
    ASSERT_TRUE(sim.waitFor([](const sim::SimState& s) { return !s.upgrades.empty(); }, kWait));
    EXPECT_EQ(sim.state().upgrades[0].verdict, "drop");
}

TEST(RecorderSim, RepliesGoOutBeforeAToolThatClosedIsLetGo) {
    sim::SimOptions o = loopbackOptions();
    // The recorder pauses after the start packet, so that what follows, and the end of the
    // stream, are all waiting when it reads again.
    o.upgrade.stall = 300ms;
    sim::RecorderSim sim(o);
    sim.start();
    loopback::Tcp tcp(sim.tcpPort());
    login(tcp);
    std::vector<uint8_t> file = fixture::patternBytes(62 * 1024, 6);
    tcp.send(BuildStartPacket(KIND_BIOS, uint32_t(file.size())));
    EXPECT_EQ(decode(tcp.reply()).type, ReplyType::UpgradeStart);
    // 62 data packets, the end packet and a second login: 65536 bytes, one full read, after
    // which the recorder finds the stream ended. The login's reply still has to come out.
    std::vector<uint8_t> rest;
    for (const auto& p : BuildFilePackets(KIND_BIOS, file))
        rest.insert(rest.end(), p.begin(), p.end());
    Packet32 again = BuildLoginRequest("admin", "admin");
    rest.insert(rest.end(), again.begin(), again.end());
    ASSERT_EQ(rest.size(), 65536u);
    tcp.send(rest);
    ::shutdown(tcp.fd(), SHUT_WR);
    EXPECT_EQ(decode(tcp.reply()).type, ReplyType::LoginAccepted);
    EXPECT_TRUE(tcp.closedByPeer());
    ASSERT_TRUE(sim.waitFor([](const sim::SimState& s) { return !s.upgrades.empty(); }, kWait));
    sim::UpgradeRecord u = sim.state().upgrades[0];
    ASSERT_EQ(u.files.size(), 1u);
    EXPECT_EQ(u.files[0].data, file);
    EXPECT_TRUE(u.complete);
    EXPECT_EQ(u.verdict, "none");
}

TEST(RecorderSim, SlowReaderMakesTheToolWaitAndStillGetsEveryByte) {
    sim::SimOptions o = loopbackOptions();
    o.upgrade.verdict = sim::Verdict::Right;
    o.upgrade.stall = 2000ms;
    o.receiveBuffer = 4096;
    sim::RecorderSim sim(o);
    sim.start();
    loopback::Tcp tcp(sim.tcpPort(), 4096);
    login(tcp);
    std::vector<uint8_t> file = fixture::patternBytes(2 * 1024 * 1024, 5);
    tcp.send(BuildStartPacket(KIND_BIOS, uint32_t(file.size())));
    auto packets = BuildFilePackets(KIND_BIOS, file);
    // Without waiting for room, the tool's side fills up while the recorder is not reading.
    bool blocked = false;
    size_t i = 0;
    for (; i < packets.size() && !blocked; ++i) {
        ssize_t n = ::send(tcp.fd(), packets[i].data(), packets[i].size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EAGAIN)
            blocked = true;
        else if (n >= 0 && size_t(n) < packets[i].size())
            tcp.send(std::span<const uint8_t>(packets[i]).subspan(size_t(n))), blocked = true;
        else
            ASSERT_GE(n, 0);
    }
    EXPECT_TRUE(blocked) << "the whole file fitted into the buffers while the recorder was not reading";
    if (blocked && i > 0 && i <= packets.size())
        --i; // the packet that met a full buffer is sent again below, or was finished above
    for (; i < packets.size(); ++i)
        tcp.send(packets[i]);
    ASSERT_TRUE(sim.waitFor([](const sim::SimState& s) { return !s.upgrades.empty(); }, kWait));
    EXPECT_EQ(sim.state().upgrades[0].verdict, "right") << sim.state().upgrades[0].problem;
    EXPECT_EQ(sim.state().upgrades[0].files.at(0).data, file);
}

TEST(RecorderSim, EveryRecorderAnswersOneSearch) {
    sim::SimOptions o = loopbackOptions();
    o.discovery.count = 5;
    sim::RecorderSim sim(o);
    sim.start();
    ASSERT_NE(sim.udpPort(), 0);
    loopback::Udp udp;
    udp.sendTo(sim.udpPort(), buildSearch());
    DiscoveryParser parser;
    std::vector<uint32_t> addresses;
    std::vector<std::string> macs;
    for (int i = 0; i < 5; ++i) {
        auto d = udp.receive();
        ASSERT_TRUE(d.has_value());
        DeviceNetRecord record;
        ASSERT_EQ(parser.parse(d->data(), d->size(), record), ParseOutcome::DeviceFound);
        addresses.push_back(record.address());
        macs.push_back(parser.identity().macText());
        EXPECT_EQ(record.port(), sim.tcpPort() + i)
            << "recorder 1 reports the port its upgrades are served on";
    }
    EXPECT_EQ(addresses, (std::vector<uint32_t>{0x7F000001, 0x7F000002, 0x7F000003, 0x7F000004, 0x7F000005}));
    EXPECT_EQ(macs.back(), "02:53:49:4D:00:05");
    EXPECT_FALSE(udp.receive(100ms).has_value()) << "one reply per recorder, no more";

    // Each recorder takes a login where it said it is.
    for (uint16_t i : {0, 4}) {
        loopback::Tcp tcp(uint16_t(sim.tcpPort() + i), 0, 0x7F000001u + i);
        tcp.send(BuildLoginRequest("admin", "admin"));
        EXPECT_EQ(decode(tcp.reply()).type, ReplyType::LoginAccepted) << "recorder " << i + 1;
    }
    EXPECT_TRUE(sim.state().faults.empty());
}

TEST(RecorderSim, ModifyIpIsAdoptedAndReportedByTheNextSearch) {
    sim::SimOptions o = loopbackOptions();
    o.discovery.count = 2;
    sim::RecorderSim sim(o);
    sim.start();
    loopback::Udp udp;
    DiscoveryParser parser;
    DeviceNetRecord record;
    udp.sendTo(sim.udpPort(), buildSearch());
    for (int i = 0; i < 2; ++i) {
        auto d = udp.receive();
        ASSERT_TRUE(d.has_value());
        parser.parse(d->data(), d->size(), record);
    }
    DeviceIdentity second = parser.identity();

    udp.sendTo(sim.udpPort(), buildLogin("admin", "admin", second));
    auto d = udp.receive();
    ASSERT_TRUE(d.has_value());
    ASSERT_EQ(parser.parse(d->data(), d->size(), record), ParseOutcome::LoginAnswered);
    EXPECT_EQ(parser.loginResult(), 0);

    DeviceNetRecord changed = record;
    changed.setAddress(0x7F000063);
    changed.setMask(0xFFFFFF00);
    changed.setGateway(0x7F000001);
    udp.sendTo(sim.udpPort(), buildModifyIp(changed, second));
    d = udp.receive();
    ASSERT_TRUE(d.has_value());
    ASSERT_EQ(parser.parse(d->data(), d->size(), record), ParseOutcome::ModifyAnswered);
    EXPECT_EQ(parser.modifyResult(), 0);

    udp.sendTo(sim.udpPort(), buildSearch());
    std::vector<uint32_t> addresses;
    for (int i = 0; i < 2; ++i) {
        auto r = udp.receive();
        ASSERT_TRUE(r.has_value());
        parser.parse(r->data(), r->size(), record);
        addresses.push_back(record.address());
    }
    EXPECT_EQ(addresses, (std::vector<uint32_t>{0x7F000001, 0x7F000063}));
    sim::SimState s = sim.state();
    EXPECT_EQ(s.devices.at(1).record.mask(), 0xFFFFFF00u);
    ASSERT_EQ(s.modifies.size(), 1u);
    EXPECT_EQ(s.modifies[0].device, 1u);
    EXPECT_EQ(s.searches, 2u);
}

TEST(RecorderSim, StopRecordsTheUnfinishedUpgradeAndCanBeRepeated) {
    sim::SimOptions o = loopbackOptions();
    sim::RecorderSim sim(o);
    sim.start();
    loopback::Tcp tcp(sim.tcpPort());
    login(tcp);
    tcp.send(BuildStartPacket(KIND_BIOS, 5000));
    tcp.send(BuildDataPacket(0, fixture::patternBytes(1024, 1)));
    ASSERT_TRUE(sim.waitFor([](const sim::SimState& s) { return s.connections == 1; }, kWait));
    EXPECT_EQ(decode(tcp.reply()).type, ReplyType::UpgradeStart);
    sim.stop();
    sim.stop();
    sim::SimState s = sim.state();
    ASSERT_EQ(s.upgrades.size(), 1u);
    EXPECT_EQ(s.upgrades[0].verdict, "none");
    EXPECT_NE(s.upgrades[0].problem.find("the simulator stopped"), std::string::npos)
        << s.upgrades[0].problem;
    EXPECT_TRUE(tcp.closedByPeer());
}

TEST(RecorderSim, PortsInUseAreReportedClearly) {
    sim::SimOptions o = loopbackOptions();
    sim::RecorderSim first(o);
    first.start();
    sim::SimOptions clash = loopbackOptions();
    clash.udpPort = first.udpPort();
    sim::RecorderSim second(clash);
    try {
        second.open();
        FAIL() << "a second simulator bound the same UDP port";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "cannot receive discovery requests on 127.0.0.1:" +
                                             std::to_string(first.udpPort()) + ": Address already in use");
    }
}
