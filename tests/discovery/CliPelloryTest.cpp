// pellory-cli run as a child process: scan and set-ip against recorder-sim on free loopback
// ports, register and devices on data files in a private folder.

#include "clientstore/ClientDataFile.h"
#include "clientstore/password/Password.h"
#include "simulator/SimProcess.h"
#include "tests/common/ChildProgram.h"
#include "tests/common/CsvText.h"
#include "tests/common/Files.h"
#include "tests/common/TempDir.h"
#include "tests/discovery/FakeRecorder.h"
#include "tests/discovery/PelloryCliKit.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>

using namespace std::chrono_literals;

TEST(PelloryCli, ScanOfTwentyRecordersInEachFormat) {
    sim::SimProcess recorder({"--count", "20"});
    const uint16_t firstPort = recorder.tcpPort();
    const auto scan = [&](const std::string& format) {
        return RunProgram(Join({kCli, "scan", "--timeout", "1", "--format", format}, Endpoint(recorder)));
    };

    // Table: the window's headings, then one row per recorder in the order found.
    ChildResult r = scan("table");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto table = Lines(r.out);
    ASSERT_EQ(table.size(), 21u) << r.out;
    EXPECT_EQ(table[0], "No.  IP Address  Port Number  Subnet Mask  Default Gateway  Mac Address");
    for (unsigned i = 1; i <= 20; ++i) {
        EXPECT_TRUE(Has(r.out, Mac(i))) << Mac(i);
    }

    // CSV: a header row with the list's headings (the last one ends in a blank, so it is quoted).
    r = scan("csv");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto csv = ParseCsv(r.out).records;
    ASSERT_EQ(csv.size(), 21u) << r.out;
    EXPECT_EQ(csv[0], (std::vector<std::string>{"No.", "IP Address", "Port Number", "Subnet Mask",
                                                "Default Gateway", "Mac Address "}));
    std::vector<std::string> macs;
    for (size_t row = 1; row < csv.size(); ++row) {
        const auto& f = csv[row];
        ASSERT_EQ(f.size(), 6u);
        EXPECT_EQ(f[0], std::to_string(row));
        // Recorder n (from 1) reports 127.0.0.n and the first port + n - 1.
        const unsigned n = static_cast<unsigned>(std::stoul(f[5].substr(12, 2), nullptr, 16) * 256 +
                                                 std::stoul(f[5].substr(15, 2), nullptr, 16));
        EXPECT_EQ(f[1], Dotted(0x7F000000u + n));
        EXPECT_EQ(f[2], std::to_string(firstPort + n - 1));
        EXPECT_EQ(f[3], "255.0.0.0");
        EXPECT_EQ(f[4], "127.0.0.254");
        macs.push_back(f[5]);
    }
    std::sort(macs.begin(), macs.end());
    EXPECT_EQ(std::unique(macs.begin(), macs.end()), macs.end());

    // JSON: an array of objects; the port and the number are numbers.
    r = scan("json");
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json list = nlohmann::json::parse(r.out);
    ASSERT_TRUE(list.is_array());
    ASSERT_EQ(list.size(), 20u);
    for (size_t i = 0; i < list.size(); ++i) {
        const auto& d = list[i];
        EXPECT_EQ(d.size(), 8u);
        EXPECT_EQ(d.at("no").get<int>(), static_cast<int>(i + 1));
        // Each on an address of its own, on the loopback subnet (127.0.0.1 is this machine's,
        // but loopback addresses never collide on a network).
        EXPECT_EQ(d.at("conflict"), false);
        EXPECT_EQ(d.at("subnet"), "local");
        ASSERT_TRUE(d.at("port").is_number());
        const std::string mac = d.at("mac").get<std::string>();
        const unsigned n = static_cast<unsigned>(std::stoul(mac.substr(15, 2), nullptr, 16));
        EXPECT_EQ(d.at("ip"), Dotted(0x7F000000u + n));
        EXPECT_EQ(d.at("port").get<int>(), firstPort + static_cast<int>(n) - 1);
        EXPECT_EQ(d.at("mask"), "255.0.0.0");
        EXPECT_EQ(d.at("gateway"), "127.0.0.254");
    }
}

