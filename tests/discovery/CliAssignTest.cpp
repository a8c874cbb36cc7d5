// pellory-cli assign run as a child process against recorder-sim playing a batch of recorders
// fresh from the factory, all on one address.

#include "discovery/DeviceMarks.h"
#include "simulator/SimProcess.h"
#include "tests/common/ChildProgram.h"
#include "tests/common/CsvText.h"
#include "tests/common/Files.h"
#include "tests/common/TempDir.h"
#include "tests/discovery/PelloryCliKit.h"

#include <csignal>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace std::chrono_literals;

namespace {

// A batch of `count` recorders on 127.0.1.108, mask 255.255.255.0, gateway 127.0.1.1.
std::vector<std::string> Batch(unsigned count, std::vector<std::string> more = {}) {
    return Join({"--no-upgrade", "--verbose", "--count", std::to_string(count), "--same-address",
                 "--device-address", "127.0.1.108", "--device-mask", "255.255.255.0", "--device-gateway",
                 "127.0.1.1"},
                more);
}

std::vector<std::string> Assign(const sim::SimProcess& recorder, const std::vector<std::string>& more) {
    return Join(Join({kCli, "assign", "--scan-time", "0.5", "--timeout", "5", "--user", "admin",
                      "--password-env", "KST_PW"},
                     Endpoint(recorder)),
                more);
}

ChildResult RunAssign(const std::vector<std::string>& args) {
    return RunProgram(args, {.env = {{"KST_PW", "admin"}}});
}

nlohmann::json Scan(const sim::SimProcess& recorder) {
    const ChildResult r =
        RunProgram(Join({kCli, "scan", "--timeout", "0.5", "--format", "json"}, Endpoint(recorder)));
    return nlohmann::json::parse(r.out);
}

// The recorder's lines once it has handled everything sent before this call: a login under a
// name of its own goes after it, and the recorder answers datagrams in the order they came.
std::vector<std::string> SettledLines(const sim::SimProcess& recorder, const std::string& marker) {
    RunProgram(Join({kCli, "set-ip", "--mac", Mac(1), "--user", marker, "--password-env", "KST_PW", "--ip",
                     "127.0.1.9", "--mask", "255.255.255.0", "--gateway", "127.0.1.1", "--timeout", "5"},
                    Endpoint(recorder)),
               {.env = {{"KST_PW", "x"}}});
    EXPECT_TRUE(
        recorder.waitForLine([&](const std::string& l) { return Has(l, "\"" + marker + "\""); }, 20s));
    return recorder.lines();
}

} // namespace

// Recorders 3 and 1, numbered from the factory address itself: it is in use, so they get the next
// two; the others keep the shared address and stay marked as conflicting.
TEST(PelloryCliAssign, MacsAreNumberedPassingOverAddressesInUse) {
    sim::SimProcess recorder(Batch(4));
    const ChildResult r = RunAssign(
        Assign(recorder, {"--mac", Mac(3), "--mac", "02-53-49-4d-00-01", "--first-ip", "127.0.1.108",
                          "--mask", "255.255.255.0", "--gateway", "127.0.1.1", "--format", "json"}));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto results = nlohmann::json::parse(r.out);
    ASSERT_EQ(results.size(), 2u) << r.out;
    EXPECT_EQ(results[0], (nlohmann::json{{"mac", Mac(3)},
                                          {"old_ip", "127.0.1.108"},
                                          {"ip", "127.0.1.109"},
                                          {"mask", "255.255.255.0"},
                                          {"gateway", "127.0.1.1"},
                                          {"result", "modified"},
                                          {"message", "Modified IP address successfully!"}}));
    EXPECT_EQ(results[1].at("mac"), Mac(1));
    EXPECT_EQ(results[1].at("ip"), "127.0.1.110");
    EXPECT_TRUE(
        SimPrinted(recorder, "recorder 3: modify IP to 127.0.1.109 mask 255.255.255.0 gateway 127.0.1.1"));
    EXPECT_TRUE(
        SimPrinted(recorder, "recorder 1: modify IP to 127.0.1.110 mask 255.255.255.0 gateway 127.0.1.1"));

    const nlohmann::json list = Scan(recorder);
    ASSERT_EQ(list.size(), 4u);
    for (const auto& d : list) {
        const bool moved = d.at("mac") == Mac(1) || d.at("mac") == Mac(3);
        EXPECT_EQ(d.at("conflict"), !moved) << d;
        EXPECT_EQ(d.at("subnet"), "local") << d;
        EXPECT_EQ(d.size(), 8u);
    }
}

