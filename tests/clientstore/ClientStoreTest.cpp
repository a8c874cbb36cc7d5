#include "clientstore/password/Password.h"
#include "tests/clientstore/StoreFixture.h"

#include <pthread.h>

#include <array>

namespace {

using Ids = std::vector<std::uint32_t>;
using Messages = std::vector<std::string>;

std::string decipher(const std::string& text) {
    std::array<char, 256> in{};
    text.copy(in.data(), in.size() - 1);
    std::array<char, 64> out{};
    DecryptStringEX(in.data(), out.data(), 1);
    return out.data();
}

TEST_F(StoreTest, NewFileAfterOneRegistrationIsTheExampleFile) {
    ClientStore& store = openStore();
    const DeviceRecord record = makeRecord("Hall1", "192.168.1.20", 5000, 2, 0, "user", "s3cret pw");
    ASSERT_EQ(store.addDevice(record), 1u);
    const std::int32_t codes[16] = {0, 1};
    ASSERT_EQ(data().setCameraTypes(1, codes, 2), 1);
    const std::string text = saved();

    const auto passwords = passwordValues(text);
    ASSERT_EQ(passwords.size(), 1u);
    EXPECT_EQ(decipher(passwords[0]), "s3cret pw");
    EXPECT_EQ(
        text,
        crlfLines({
            "<DATAROOT>",
            "\t<ORGINFO/>",
            "\t<DEVINFO>",
            "\t\t<DEV id=\"1\" ip=\"0\" name=\"Hall1\" host=\"192.168.1.20\" port=\"5000\" cameras=\"2\" "
            "ddnsFlag=\"0\" DDNSHost=\"\" DDNSPort=\"0\" desc=\"\" username=\"user\" OrgId=\"0\" "
            "password=\"" +
                passwords[0] + "\">",
            "\t\t\t<DEV id=\"2\" type=\"0\" name=\"Hall1_1\" channel=\"0\" desc=\"\" CameraType=\"0\"/>",
            "\t\t\t<DEV id=\"3\" type=\"1\" name=\"Hall1_alarm1\" channel=\"0\" desc=\"\"/>",
            "\t\t\t<DEV id=\"4\" type=\"0\" name=\"Hall1_2\" channel=\"1\" desc=\"\" CameraType=\"1\"/>",
            "\t\t\t<DEV id=\"5\" type=\"1\" name=\"Hall1_alarm2\" channel=\"1\" desc=\"\"/>",
            "\t\t</DEV>",
            "\t</DEVINFO>",
            "\t<GLOBAL index=\"6\"/>",
            "</DATAROOT>",
        }));

    // An outside reader sees the same structure.
    ASSERT_TRUE(xmllintAccepts(file));
    EXPECT_EQ(xpath(file, "count(//DEVINFO/DEV/DEV)"), "4");
    EXPECT_EQ(xpath(file, "string(//DEV[@id=4]/@CameraType)"), "1");
    EXPECT_EQ(xpath(file, "string(/DATAROOT/GLOBAL/@index)"), "6");

    ASSERT_EQ(store.devices().size(), 1u);
    const DeviceRecord& stored = store.devices().at(1);
    EXPECT_EQ(stored.id, 1u);
    EXPECT_EQ(fieldText(stored.name), "Hall1");
    EXPECT_EQ(fieldText(stored.password), "s3cret pw");
    ASSERT_EQ(store.orgDevices().size(), 1u);
    EXPECT_EQ(store.orgDevices().at(0).orgId, 0u);
    EXPECT_EQ(store.orgDevices().at(0).devices, Ids{1});
    EXPECT_TRUE(messages.empty());
}

TEST_F(StoreTest, ReloadGivesTheRegisteredDevicesBackWithTheirPasswords) {
    ClientStore& store = openStore();
    DeviceRecord ddns = makeRecord("Gate1", "gate.example", 37777, 4, 0, "admin", "");
    ddns.ddnsFlag = 1;
    copyToField(ddns.ddnsHost, "ddns.example");
    ddns.ddnsPort = 8080;
    ddns.ip = 3232235777u;
    ASSERT_EQ(store.addDevice(makeRecord("Hall1", "10.0.0.1", 5000, 1, 0, "u", "p\"w'<&>")), 1u);
    ASSERT_EQ(store.addDevice(ddns), 4u);
    ASSERT_TRUE(data().save());

    ClientStore& again = reopenStore();
    ASSERT_EQ(again.devices().size(), 2u);
    const DeviceRecord& a = again.devices().at(1);
    EXPECT_EQ(fieldText(a.password), "p\"w'<&>");
    EXPECT_EQ(a.channelCount, 1);
    const DeviceRecord& b = again.devices().at(4);
    EXPECT_EQ(fieldText(b.name), "Gate1");
    EXPECT_EQ(fieldText(b.host), "gate.example");
    EXPECT_EQ(fieldText(b.username), "admin");
    EXPECT_EQ(fieldText(b.password), "");
    EXPECT_EQ(fieldText(b.ddnsHost), "ddns.example");
    EXPECT_EQ(b.port, 37777u);
    EXPECT_EQ(b.ddnsFlag, 1u);
    EXPECT_EQ(b.ddnsPort, 8080u);
    EXPECT_EQ(b.ip, 3232235777u);
    EXPECT_EQ(b.channelCount, 4);
    EXPECT_EQ(again.orgDevices().at(0).devices, (Ids{1, 4}));
}

TEST_F(StoreTest, SameRecorderTwiceIsRefusedByNameThenByAddress) {
    ClientStore& store = openStore();
    ASSERT_EQ(store.addDevice(makeRecord("Hall1", "192.168.1.20", 5000, 2)), 1u);
    const std::string before = saved();

    EXPECT_EQ(store.addDevice(makeRecord("Hall1", "192.168.1.99", 6000, 2)), 0u);
    EXPECT_EQ(store.addDevice(makeRecord("Hall2", "192.168.1.20", 5000, 2)), 0u);
    EXPECT_EQ(messages, (Messages{"The name of this device has existed!",
                                  "IP or domain name of this device has existed!"}));
    // Another port on the same host is another recorder.
    EXPECT_EQ(store.addDevice(makeRecord("Hall3", "192.168.1.20", 5001, 0)), 6u);
    ASSERT_EQ(store.devices().size(), 2u);
}

TEST_F(StoreTest, RefusedAttemptsLeaveTheFileAsItWas) {
    ClientStore& store = openStore();
    ASSERT_EQ(store.addDevice(makeRecord("Hall1", "192.168.1.20", 5000, 2)), 1u);
    const std::string before = saved();
    EXPECT_EQ(store.addDevice(makeRecord("Hall1", "192.168.1.99", 6000, 2)), 0u);
    EXPECT_EQ(store.addDevice(makeRecord("Hall2", "192.168.1.20", 5000, 2)), 0u);
    EXPECT_EQ(store.addDevice(makeRecord("Hall3", "192.168.1.21", 5000, 2, 42)), 0u);
    EXPECT_EQ(saved(), before);
    EXPECT_EQ(messages.size(), 2u);
}

TEST_F(StoreTest, DdnsDevicesAreJudgedOnHostDdnsHostAndDdnsPort) {
    ClientStore& store = openStore();
    auto ddnsRecord = [](const std::string& name, const std::string& ddnsHost, std::uint32_t ddnsPort,
                         std::uint32_t port) {
        DeviceRecord r = makeRecord(name, "cam.example", port, 1);
        r.ddnsFlag = 1;
        copyToField(r.ddnsHost, ddnsHost);
        r.ddnsPort = ddnsPort;
        return r;
    };
    ASSERT_EQ(store.addDevice(ddnsRecord("A", "ddns1", 80, 37777)), 1u);
    // Same host and port, another DDNS server: accepted.
    EXPECT_EQ(store.addDevice(ddnsRecord("B", "ddns2", 80, 37777)), 4u);
    // Same DDNS port, another DDNS server port: accepted.
    EXPECT_EQ(store.addDevice(ddnsRecord("C", "ddns1", 81, 37777)), 7u);
    EXPECT_TRUE(messages.empty());
    // Host, DDNS host and DDNS port all equal: refused whatever the port.
    EXPECT_EQ(store.addDevice(ddnsRecord("D", "ddns1", 80, 1)), 0u);
    EXPECT_EQ(messages, Messages{"The settings of DDNS has existed!"});
    // Without DDNS the same host and port are a duplicate of A.
    EXPECT_EQ(store.addDevice(makeRecord("E", "cam.example", 37777, 1)), 0u);
    EXPECT_EQ(messages.back(), "IP or domain name of this device has existed!");
}

TEST_F(StoreTest, UnknownOrganisationIsRefusedSilently) {
    WriteFile(file, "<DATAROOT><ORGINFO><ORG id=\"3\" name=\"North\"/></ORGINFO></DATAROOT>");
    ClientStore& store = openStore();
    const std::string before = saved();
    EXPECT_EQ(store.addDevice(makeRecord("Hall1", "10.0.0.1", 5000, 1, 4)), 0u);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(saved(), before);
    EXPECT_EQ(store.addDevice(makeRecord("Hall1", "10.0.0.1", 5000, 1, 3)), 1u);
    EXPECT_EQ(store.orgDevices().at(3).devices, Ids{1});
    EXPECT_EQ(store.orgDevices().count(0), 0u);
}

TEST_F(StoreTest, TextTheFileCannotHoldIsRefusedBeforeTheDocumentChanges) {
    ClientStore& store = openStore();
    const std::string before = saved();
    EXPECT_EQ(store.addDevice(makeRecord("Say \"hi\" it's", "10.0.0.1", 5000, 1)), 0u);
    EXPECT_EQ(store.addDevice(makeRecord("Hall1", "10.0.0.1", 5000, 1, 0, "admin ")), 0u);
    EXPECT_EQ(store.addDevice(makeRecord("Hall1", "10.0.0.1\n", 5000, 1)), 0u);
    DeviceRecord r = makeRecord("Hall1", "10.0.0.1", 5000, 1);
    r.ddnsFlag = 1;
    copyToField(r.ddnsHost, "a'b\"c");
    EXPECT_EQ(store.addDevice(r), 0u);
    EXPECT_EQ(messages,
              (Messages{
                  "The name of this device cannot be saved: it holds both a double and a single quote.",
                  "The user name of this device cannot be saved: it begins or ends with a blank.",
                  "The IP or domain name of this device cannot be saved: it holds a control character.",
                  "The DDNS host of this device cannot be saved: it holds both a double and a single quote.",
              }));
    EXPECT_EQ(saved(), before);
    EXPECT_TRUE(store.devices().empty());

    // One kind of quote is written so that it reads back.
    messages.clear();
    ASSERT_EQ(store.addDevice(makeRecord("Say \"hi\"", "10.0.0.1", 5000, 1, 0, "it's")), 1u);
    ASSERT_TRUE(data().save());
    ClientStore& again = reopenStore();
    ASSERT_EQ(again.devices().count(1), 1u);
    EXPECT_EQ(fieldText(again.devices().at(1).name), "Say \"hi\"");
    EXPECT_EQ(fieldText(again.devices().at(1).username), "it's");
    EXPECT_EQ(data().findDeviceByName("Say \"hi\""), 1u);
    EXPECT_TRUE(messages.empty());
}

TEST_F(StoreTest, NonDeviceChildOfDevinfoIsFiledUnderIdZero) {
    WriteFile(file, "<DATAROOT><DEVINFO><!-- a note --><DEV id=\"7\" name=\"A\" OrgId=\"0\"/><FOO/>"
                    "</DEVINFO></DATAROOT>");
    ClientStore& store = openStore();
    ASSERT_EQ(store.devices().size(), 2u);
    const DeviceRecord& zero = store.devices().at(0);
    const DeviceRecord empty{};
    EXPECT_EQ(std::memcmp(&zero, &empty, sizeof empty), 0);
    EXPECT_EQ(store.orgDevices().at(0).devices, (Ids{0, 7, 0}));
    // FOO was not read: it gained no attributes.
    EXPECT_NE(saved().find("\t\t<FOO/>\r\n"), std::string::npos);
}

TEST_F(StoreTest, OrganisationsLoadDepthFirstWithEntryZeroForTheTopLevel) {
    WriteFile(file, "<DATAROOT><ORGINFO>"
                    "<ORG id=\"1\" name=\"North\"><ORG id=\"2\" name=\"Hall\"/><ORG id=\"3\" name=\"Yard\">"
                    "<ORG id=\"4\" name=\"Gate\"/></ORG></ORG>"
                    "<ORG id=\"007\" name=\"Seven\"><ORG id=\"8\" name=\"Inner\"/></ORG>"
                    "</ORGINFO></DATAROOT>");
    ClientStore& store = openStore();
    const auto& orgs = store.organisations();
    ASSERT_EQ(orgs.size(), 6u); // 0, 1, 2, 3, 4, 7
    EXPECT_EQ(orgs.at(0).children, (Ids{1, 7}));
    EXPECT_EQ(fieldText(orgs.at(0).name), "");
    EXPECT_EQ(orgs.at(1).children, (Ids{2, 3}));
    EXPECT_EQ(fieldText(orgs.at(3).name), "Yard");
    EXPECT_EQ(orgs.at(3).children, Ids{4});
    // "007" lists as 7 but is not found as 7, so its children stay unknown.
    EXPECT_EQ(fieldText(orgs.at(7).name), "Seven");
    EXPECT_TRUE(orgs.at(7).children.empty());
    EXPECT_EQ(orgs.count(8), 0u);
    EXPECT_EQ(data().orgChildCount(7), 0);
    // A device may be registered under a listed organisation.
    EXPECT_EQ(store.addDevice(makeRecord("Hall1", "10.0.0.1", 5000, 0, 4)), 1u);
    EXPECT_EQ(store.orgDevices().at(4).devices, Ids{1});
}

TEST_F(StoreTest, OrganisationEntriesWithIdZeroOrOfTheirOwnAncestorsAreSkipped) {
    // Listed as id 0: a comment, an ORG without id, an ORG with id "0" or "abc". An ORG inside
    // itself (id 1 inside 1, or "01" found as 1 by listing, then 1 by id) would lead back to itself.
    WriteFile(file, "<DATAROOT><ORGINFO>"
                    "<ORG id=\"1\" name=\"North\"><!-- c --><ORG name=\"NoId\"/><ORG id=\"0\" name=\"Zero\"/>"
                    "<ORG id=\"abc\"/><ORG id=\"1\" name=\"Again\"><ORG id=\"5\" name=\"Deep\"/></ORG>"
                    "<ORG id=\"2\" name=\"Hall\"><ORG id=\"01\" name=\"Loop\"/></ORG></ORG>"
                    "<!-- top --><FOO/>"
                    "</ORGINFO></DATAROOT>");
    ClientStore& store = openStore();
    const auto& orgs = store.organisations();
    ASSERT_EQ(orgs.size(), 3u); // 0, 1, 2
    EXPECT_EQ(orgs.at(0).children, Ids{1});
    EXPECT_EQ(fieldText(orgs.at(1).name), "North");
    EXPECT_EQ(orgs.at(1).children, Ids{2});
    EXPECT_TRUE(orgs.at(2).children.empty());
}

TEST_F(StoreTest, RepeatedOrganisationIdIsListedUnderEachParentWithTheLaterName) {
    WriteFile(
        file,
        "<DATAROOT><ORGINFO><ORG id=\"1\" name=\"A\"><ORG id=\"3\" name=\"X\"><ORG id=\"4\"/></ORG></ORG>"
        "<ORG id=\"2\" name=\"B\"><ORG id=\"3\" name=\"Y\"/></ORG></ORGINFO></DATAROOT>");
    ClientStore& store = openStore();
    const auto& orgs = store.organisations();
    EXPECT_EQ(orgs.at(0).children, (Ids{1, 2}));
    EXPECT_EQ(orgs.at(1).children, Ids{3});
    EXPECT_EQ(orgs.at(2).children, Ids{3});
    // Found by id, 3 is always the first ORG of that id, so its children are those of X.
    EXPECT_EQ(fieldText(orgs.at(3).name), "Y");
    EXPECT_EQ(orgs.at(3).children, Ids{4});
}

// Runs `work` on a thread whose stack is `bytes` large and waits for it.
template <typename Work> void onSmallStack(std::size_t bytes, Work work) {
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, bytes), 0);
    pthread_t thread;
    auto run = [](void* arg) -> void* {
        (*static_cast<Work*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, run, &work), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

TEST_F(StoreTest, DeeplyNestedOrganisationsLoadWithoutExhaustingTheStack) {
    // 20,000 levels on a 256 KiB stack: a walk that recursed once per level would overflow it.
    constexpr int kDepth = 20000;
    std::string text = "<DATAROOT><ORGINFO>";
    for (int i = 1; i <= kDepth; ++i) {
        text += "<ORG id=\"" + std::to_string(i) + "\" name=\"O" + std::to_string(i) + "\">";
    }
    for (int i = 1; i <= kDepth; ++i) {
        text += "</ORG>";
    }
    text += "</ORGINFO></DATAROOT>";
    WriteFile(file, text);
    ClientStore* store = ClientStore::instance();
    data().section("DEVINFO"); // the file is read and searched on this thread's full-sized stack
    onSmallStack(256 * 1024, [&] { store->load(); });
    ASSERT_EQ(store->organisations().size(), static_cast<std::size_t>(kDepth + 1));
    EXPECT_EQ(store->organisations().at(kDepth - 1).children, Ids{kDepth});
    EXPECT_EQ(fieldText(store->organisations().at(kDepth).name), "O20000");
}

TEST_F(StoreTest, DocumentRefusingTheDeviceShowsXmlFailed) {
    // A counter at the last positive id: the device cannot get its ids.
    WriteFile(file, "<DATAROOT><GLOBAL index=\"2147483647\"/></DATAROOT>");
    ClientStore& store = openStore();
    const std::string before = saved();
    EXPECT_EQ(store.addDevice(makeRecord("Hall1", "10.0.0.1", 5000, 1)), 0u);
    EXPECT_EQ(messages, Messages{"XML failed!"});
    EXPECT_EQ(saved(), before);
    // With no channel the last id is still there.
    EXPECT_EQ(store.addDevice(makeRecord("Hall1", "10.0.0.1", 5000, 0)), 2147483647u);
    EXPECT_EQ(store.addDevice(makeRecord("Hall2", "10.0.0.2", 5000, 0)), 0u);
    EXPECT_EQ(messages.back(), "XML failed!");

    // More channels than an 8-bit channel number can tell apart.
    EXPECT_EQ(store.addDevice(makeRecord("Big", "10.0.0.3", 5000, 257)), 0u);
    EXPECT_EQ(messages.back(), "XML failed!");
}

TEST_F(StoreTest, MessagesGoToStandardErrorWithoutAMessageFunction) {
    ClientStore* store = ClientStore::instance();
    store->load();
    ASSERT_EQ(store->addDevice(makeRecord("Hall1", "10.0.0.1", 5000, 0)), 1u);
    testing::internal::CaptureStderr();
    EXPECT_EQ(store->addDevice(makeRecord("Hall1", "10.0.0.2", 5000, 0)), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "The name of this device has existed!\n");
}

} // namespace