// No control byte: none below 32 but tab and line feed, no DEL, and none of 0x80-0x9F (the
// outputs checked hold no UTF-8 letter that has such a byte).
bool HoldsControlBytes(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        return (c < 32 && c != '\t' && c != '\n') || (c >= 0x7F && c <= 0x9F);
    });
}

// A recorder whose MAC text sets the window title, rings, clears the screen with an 8-bit CSI
// and looks like a spreadsheet formula.
TEST(PelloryCli, ARecordersTextCannotSteerTheTerminalOrTheSpreadsheet) {
    // The first 17 bytes are the MAC text; the rest of the identity is never shown.
    const std::string identity = "=cmd\x1b]0;pwn\x07\x9b"
                                 "2J\x1b[2J/SERIAL";
    const std::string shown = "=cmd\\x1b]0;pwn\\x07\\x9b2J\\x1b[";
    sim::SimProcess recorder({"--identity", identity, "--count", "2"});

    ChildResult r =
        RunProgram(Join({kCli, "scan", "--timeout", "0.5", "--format", "table"}, Endpoint(recorder)));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(HoldsControlBytes(r.out)) << r.out;
    EXPECT_TRUE(Has(r.out, shown)) << r.out;

    r = RunProgram(Join({kCli, "scan", "--timeout", "0.5", "--format", "csv"}, Endpoint(recorder)));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(HoldsControlBytes(r.out)) << r.out;
    const auto csv = ParseCsv(r.out).records;
    ASSERT_EQ(csv.size(), 3u) << r.out;
    std::vector<std::string> macs;
    for (size_t row = 1; row < csv.size(); ++row) {
        ASSERT_EQ(csv[row].size(), 6u);
        for (const std::string& cell : csv[row])
            EXPECT_EQ(std::string("=+-@\t\r").find(cell.empty() ? 'x' : cell[0]), std::string::npos) << cell;
        macs.push_back(csv[row][5]);
    }
    std::sort(macs.begin(), macs.end());
    EXPECT_EQ(macs, (std::vector<std::string>{"'" + shown, Mac(2)}));

    // JSON keeps the text exact, escaped by the writer; the byte that is not UTF-8 becomes U+FFFD.
    r = RunProgram(Join({kCli, "scan", "--timeout", "0.5", "--format", "json"}, Endpoint(recorder)));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(HoldsControlBytes(r.out)) << r.out;
    const auto list = nlohmann::json::parse(r.out);
    std::vector<std::string> exact;
    for (const auto& d : list)
        exact.push_back(d.at("mac").get<std::string>());
    std::sort(exact.begin(), exact.end());
    EXPECT_EQ(exact, (std::vector<std::string>{Mac(2), "=cmd\x1b]0;pwn\x07\xef\xbf\xbd"
                                                       "2J\x1b["}));

    // set-ip finds it by its text and says so in visible text.
    r = RunProgram(
        Join({kCli, "set-ip", "--mac", identity.substr(0, 17), "--user", "admin", "--password-env", "KST_PW",
              "--ip", "127.0.0.9", "--mask", "255.0.0.0", "--gateway", "127.0.0.1", "--timeout", "2"},
             Endpoint(recorder)),
        {.env = {{"KST_PW", "admin"}}});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(HoldsControlBytes(r.out + r.err)) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "Found " + shown + " at 127.0.0.1:")) << r.out;
}

TEST(PelloryCli, ScanFindsRecordersThatMissedTheFirstSearch) {
    sim::SimProcess recorder({"--count", "3", "--ignore-first-search-of", "2"});
    const ChildResult r =
        RunProgram(Join({kCli, "scan", "--timeout", "1", "--format", "json"}, Endpoint(recorder)));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out).size(), 3u) << r.out;
}

