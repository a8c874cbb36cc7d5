// Marks of the recorder list, and the numbering and checks of a plan of new addresses, without a
// network: addresses and interfaces are given by hand.

#include "discovery/ModifyIpPlan.h"
#include "discovery/DeviceMarks.h"
#include "discovery/DiscoveryProtocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::uint32_t ip(const char* dotted) {
    return parseIpv4(dotted).value();
}

std::vector<std::uint32_t> ips(std::initializer_list<const char*> dotted) {
    std::vector<std::uint32_t> out;
    for (const char* d : dotted) {
        out.push_back(ip(d));
    }
    return out;
}

// This machine: a wired address on 192.168.1.0/24, a Wi-Fi address on 10.20.0.0/16, and loopback.
const std::vector<LocalNetwork> kMachine = {{ip("192.168.1.5"), ip("255.255.255.0"), false},
                                            {ip("10.20.3.4"), ip("255.255.0.0"), false},
                                            {ip("127.0.0.1"), ip("255.0.0.0"), true}};

} // namespace

TEST(DeviceMarks, SharedAndMachineAddressesConflictAndForeignSubnetsAreOther) {
    const auto rows = ips({"192.168.1.108", "192.168.1.108", "192.168.1.5", "10.20.200.1", "172.16.0.9",
                           "127.0.0.1", "192.168.1.108", "172.16.0.10"});
    struct Expected {
        bool conflict;
        std::size_t others;
        bool machine;
        bool other;
    };
    const std::vector<Expected> expected = {
        {true, 2, false, false}, {true, 2, false, false},  {true, 0, true, false},  {false, 0, false, false},
        {false, 0, false, true}, {false, 0, false, false}, {true, 2, false, false}, {false, 0, false, true},
    };
    const auto marks = markDevices(rows, kMachine);
    ASSERT_EQ(marks.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i) + " " + formatIpv4(rows[i]));
        EXPECT_EQ(marks[i].conflict, expected[i].conflict);
        EXPECT_EQ(marks[i].othersAtAddress, expected[i].others);
        EXPECT_EQ(marks[i].machineAddress, expected[i].machine);
        EXPECT_EQ(marks[i].otherSubnet, expected[i].other);
    }
    // Without any interface every recorder is on another subnet.
    EXPECT_TRUE(markDevices(ips({"127.0.0.1"}), {}).at(0).otherSubnet);
}

TEST(ModifyIpPlan, SubnetRefusals) {
    struct Case {
        const char* address;
        const char* mask;
        const char* gateway;
        bool refused;
    };
    const std::vector<Case> cases = {
        {"192.168.1.120", "255.255.255.0", "192.168.1.1", false},
        {"192.168.1.120", "255.255.255.0", "192.168.2.1", true}, // gateway outside
        {"192.168.1.120", "255.255.0.0", "192.168.2.1", false},  // inside the wider subnet
        {"192.168.1.120", "255.0.255.0", "192.168.1.1", true},   // holes in the mask
        {"192.168.1.0", "255.255.255.0", "192.168.1.1", true},   // the subnet's own address
        {"192.168.1.255", "255.255.255.0", "192.168.1.1", true}, // its broadcast address
        {"10.0.0.2", "255.255.255.254", "10.0.0.3", false},      // a two-address link
        {"10.0.0.2", "255.255.255.255", "10.0.0.2", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.address) + "/" + c.mask + " via " + c.gateway);
        EXPECT_EQ(!subnetRefusal(ip(c.address), ip(c.mask), ip(c.gateway)).empty(), c.refused);
    }
    EXPECT_EQ(subnetRefusal(ip("192.168.1.120"), ip("255.255.255.0"), ip("192.168.2.1")),
              "the gateway 192.168.2.1 is outside the subnet of 192.168.1.120 with mask 255.255.255.0");
}

TEST(ModifyIpPlan, NumberingPassesOverAddressesInUseAndStopsAtTheSubnetsEnd) {
    const std::unordered_set<std::uint32_t> inUse = {ip("192.168.1.108"), ip("192.168.1.110"),
                                                     ip("192.168.1.5")};
    EXPECT_EQ(numberAddresses(ip("192.168.1.107"), ip("255.255.255.0"), 4, inUse),
              ips({"192.168.1.107", "192.168.1.109", "192.168.1.111", "192.168.1.112"}));
    EXPECT_EQ(numberAddresses(ip("192.168.1.253"), ip("255.255.255.0"), 1, inUse), ips({"192.168.1.253"}));
    // .255 is the broadcast address: two recorders from .253 do not fit.
    EXPECT_EQ(numberAddresses(ip("192.168.1.253"), ip("255.255.255.0"), 3, inUse), std::nullopt);
    EXPECT_EQ(numberAddresses(ip("192.168.1.0"), ip("255.255.255.0"), 1, {}), ips({"192.168.1.1"}));
    EXPECT_EQ(numberAddresses(ip("255.255.255.254"), ip("255.255.255.0"), 2, {}), std::nullopt);
    EXPECT_EQ(numberAddresses(ip("10.0.0.1"), ip("255.0.0.0"), 0, {}), std::vector<std::uint32_t>{});
    // A single-address subnet holds one recorder; the widest one ends at the top of the address space.
    EXPECT_EQ(numberAddresses(ip("10.0.0.2"), ip("255.255.255.255"), 1, {}), ips({"10.0.0.2"}));
    EXPECT_EQ(numberAddresses(ip("10.0.0.2"), ip("255.255.255.255"), 2, {}), std::nullopt);
    EXPECT_EQ(numberAddresses(ip("255.255.255.253"), ip("0.0.0.0"), 2, {}),
              ips({"255.255.255.253", "255.255.255.254"}));
    EXPECT_EQ(numberAddresses(ip("255.255.255.253"), ip("0.0.0.0"), 3, {}), std::nullopt);
}

