#include "simulator/SimProcess.h"

#include "tests/common/ChildProgram.h"
#include "tests/simulator/CramfsFixture.h"
#include "tests/simulator/Loopback.h"

#include "discovery/DiscoveryProtocol.h"
#include "upgrade/UpgradeProtocol.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace std::chrono_literals;

namespace {

// Runs the program with the arguments (separated by spaces); gives its exit status and
// everything it printed.
std::pair<int, std::string> runProgram(const std::string& args) {
    std::vector<std::string> argv{sim::SimProcess::defaultProgram()};
    std::istringstream words(args);
    for (std::string word; words >> word;)
        argv.push_back(word);
    const ChildResult r = RunProgram(argv);
    return {r.status, r.out + r.err};
}

} // namespace

TEST(SimProcess, HelpIsReadableAndBadOptionsAreRefused) {
    auto [status, help] = runProgram("--help");
    EXPECT_EQ(status, 0);
    for (const char* option : {"--tcp-port", "--udp-port", "--count", "--verdict", "--slow-reader",
                               "--save-dir", "--login-result", "--modify-result", "--ignore-first-search",
                               "--same-address", "--refuse-login-of", "--link-rate", "--burn-ms"})
        EXPECT_NE(help.find(option), std::string::npos) << option;

    struct Case {
        const char* args;
        const char* message;
    };
    for (const Case& c :
         {Case{"--verdict maybe", "--verdict: 'maybe' is not one of"}, Case{"--tcp-port 70000", "--tcp-port"},
          Case{"--udp-address 10.0.0", "not a dotted IPv4"},
          Case{"--count 2 --ignore-first-search-of 3", "there are recorders 1 to 2"},
          Case{"--count 3 --refuse-login-of 2,0", "--refuse-login-of 0: there are recorders 1 to 3"},
          Case{"--no-upgrade --no-discovery", "nothing to play"},
          Case{"--burn-ms 1000 --progress-interval 10", "exclude each other"},
          Case{"--link-rate -5", "--link-rate"}, Case{"--burn-ms 99999999", "--burn-ms"},
          Case{"--frobnicate", "--frobnicate"}}) {
        auto [code, output] = runProgram(c.args);
        EXPECT_EQ(code, 2) << c.args;
        EXPECT_NE(output.find(c.message), std::string::npos) << c.args << ": " << output;
        EXPECT_NE(output.find("--help"), std::string::npos) << c.args;
    }
}

TEST(SimProcess, ChildServesBothSidesAndStopsCleanlyOnSigterm) {
    sim::SimProcess recorder({"--count", "2", "--verdict", "right", "--settle", "100"});
    ASSERT_NE(recorder.tcpPort(), 0);
    ASSERT_NE(recorder.udpPort(), 0);

    loopback::Udp udp;
    udp.sendTo(recorder.udpPort(), buildSearch());
    DiscoveryParser parser;
    for (int i = 0; i < 2; ++i) {
        auto d = udp.receive();
        ASSERT_TRUE(d.has_value());
        DeviceNetRecord record;
        EXPECT_EQ(parser.parse(d->data(), d->size(), record), ParseOutcome::DeviceFound);
    }

    loopback::Tcp tcp(recorder.tcpPort());
    tcp.send(BuildLoginRequest("admin", "admin"));
    auto r = tcp.reply();
    ASSERT_TRUE(r);
    EXPECT_EQ(DecodeReply(r->data(), 32).type, ReplyType::LoginAccepted);
    std::vector<uint8_t> file = fixture::patternBytes(4000, 1);
    tcp.send(BuildStartPacket(KIND_BIOS, 4000));
    for (const auto& p : BuildFilePackets(KIND_BIOS, file))
        tcp.send(p);
    r = tcp.reply();
    ASSERT_TRUE(r);
    EXPECT_EQ(DecodeReply(r->data(), 32).type, ReplyType::UpgradeStart);
    r = tcp.reply();
    ASSERT_TRUE(r);
    EXPECT_EQ(DecodeReply(r->data(), 32).type, ReplyType::UpgradeRight);
    EXPECT_TRUE(recorder.waitForLine(
        [](const std::string& l) { return l.rfind("upgrade 1: BIOS, 1 file, 4000 bytes", 0) == 0; }, 20s));

    EXPECT_EQ(recorder.stop(), 0);
    auto lines = recorder.lines();
    EXPECT_EQ(lines.back(), "recorder-sim stopped");
}

TEST(SimProcess, PortInUseEndsTheChildWithAClearError) {
    sockaddr_in a{};
    socklen_t length = sizeof a;
    int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in any = loopback::address(0);
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    ASSERT_EQ(listen(probe, 1), 0);
    getsockname(probe, reinterpret_cast<sockaddr*>(&a), &length);
    std::string port = std::to_string(ntohs(a.sin_port));
    try {
        sim::SimProcess recorder({"--tcp-port", port});
        FAIL() << "the simulator started on a port in use";
    } catch (const std::runtime_error& e) {
        std::string text = e.what();
        EXPECT_NE(text.find("ended before it was ready (exit status 1)"), std::string::npos) << text;
        EXPECT_NE(text.find("recorder-sim: cannot listen for upgrades on 127.0.0.1:" + port +
                            ": Address already in use"),
                  std::string::npos)
            << text;
    }
    ::close(probe);
}