TEST(PelloryCli, InterfacesThatCannotBroadcastAreRefused) {
    // Loopback cannot broadcast; neither can an interface that does not exist. (An interface that
    // can is a real network, which the tests leave alone.)
    for (const char* name : {"lo", "nosuch0"}) {
        const ChildResult r = RunProgram({kCli, "scan", "--interface", name, "--target", "127.0.0.1:9",
                                          "--bind-port", "0", "--timeout", "0.1"});
        EXPECT_EQ(r.status, 2) << name;
        EXPECT_TRUE(Has(r.err, "no interface of that name is up and able to broadcast")) << r.err;
    }
}

namespace {

// Two simulators on the same port of two loopback addresses, each playing its own recorders:
// only where a datagram was addressed tells which of them hears it.
struct TwoAddresses {
    TwoAddresses()
        : first({"--no-upgrade", "--verbose", "--udp-address", "127.0.0.2", "--count", "2",
                 "--device-address", "127.0.1.1"}),
          second({"--no-upgrade", "--verbose", "--udp-address", "127.0.0.3", "--udp-port",
                  std::to_string(first.udpPort()), "--count", "3", "--device-address", "127.0.2.1"}) {}

    std::string port() const { return std::to_string(first.udpPort()); }

    sim::SimProcess first;
    sim::SimProcess second;
};

std::vector<std::string> ListedAddresses(const std::string& json) {
    std::vector<std::string> addresses;
    for (const auto& d : nlohmann::json::parse(json)) {
        addresses.push_back(d.at("ip").get<std::string>());
    }
    std::sort(addresses.begin(), addresses.end());
    return addresses;
}

} // namespace

TEST(PelloryCli, AnAddressSendsTheSearchToThatRecorderAlone) {
    TwoAddresses sims;
    ASSERT_EQ(sims.second.udpPort(), sims.first.udpPort());
    const auto scan = [&](const std::string& address) {
        return RunProgram({kCli, "scan", "--address", address + ":" + sims.port(), "--bind-port", "0",
                           "--timeout", "1", "--format", "json"});
    };

    ChildResult r = scan("127.0.0.3");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ListedAddresses(r.out), (std::vector<std::string>{"127.0.2.1", "127.0.2.2", "127.0.2.3"}));

    r = scan("127.0.0.2");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ListedAddresses(r.out), (std::vector<std::string>{"127.0.1.1", "127.0.1.2"}));
}

TEST(PelloryCli, SetIpThroughAnAddressTalksToThatRecorderAlone) {
    // Both simulators play a recorder with the first MAC address; the one addressed is changed.
    TwoAddresses sims;
    const ChildResult r =
        RunProgram({kCli,          "set-ip",     "--address",      "127.0.0.3:" + sims.port(),
                    "--bind-port", "0",          "--mac",          Mac(1),
                    "--user",      "admin",      "--password-env", "KST_PW",
                    "--ip",        "127.0.0.42", "--mask",         "255.255.0.0",
                    "--gateway",   "127.0.0.1",  "--timeout",      "2"},
                   {.env = {{"KST_PW", "admin"}}});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "Found 02:53:49:4D:00:01 at 127.0.2.1:")) << r.out;
    EXPECT_TRUE(sims.second.waitForLine(
        [](const std::string& l) { return Has(l, "recorder 1: modify IP to 127.0.0.42"); }, 10s));

    // The other simulator handles datagrams in order: once it has printed a later search, it
    // would have printed a login or modify-IP request that had reached it before.
    ASSERT_EQ(RunProgram({kCli, "scan", "--address", "127.0.0.2:" + sims.port(), "--bind-port", "0",
                          "--timeout", "0.2"})
                  .status,
              0);
    ASSERT_TRUE(sims.first.waitForLine([](const std::string& l) { return l == "search request"; }, 10s));
    EXPECT_FALSE(SimPrinted(sims.first, "login"));
    EXPECT_FALSE(SimPrinted(sims.first, "modify IP"));
}