TEST(ModifyIpPlan, NumberedPlansPassOverListedAndMachineAddressesInTheOrderGiven) {
    const std::vector<ListedRecorder> listed = {{0, "02:53:49:4D:00:01", ip("192.168.1.108")},
                                                {1, "02:53:49:4D:00:02", ip("192.168.1.109")}};
    const NumberedPlan plan =
        numberPlan({"02:53:49:4D:00:02", "02:53:49:4D:00:01"}, ip("192.168.1.107"), ip("255.255.255.0"),
                   ip("192.168.1.1"), listed, {ip("192.168.1.110")});
    EXPECT_EQ(plan.refusal, "");
    ASSERT_EQ(plan.lines.size(), 2u);
    EXPECT_EQ(plan.lines[0].mac, "02:53:49:4D:00:02");
    EXPECT_EQ(plan.lines[0].address, ip("192.168.1.107"));
    EXPECT_EQ(plan.lines[1].address, ip("192.168.1.111"));
    EXPECT_EQ(plan.lines[1].gateway, ip("192.168.1.1"));
    const NumberedPlan full =
        numberPlan({"a", "b"}, ip("192.168.1.254"), ip("255.255.255.0"), ip("192.168.1.1"), listed, {});
    EXPECT_TRUE(full.lines.empty());
    EXPECT_EQ(
        full.refusal,
        "the subnet of 192.168.1.254 with mask 255.255.255.0 has no free address left for every recorder");
}

TEST(ModifyIpPlan, PlansAreCheckedWholeAgainstTheRecordersListed) {
    const std::vector<ListedRecorder> listed = {{0, "02:53:49:4D:00:01", ip("192.168.1.108")},
                                                {1, "02:53:49:4D:00:02", ip("192.168.1.108")},
                                                {2, "02:53:49:4D:00:03", ip("192.168.1.50")},
                                                {3, "AA:AA:AA:AA:AA:AA", ip("192.168.1.60")},
                                                {4, "aa-aa-aa-aa-aa-aa", ip("192.168.1.61")}};
    const std::unordered_set<std::uint32_t> machine = {ip("192.168.1.5")};
    const auto line = [](const char* mac, const char* address, const char* gateway = "192.168.1.1") {
        return PlanLine{mac, ip(address), ip("255.255.255.0"), ip(gateway)};
    };
    struct Case {
        const char* what;
        std::vector<PlanLine> plan;
        std::string refusal; // empty: accepted
    };
    const std::vector<Case> cases = {
        {"good",
         {line("02-53-49-4d-00-02", "192.168.1.120"), line("02:53:49:4D:00:01", "192.168.1.121")},
         ""},
        {"a recorder keeps its own address", {line("02:53:49:4D:00:03", "192.168.1.50")}, ""},
        {"unknown MAC",
         {line("02:53:49:4D:00:01", "192.168.1.120"), line("02:53:49:4D:00:09", "192.168.1.121")},
         "02:53:49:4D:00:09: no recorder with this MAC address answered the search"},
        {"two recorders, one address",
         {line("02:53:49:4D:00:01", "192.168.1.120"), line("02:53:49:4D:00:02", "192.168.1.120")},
         "192.168.1.120 would be given to both 02:53:49:4D:00:01 and 02:53:49:4D:00:02"},
        {"an address another recorder uses",
         {line("02:53:49:4D:00:01", "192.168.1.50")},
         "02:53:49:4D:00:01: 192.168.1.50 is in use by the recorder 02:53:49:4D:00:03"},
        {"the factory address the others still share",
         {line("02:53:49:4D:00:01", "192.168.1.108")},
         "02:53:49:4D:00:01: 192.168.1.108 is in use by the recorder 02:53:49:4D:00:02"},
        {"this machine's address",
         {line("02:53:49:4D:00:01", "192.168.1.5")},
         "02:53:49:4D:00:01: 192.168.1.5 is an address of this machine"},
        {"gateway outside",
         {line("02:53:49:4D:00:01", "192.168.1.120", "192.168.7.1")},
         "02:53:49:4D:00:01: the gateway 192.168.7.1 is outside the subnet of 192.168.1.120 with mask "
         "255.255.255.0"},
        {"named twice",
         {line("02:53:49:4D:00:01", "192.168.1.120"), line("02:53:49:4d:00:01", "192.168.1.121")},
         "02:53:49:4D:00:01: named twice"},
        {"a MAC two recorders answer with",
         {line("AA:AA:AA:AA:AA:AA", "192.168.1.120")},
         "AA:AA:AA:AA:AA:AA: several recorders answered with this MAC address"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const PlanCheck check = checkPlan(c.plan, listed, machine);
        EXPECT_EQ(check.refusal, c.refusal);
        EXPECT_EQ(check.changes.size(), c.refusal.empty() ? c.plan.size() : 0u);
    }
    const PlanCheck good = checkPlan(cases[0].plan, listed, machine);
    ASSERT_EQ(good.changes.size(), 2u);
    EXPECT_EQ(good.changes[0].row, 1u);
    EXPECT_EQ(good.changes[0].mac, "02:53:49:4D:00:02");
    EXPECT_EQ(good.changes[0].oldAddress, ip("192.168.1.108"));
    EXPECT_EQ(good.changes[0].address, ip("192.168.1.120"));
    EXPECT_EQ(good.changes[1].row, 0u);
}