// Recorder 2 refuses every login: the others are changed all the same, and the status says that
// not all were.
TEST(PelloryCliAssign, APlanWithOneRecorderRefusingTheLoginEndsWithStatus12) {
    sim::SimProcess recorder(Batch(3, {"--refuse-login-of", "2"}));
    TempDir dir;
    // As a spreadsheet saves it: a byte order mark, CR LF, quotes, blank mask and gateway.
    WriteFile(dir / "plan.csv", "\xEF\xBB\xBFmac,ip,mask,gateway\r\n" + Mac(1) + ",127.0.1.21,,\r\n" +
                                    Mac(2) + ",127.0.1.22,255.255.0.0,127.0.0.1\r\n\"" + Mac(3) +
                                    "\",\"127.0.1.23\",255.255.255.0,\r\n\r\n");
    const ChildResult r =
        RunAssign(Assign(recorder, {"--plan", (dir / "plan.csv").string(), "--mask", "255.255.255.0",
                                    "--gateway", "127.0.1.1", "--format", "csv"}));
    EXPECT_EQ(r.status, 12) << r.out << r.err;
    EXPECT_EQ(ParseCsv(r.out).records,
              (std::vector<std::vector<std::string>>{
                  {"Mac Address", "Old Address", "New Address", "Result"},
                  {Mac(1), "127.0.1.108", "127.0.1.21", "modified"},
                  {Mac(2), "127.0.1.108", "127.0.1.22", "login refused: Invalid password!"},
                  {Mac(3), "127.0.1.108", "127.0.1.23", "modified"}}));
    const auto lines = SettledLines(recorder, "marker");
    EXPECT_TRUE(
        SimPrinted(recorder, "recorder 1: modify IP to 127.0.1.21 mask 255.255.255.0 gateway 127.0.1.1"));
    EXPECT_TRUE(
        SimPrinted(recorder, "recorder 3: modify IP to 127.0.1.23 mask 255.255.255.0 gateway 127.0.1.1"));
    EXPECT_FALSE(SimPrinted(recorder, "recorder 2: modify IP"));

    // With every recorder changed the same run ends with 0, in a table.
    const ChildResult again =
        RunAssign(Assign(recorder, {"--mac", Mac(1), "--first-ip", "127.0.1.30", "--mask", "255.255.255.0",
                                    "--gateway", "127.0.1.1"}));
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(Lines(again.out),
              (std::vector<std::string>{"Mac Address        Old Address  New Address  Result",
                                        Mac(1) + "  127.0.1.21   127.0.1.30   modified"}));
}

// Each plan that cannot be carried out whole is refused with status 2 before any recorder hears a
// login or a modify-IP request.
TEST(PelloryCliAssign, PlansThatCannotBeCarriedOutAreRefusedAndNothingIsSent) {
    sim::SimProcess recorder(Batch(3));
    TempDir dir;
    const auto plan = [&](const std::string& name, const std::string& lines) {
        WriteFile(dir / name, "mac,ip,mask,gateway\n" + lines);
        return (dir / name).string();
    };
    const std::vector<std::string> options = {"--mask", "255.255.255.0", "--gateway", "127.0.1.1"};
    struct Case {
        std::vector<std::string> args;
        std::string text;
    };
    const std::vector<Case> cases = {
        {{"--mac", Mac(1), "--mac", Mac(9), "--first-ip", "127.0.1.20"},
         Mac(9) + ": no recorder with this MAC address answered the search"},
        {{"--plan", plan("same.csv", Mac(1) + ",127.0.1.20,,\n" + Mac(2) + ",127.0.1.20,,\n")},
         "127.0.1.20 would be given to both " + Mac(1) + " and " + Mac(2)},
        {{"--plan", plan("gateway.csv", Mac(1) + ",127.0.1.20,,\n" + Mac(2) + ",127.0.1.21,,127.0.2.1\n")},
         Mac(2) + ": the gateway 127.0.2.1 is outside the subnet of 127.0.1.21 with mask 255.255.255.0"},
        {{"--plan", plan("taken.csv", Mac(1) + ",127.0.1.108,,\n")},
         Mac(1) + ": 127.0.1.108 is in use by the recorder " + Mac(2)},
        {{"--mac", Mac(1), "--mac", Mac(2), "--first-ip", "127.0.1.254"},
         "the subnet of 127.0.1.254 with mask 255.255.255.0 has no free address left for every recorder"},
        {{"--mac", Mac(1), "--first-ip", "127.0.1.20", "--gateway", "127.0.9.1"},
         Mac(1) + ": the gateway 127.0.9.1 is outside the subnet"},
        {{"--plan", plan("header.csv", "") + "x"}, "cannot be read"},
        {{"--plan", plan("fields.csv", Mac(1) + ",127.0.1.20\n")},
         "line 2: 2 fields where mac,ip,mask,gateway"},
        {{"--plan", plan("address.csv", Mac(1) + ",127.0.1.999,,\n")},
         "\"127.0.1.999\" is not a dotted IPv4"},
        {{"--mac", Mac(1), "--first-ip", "127.0.1.20", "--plan", plan("both.csv", "")},
         "give either --mac with --first-ip, or --plan"},
    };
    for (const Case& c : cases) {
        const bool ownGateway = std::find(c.args.begin(), c.args.end(), "--gateway") != c.args.end();
        const ChildResult r = RunAssign(
            Assign(recorder,
                   Join(ownGateway ? std::vector<std::string>{"--mask", "255.255.255.0"} : options, c.args)));
        EXPECT_EQ(r.status, 2) << c.text << "\n" << r.out << r.err;
        EXPECT_TRUE(Has(r.err, c.text)) << r.err;
        EXPECT_EQ(r.out, "");
    }
    for (const std::string& line : SettledLines(recorder, "marker")) {
        EXPECT_FALSE(Has(line, "modify IP")) << line;
        EXPECT_FALSE(Has(line, "login as \"admin\"")) << line;
    }
}