TEST(PelloryCli, BadAddressesAreUsageErrors) {
    sim::SimProcess recorder({"--verbose"});
    const std::string at = "127.0.0.1:" + std::to_string(recorder.udpPort());
    struct Case {
        std::vector<std::string> options;
        std::string text;
    };
    const std::vector<Case> cases = {
        {{"--address", at, "--target", at}, "--address and --target both say where requests go"},
        {{"--target", at, "--address", at}, "--address and --target both say where requests go"},
        {{"--address", "127.0.0"}, "--address 127.0.0: not a dotted IPv4 address"},
        {{"--address", "host.example"}, "not a dotted IPv4 address"},
        {{"--address", "0.0.0.0"}, "--address 0.0.0.0: not the address of one recorder"},
        {{"--address", "255.255.255.255"}, "not the address of one recorder"},
        {{"--address", "224.0.0.1:" + std::to_string(recorder.udpPort())}, "not the address of one recorder"},
        {{"--address", "127.0.0.1:0"}, "the port must be a number from 1 to 65535"},
        {{"--address", "127.0.0.1:65536"}, "the port must be a number from 1 to 65535"},
        {{"--address", "127.0.0.1:"}, "the port must be a number from 1 to 65535"},
        {{"--address", at, "--interface", "nosuch0"}, "no interface of that name is up"},
    };
    for (const Case& c : cases) {
        ChildResult r = RunProgram(Join({kCli, "scan", "--bind-port", "0", "--timeout", "0.1"}, c.options));
        EXPECT_EQ(r.status, 2) << c.text << "\n" << r.err;
        EXPECT_TRUE(Has(r.err, c.text)) << r.err;
        // set-ip takes the same options, with the same checks.
        r = RunProgram(
            Join({kCli, "set-ip", "--bind-port", "0", "--mac", Mac(1), "--user", "admin", "--password-env",
                  "KST_PW", "--ip", "127.0.0.9", "--mask", "255.0.0.0", "--gateway", "127.0.0.1"},
                 c.options),
            {.env = {{"KST_PW", "admin"}}});
        EXPECT_EQ(r.status, 2) << c.text << "\n" << r.err;
        EXPECT_TRUE(Has(r.err, c.text)) << r.err;
    }
    EXPECT_FALSE(SimPrinted(recorder, "search request"));
}

TEST(PelloryCli, ScanWithNothingAnsweringIsAnEmptyList) {
    // The discard port: nobody answers there.
    const ChildResult r = RunProgram({kCli, "scan", "--timeout", "0.3", "--format", "json", "--target",
                                      "127.0.0.1:9", "--bind-port", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out), nlohmann::json::array());
}

TEST(PelloryCli, SetIpLogsInAndTheRecorderTakesTheNewAddress) {
    sim::SimProcess recorder({"--count", "3", "--verbose"});
    TempDir dir;
    WriteFile(dir / "pw", "admin\n");
    ChildResult r = RunProgram(
        Join({kCli, "set-ip", "--mac", "02-53-49-4d-00-02", "--user", "admin", "--password-file",
              (dir / "pw").string(), "--ip", "127.0.0.42", "--mask", "255.255.0.0", "--gateway", "127.0.0.1"},
             Endpoint(recorder)));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "Found 02:53:49:4D:00:02 at 127.0.0.2:")) << r.out;
    EXPECT_TRUE(Has(r.out, "Modified IP address successfully!")) << r.out;
    EXPECT_TRUE(
        SimPrinted(recorder, "recorder 2: modify IP to 127.0.0.42 mask 255.255.0.0 gateway 127.0.0.1"));

    // The next search shows recorder 2 with its new settings.
    r = RunProgram(Join({kCli, "scan", "--timeout", "0.5", "--format", "json"}, Endpoint(recorder)));
    const auto list = nlohmann::json::parse(r.out);
    const auto it =
        std::find_if(list.begin(), list.end(), [](const auto& d) { return d.at("mac") == Mac(2); });
    ASSERT_NE(it, list.end()) << r.out;
    EXPECT_EQ(it->at("ip"), "127.0.0.42");
    EXPECT_EQ(it->at("mask"), "255.255.0.0");
    EXPECT_EQ(it->at("gateway"), "127.0.0.1");
}

TEST(PelloryCli, SetIpReportsEachRefusalWithTheWindowsText) {
    struct Case {
        std::vector<std::string> simArgs;
        std::string password;
        int status;
        const char* text;
    };
    const std::vector<Case> cases = {
        {{}, "wrong", 5, "pellory-cli: Invalid password!"},
        {{"--login-result", "1", "--login-reason", "4"},
         "admin",
         5,
         "pellory-cli: The account has been locked!"},
        {{"--login-result", "3"}, "admin", 5, "pellory-cli: The user has logined."},
        {{"--modify-result", "1"}, "admin", 7, "pellory-cli: Failed to modify IP address!"},
        {{"--modify-result", "4"}, "admin", 7, "pellory-cli: Cannot Set!"},
        {{"--modify-result", "2"}, "admin", 8, "no answer to the modify-IP request"},
    };
    for (const Case& c : cases) {
        sim::SimProcess recorder(c.simArgs);
        const ChildResult r = RunProgram(
            Join({kCli, "set-ip", "--mac", Mac(1), "--user", "admin", "--password-env", "KST_PW", "--ip",
                  "127.0.0.9", "--mask", "255.0.0.0", "--gateway", "127.0.0.1", "--timeout", "1"},
                 Endpoint(recorder)),
            {.env = {{"KST_PW", c.password}}});
        EXPECT_EQ(r.status, c.status) << c.text << "\n" << r.out << r.err;
        EXPECT_TRUE(Has(r.err, c.text)) << r.err;
    }

    sim::SimProcess recorder;
    const ChildResult r = RunProgram(
        Join({kCli, "set-ip", "--mac", "02:53:49:4D:00:99", "--user", "admin", "--password-env", "KST_PW",
              "--ip", "127.0.0.9", "--mask", "255.0.0.0", "--gateway", "127.0.0.1", "--timeout", "0.5"},
             Endpoint(recorder)),
        {.env = {{"KST_PW", "admin"}}});
    EXPECT_EQ(r.status, 4) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "no recorder with the MAC address 02:53:49:4D:00:99")) << r.err;
}

// A recorder that answers the search and then keeps silent: the login wait is part of the
// timeout, not ten seconds more.
TEST(PelloryCli, SetIpTimeoutBoundsTheLoginWait) {
    FakeRecorder silent;
    silent.setHandler([](const Datagram& request) {
        std::vector<Datagram> replies;
        if (!request.empty() && request[0] == DISC_SEARCH) {
            DeviceNetRecord record;
            record.setAddress(kLoopback);
            record.setMask(0xFF000000);
            record.setGateway(0x7F0000FE);
            record.setPort(37777);
            replies.push_back(buildSearchReply(record, DeviceIdentity::fromText(Mac(1))));
        }
        return replies;
    });
    const auto started = std::chrono::steady_clock::now();
    const ChildResult r = RunProgram({kCli,
                                      "set-ip",
                                      "--mac",
                                      Mac(1),
                                      "--user",
                                      "admin",
                                      "--password-env",
                                      "KST_PW",
                                      "--ip",
                                      "127.0.0.9",
                                      "--mask",
                                      "255.0.0.0",
                                      "--gateway",
                                      "127.0.0.1",
                                      "--timeout",
                                      "2",
                                      "--target",
                                      "127.0.0.1:" + std::to_string(silent.port()),
                                      "--bind-port",
                                      "0"},
                                     {.env = {{"KST_PW", "admin"}}});
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(r.status, 6) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "It is ouvertime.")) << r.err;
    EXPECT_TRUE(Has(r.out, "Found " + Mac(1))) << r.out;
    // The login went out: what timed out was its answer.
    const auto requests = silent.requests();
    EXPECT_TRUE(std::any_of(requests.begin(), requests.end(),
                            [](const Datagram& d) { return !d.empty() && d[0] == DISC_LOGIN; }));
    // Loosely: well under the ten-second login wait the window keeps.
    EXPECT_LT(took, 5s);
}