// Two recorders on one address outside every subnet of this machine: both marked in JSON, and
// the table adds a trailing marker while CSV keeps its six columns.
TEST(PelloryCliAssign, ScanMarksSharedAddressesAndOtherSubnets) {
    const std::uint32_t foreign = 0xC6336407; // 198.51.100.7, a documentation address
    if (markDevices({foreign}, localNetworks()).at(0).otherSubnet == false) {
        GTEST_SKIP() << "this machine has an address on 198.51.100.0";
    }
    sim::SimProcess recorder(
        {"--no-upgrade", "--count", "2", "--same-address", "--device-address", "198.51.100.7"});
    const nlohmann::json list = Scan(recorder);
    ASSERT_EQ(list.size(), 2u);
    for (const auto& d : list) {
        EXPECT_EQ(d.at("conflict"), true);
        EXPECT_EQ(d.at("subnet"), "other");
    }
    ChildResult r = RunProgram(Join({kCli, "scan", "--timeout", "0.5"}, Endpoint(recorder)));
    ASSERT_EQ(Lines(r.out).size(), 3u) << r.out;
    EXPECT_TRUE(Lines(r.out)[1].ends_with(Mac(1) + "  address conflict, other subnet")) << r.out;
    r = RunProgram(Join({kCli, "scan", "--timeout", "0.5", "--format", "csv"}, Endpoint(recorder)));
    for (const auto& record : ParseCsv(r.out).records) {
        EXPECT_EQ(record.size(), 6u);
    }
}

// Ctrl-C while the search is still collecting answers ends the command at once, before any
// recorder hears a login.
TEST(PelloryCliAssign, CtrlCWhileSearchingEndsAtOnceWithNothingSent) {
    sim::SimProcess recorder(Batch(2));
    ChildProgram child(
        Join({kCli, "assign", "--scan-time", "600", "--user", "admin", "--password-env", "KST_PW", "--mac",
              Mac(1), "--first-ip", "127.0.1.20", "--mask", "255.255.255.0", "--gateway", "127.0.1.1"},
             Endpoint(recorder)),
        {.env = {{"KST_PW", "admin"}}});
    ASSERT_TRUE(recorder.waitForLine([](const std::string& l) { return l == "search request"; }, 20s));
    child.Signal(SIGINT);
    // Far below the ten minutes of searching asked for.
    const ChildResult r = child.Finish(60s);
    EXPECT_EQ(r.status, 128 + SIGINT) << r.err;
    EXPECT_TRUE(Has(r.err, "stopped while searching; nothing was sent to any recorder")) << r.err;
    for (const std::string& line : SettledLines(recorder, "marker")) {
        EXPECT_FALSE(Has(line, "login as \"admin\"")) << line;
    }
}