TEST(PelloryCli, SetIpRefusesZeroAddressesBeforeSendingAnything) {
    sim::SimProcess recorder({"--verbose"});
    struct Case {
        const char* ip;
        const char* mask;
        const char* gateway;
        const char* text;
    };
    for (const Case& c : {Case{"0.0.0.0", "255.0.0.0", "127.0.0.1", "Device IP address is invalid!"},
                          Case{"127.0.0.9", "0.0.0.0", "127.0.0.1", "Device Subnet mask is invalid!"},
                          Case{"127.0.0.9", "255.0.0.0", "0.0.0.0", "Device Default gateway is invalid!"},
                          Case{"127.0.0.300", "255.0.0.0", "127.0.0.1", "not a dotted IPv4 address"}}) {
        const ChildResult r =
            RunProgram(Join({kCli, "set-ip", "--mac", Mac(1), "--user", "admin", "--password-env", "KST_PW",
                             "--ip", c.ip, "--mask", c.mask, "--gateway", c.gateway},
                            Endpoint(recorder)),
                       {.env = {{"KST_PW", "admin"}}});
        EXPECT_EQ(r.status, 2) << c.text << "\n" << r.err;
        EXPECT_TRUE(Has(r.err, c.text)) << r.err;
    }
    const ChildResult r =
        RunProgram(Join({kCli, "set-ip", "--mac", Mac(1), "--user", "", "--password-env", "KST_PW", "--ip",
                         "127.0.0.9", "--mask", "255.0.0.0", "--gateway", "127.0.0.1"},
                        Endpoint(recorder)),
                   {.env = {{"KST_PW", "admin"}}});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Has(r.err, "User name can not be null!")) << r.err;
    EXPECT_FALSE(SimPrinted(recorder, "search request"));
}

class PelloryCliDataFile : public ::testing::Test {
protected:
    void SetUp() override { WriteFile(m_dir / "pw", "s3cret pass\n"); }

    std::vector<std::string> Register(std::vector<std::string> more) { return Register(more, m_data); }
    std::vector<std::string> Register(std::vector<std::string> more, const std::filesystem::path& data) {
        std::vector<std::string> args = {kCli,     "register", "--data",          data.string(),
                                         "--user", "admin",    "--password-file", (m_dir / "pw").string()};
        return Join(args, more);
    }

    TempDir m_dir;
    std::filesystem::path m_data = m_dir / "Data.xml";
};

TEST_F(PelloryCliDataFile, RegistrationIsSavedOnceWithTheDialogsRecord) {
    const ChildResult r = RunProgram(Register({"--ip", "192.168.1.108", "--port", "37777", "--name",
                                               "  Gate  ", "--channels", "3", "--camera-types", "1,0,1"}));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "Registered \"Gate\"")) << r.out;

    // An outside reader takes the file as well-formed XML.
    EXPECT_EQ(RunProgram({"/usr/bin/xmllint", "--noout", m_data.string()}).status, 0);
    const std::string text = ReadFile(m_data);
    EXPECT_TRUE(Has(text, "\r\n")); // written with CR LF, as the client expects
    // The device and its channels: video channels 0 to 2 carry the camera types.
    EXPECT_TRUE(Has(text, R"(<DEV id="2" type="0" name="Gate_1" channel="0" desc="" CameraType="1"/>)"))
        << text;
    EXPECT_TRUE(Has(text, R"(<DEV id="4" type="0" name="Gate_2" channel="1" desc="" CameraType="0"/>)"))
        << text;
    EXPECT_TRUE(Has(text, R"(<DEV id="6" type="0" name="Gate_3" channel="2" desc="" CameraType="1"/>)"))
        << text;
    EXPECT_FALSE(Has(text, "s3cret")) << text;

    // Read back through the data file object: the name is stored as given, without a row counter,
    // and the password deciphers to what was given.
    ClientDataFile file(m_data);
    ASSERT_EQ(file.deviceCount(), 1);
    DeviceRecord d{};
    ASSERT_EQ(file.getDevices(&d, sizeof d), 1);
    EXPECT_EQ(d.id, 1u);
    EXPECT_EQ(fieldText(d.name), "Gate");
    EXPECT_EQ(fieldText(d.host), "192.168.1.108");
    EXPECT_EQ(d.port, 37777u);
    EXPECT_EQ(d.channelCount, 3);
    EXPECT_EQ(d.orgId, 0u);
    EXPECT_EQ(fieldText(d.username), "admin");
    EXPECT_EQ(fieldText(d.password), "s3cret pass");

    // devices lists it, never with its password.
    const ChildResult list = RunProgram({kCli, "devices", "--data", m_data.string(), "--format", "json"});
    ASSERT_EQ(list.status, 0) << list.err;
    const nlohmann::json devices = nlohmann::json::parse(list.out);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0], (nlohmann::json{{"id", 1},
                                          {"name", "Gate"},
                                          {"host", "192.168.1.108"},
                                          {"port", 37777},
                                          {"channels", 3},
                                          {"orgId", 0},
                                          {"username", "admin"}}));
    EXPECT_FALSE(Has(list.out, "password"));
    EXPECT_FALSE(Has(list.out, "s3cret"));

    const ChildResult csv = RunProgram({kCli, "devices", "--data", m_data.string(), "--format", "csv"});
    EXPECT_EQ(ParseCsv(csv.out).records,
              (std::vector<std::vector<std::string>>{
                  {"Id", "Device Name", "Host", "Port", "Total Channel", "Organization", "User Name"},
                  {"1", "Gate", "192.168.1.108", "37777", "3", "0", "admin"}}));
}

TEST_F(PelloryCliDataFile, RegistrationUnderAnOrganisationOfTheFile) {
    WriteFile(m_data, "<DATAROOT>\r\n\t<ORGINFO>\r\n\t\t<ORG id=\"7\" name=\"Site A\"/>\r\n\t</ORGINFO>\r\n"
                      "\t<GLOBAL index=\"8\"/>\r\n</DATAROOT>\r\n");
    ChildResult r = RunProgram(
        Register({"--ip", "10.0.0.5", "--port", "37777", "--name", "Hall", "--channels", "1", "--org", "7"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(ReadFile(m_data), R"(name="Hall" host="10.0.0.5")")) << ReadFile(m_data);
    EXPECT_TRUE(Has(ReadFile(m_data), R"(OrgId="7")"));

    const std::string before = ReadFile(m_data);
    r = RunProgram(Register(
        {"--ip", "10.0.0.6", "--port", "37777", "--name", "Hall2", "--channels", "1", "--org", "9"}));
    EXPECT_EQ(r.status, 10) << r.err;
    EXPECT_TRUE(Has(r.err, "no organisation 9")) << r.err;
    EXPECT_EQ(ReadFile(m_data), before);
}

TEST_F(PelloryCliDataFile, TheStoresRefusalsLeaveTheFileAsItWas) {
    ASSERT_EQ(RunProgram(
                  Register({"--ip", "192.168.1.108", "--port", "37777", "--name", "Gate", "--channels", "2"}))
                  .status,
              0);
    const std::string before = ReadFile(m_data);
    struct Case {
        std::vector<std::string> args;
        const char* text;
    };
    for (const Case& c :
         {Case{{"--ip", "192.168.1.109", "--port", "37777", "--name", "Gate", "--channels", "2"},
               "pellory-cli: The name of this device has existed!"},
          Case{{"--ip", "192.168.1.108", "--port", "37777", "--name", "Door", "--channels", "2"},
               "pellory-cli: IP or domain name of this device has existed!"}}) {
        const ChildResult r = RunProgram(Register(c.args));
        EXPECT_EQ(r.status, 10) << c.text;
        EXPECT_TRUE(Has(r.err, c.text)) << r.err;
        EXPECT_EQ(ReadFile(m_data), before);
    }
    // Another port on the same address is another recorder.
    EXPECT_EQ(RunProgram(
                  Register({"--ip", "192.168.1.108", "--port", "37778", "--name", "Door", "--channels", "2"}))
                  .status,
              0);
}

TEST_F(PelloryCliDataFile, BadOptionsAreUsageErrorsAndNoFileChanges) {
    ASSERT_EQ(RunProgram(
                  Register({"--ip", "192.168.1.108", "--port", "37777", "--name", "Gate", "--channels", "2"}))
                  .status,
              0);
    const std::string before = ReadFile(m_data);
    const std::string longName(64, 'n');
    struct Case {
        std::vector<std::string> args;
        std::string text;
    };
    const std::vector<Case> cases = {
        {{"--ip", "10.0.0.1", "--port", "37777", "--name", "   ", "--channels", "2"},
         "Device Name is invalid!"},
        {{"--ip", "10.0.0.1", "--port", "37777", "--name", "X", "--channels", "0"},
         "The channel's number must be between 1 and 16!"},
        {{"--ip", "10.0.0.1", "--port", "37777", "--name", "X", "--channels", "17"},
         "The channel's number must be between 1 and 16!"},
        {{"--ip", "10.0.0.1", "--port", "37777", "--name", "X", "--channels", "2", "--camera-types", "0,2"},
         "each type is 0"},
        {{"--ip", "10.0.0.1", "--port", "37777", "--name", "X", "--channels", "2", "--camera-types", "0,1,1"},
         "3 types for 2 channels"},
        {{"--ip", "10.0.0.1", "--port", "37777", "--name", longName, "--channels", "2"},
         "longer than 63 bytes"},
        {{"--ip", "10.0.0.1", "--port", "37777", "--name", "a\"b'c", "--channels", "2"}, "cannot be stored"},
        {{"--ip", "10.0.0", "--port", "37777", "--name", "X", "--channels", "2"},
         "not a dotted IPv4 address"},
        {{"--ip", "10.0.0.1", "--port", "0", "--name", "X", "--channels", "2"}, "--port"},
        {{"--ip", "10.0.0.1", "--name", "X", "--channels", "2"}, "--port"},
        {{"--ip", "10.0.0.1", "--port", "37777", "--name", "X", "--channels", "2", "--password", "x"},
         "process list"},
    };
    for (const Case& c : cases) {
        const ChildResult r = RunProgram(Register(c.args));
        EXPECT_EQ(r.status, 2) << c.text << "\n" << r.err;
        EXPECT_TRUE(Has(r.err, c.text)) << c.text << "\n" << r.err;
        EXPECT_EQ(ReadFile(m_data), before) << c.text;
    }
    // Without a password source, and no terminal to ask on.
    const ChildResult r = RunProgram({kCli, "register", "--data", m_data.string(), "--user", "admin", "--ip",
                                      "10.0.0.1", "--port", "1", "--name", "X", "--channels", "2"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Has(r.err, "no terminal")) << r.err;
    EXPECT_EQ(ReadFile(m_data), before);
    // Data.xml, its lock file and pw: no temporary file either
    EXPECT_EQ(FolderEntries(m_dir.path()).size(), 3u);
}

TEST_F(PelloryCliDataFile, UnusableDataFilesAreRefused) {
    ChildResult r = RunProgram({kCli, "devices", "--data", (m_dir / "none.xml").string()});
    EXPECT_EQ(r.status, 9);
    EXPECT_TRUE(Has(r.err, "no such file")) << r.err;
    // A file name with a terminal escape is named, never obeyed.
    r = RunProgram({kCli, "devices", "--data", (m_dir / "\x1b[2Jnone.xml").string()});
    EXPECT_EQ(r.status, 9);
    EXPECT_TRUE(Has(r.err, "\\x1b[2Jnone.xml: no such file")) << r.err;

    r = RunProgram(Register({"--ip", "10.0.0.1", "--port", "1", "--name", "X", "--channels", "1"},
                            m_dir / "no" / "Data.xml"));
    EXPECT_EQ(r.status, 9) << r.err;
    EXPECT_TRUE(Has(r.err, "does not exist")) << r.err;

    r = RunProgram(
        Register({"--ip", "10.0.0.1", "--port", "1", "--name", "X", "--channels", "1"}, m_dir.path()));
    EXPECT_EQ(r.status, 9) << r.err;
    EXPECT_TRUE(Has(r.err, "is not a file")) << r.err;
}
