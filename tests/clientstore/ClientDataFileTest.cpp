#include "tests/clientstore/StoreFixture.h"

#include <sys/resource.h>

#include <csignal>
#include <functional>
#include <sys/stat.h>

namespace {

using DataFileTest = StoreTest;

// Registers through the data file alone, as addDevices does for the store.
std::uint32_t addOne(ClientDataFile& data, DeviceRecord record) {
    EXPECT_EQ(data.addDevices(&record, sizeof record), 1);
    return record.id;
}

TEST_F(DataFileTest, CounterWithoutIndexOrWithZeroOrEmptyIndexStartsAtOne) {
    for (const char* global :
         {"<GLOBAL/>", "<GLOBAL index=\"0\"/>", "<GLOBAL index=\"\"/>", "<GLOBAL index=\"x9\"/>"}) {
        ClientDataFile::release();
        WriteFile(file, std::string("<DATAROOT>") + global + "</DATAROOT>");
        EXPECT_EQ(data().nextId(), 1u) << global;
        EXPECT_EQ(saved(), crlfLines({"<DATAROOT>", "\t<GLOBAL index=\"2\"/>", "</DATAROOT>"})) << global;
    }
}

TEST_F(DataFileTest, SixteenChannelsTake33IdsInVideoAlarmOrder) {
    const std::uint32_t first = addOne(data(), makeRecord("Yard", "10.0.0.1", 37777, 16));
    const std::uint32_t second = addOne(data(), makeRecord("Gate", "10.0.0.2", 37777, 16));
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(second, 34u);
    EXPECT_EQ(data().nextId(), 67u);

    const std::string text = saved();
    ASSERT_TRUE(xmllintAccepts(file));
    EXPECT_EQ(xpath(file, "count(//DEV[@name='Yard']/DEV)"), "32");
    for (int n = 1; n <= 16; ++n) {
        const std::string video = "\t\t\t<DEV id=\"" + std::to_string(2 * n) + "\" type=\"0\" name=\"Yard_" +
                                  std::to_string(n) + "\" channel=\"" + std::to_string(n - 1) +
                                  "\" desc=\"\"/>\r\n";
        const std::string alarm = "\t\t\t<DEV id=\"" + std::to_string(2 * n + 1) +
                                  "\" type=\"1\" name=\"Yard_alarm" + std::to_string(n) + "\" channel=\"" +
                                  std::to_string(n - 1) + "\" desc=\"\"/>\r\n";
        EXPECT_NE(text.find(video + alarm), std::string::npos) << "channel " << n;
    }
    EXPECT_NE(text.find("<DEV id=\"34\" ip=\"0\" name=\"Gate\""), std::string::npos);
    EXPECT_NE(text.find("<DEV id=\"66\" type=\"1\" name=\"Gate_alarm16\" channel=\"15\" desc=\"\"/>"),
              std::string::npos);
}

TEST_F(DataFileTest, OnlyTheFirstDevinfoIsUsedAndTheSecondIsKept) {
    WriteFile(file, "<DATAROOT><DEVINFO/><X><DEVINFO><DEV id=\"9\" name=\"Old\"/></DEVINFO></X></DATAROOT>");
    EXPECT_EQ(data().findDeviceByName("Old"), 0u);
    EXPECT_EQ(addOne(data(), makeRecord("New", "h", 1, 0)), 1u);
    const std::string text = saved();
    EXPECT_EQ(
        text,
        crlfLines({
            "<DATAROOT>",
            "\t<DEVINFO>",
            "\t\t<DEV id=\"1\" ip=\"0\" name=\"New\" host=\"h\" port=\"1\" cameras=\"0\" ddnsFlag=\"0\" "
            "DDNSHost=\"\" DDNSPort=\"0\" desc=\"\" username=\"user\" OrgId=\"0\" password=\"" +
                passwordValues(text).at(0) + "\"/>",
            "\t</DEVINFO>",
            "\t<X>",
            "\t\t<DEVINFO>",
            "\t\t\t<DEV id=\"9\" name=\"Old\"/>",
            "\t\t</DEVINFO>",
            "\t</X>",
            "\t<GLOBAL index=\"2\"/>",
            "</DATAROOT>",
        }));
}

TEST_F(DataFileTest, SectionsKeepTheirOrderAndMissingOnesAreAppended) {
    WriteFile(
        file,
        "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<!-- client data -->\r\n"
        "<DATAROOT><GLOBAL index=\"10\"/><DEVINFO></DEVINFO><USERS><U a=\"1\"/></USERS></DATAROOT>\r\n");
    ClientStore& store = openStore();
    EXPECT_TRUE(store.devices().empty());
    EXPECT_EQ(store.addDevice(makeRecord("Hall1", "h", 1, 0)), 10u);
    const std::string text = saved();
    EXPECT_EQ(text.substr(0, text.find("\t\t<DEV")),
              crlfLines({"<?xml version=\"1.0\" encoding=\"gb2312\"?>", "<!--client data-->", "<DATAROOT>",
                         "\t<GLOBAL index=\"11\"/>", "\t<DEVINFO>"}));
    EXPECT_EQ(text.substr(text.find("\t</DEVINFO>")),
              crlfLines({"\t</DEVINFO>", "\t<USERS>", "\t\t<U a=\"1\"/>", "\t</USERS>", "\t<ORGINFO/>",
                         "</DATAROOT>"}));
}

TEST_F(DataFileTest, WhatTheStoreDoesNotUseSurvivesLoadAndSaveByteForByte) {
    // Already in the saved layout, so load and save give the same bytes: an entity reference and a
    // lone ampersand stay as written, as do comments, CDATA, processing instructions, text and
    // attributes that the store does not know.
    const std::string text = crlfLines({
        "<?xml version=\"1.0\"?>",
        "<DATAROOT>",
        "\t<ORGINFO>",
        "\t\t<ORG id=\"1\" name=\"Fish &amp; Chips\" colour=\"red\"/>",
        "\t</ORGINFO>",
        "\t<DEVINFO>",
        "\t\t<!--kept\r\n\t\tover two lines-->",
        "\t</DEVINFO>",
        "\t<GLOBAL index=\"5\" build=\"R&D\"/>",
        "\t<NOTE kind='x'>a & b</NOTE>",
        "\t<![CDATA[<raw>]]>",
        "\t<?client-hint keep=\"yes\"?>",
        "</DATAROOT>",
    });
    WriteFile(file, text);
    // The single-quoted value is written back with double quotes: the only change.
    std::string expected = text;
    expected.replace(expected.find("kind='x'"), 8, "kind=\"x\"");
    EXPECT_EQ(saved(), expected);
    ClientStore& store = openStore();
    EXPECT_EQ(fieldText(store.organisations().at(1).name), "Fish &amp; Chips");
    EXPECT_EQ(saved(), expected);
}

TEST_F(DataFileTest, ReadingADeviceAddsTheAttributesItLacksInReadingOrder) {
    WriteFile(file, "<DATAROOT><DEVINFO><DEV id=\"5\" name=\"Old\" host=\"h\" port=\"80\" desc=\"d\"/>"
                    "</DEVINFO><GLOBAL index=\"6\"/></DATAROOT>");
    ClientStore& store = openStore();
    ASSERT_EQ(store.devices().count(5), 1u);
    EXPECT_EQ(store.addDevice(makeRecord("New", "h2", 80, 0)), 6u);
    const std::string text = saved();
    EXPECT_NE(
        text.find("\t\t<DEV id=\"5\" name=\"Old\" host=\"h\" port=\"80\" desc=\"d\" cameras=\"\" ip=\"\" "
                  "ddnsFlag=\"\" DDNSPort=\"\" OrgId=\"\" username=\"\" DDNSHost=\"\" password=\"\"/>\r\n"),
        std::string::npos)
        << text;
    // An empty password value deciphers to an empty password.
    EXPECT_EQ(fieldText(store.devices().at(5).password), "");
}

TEST_F(DataFileTest, LookupsReadOnlyUpToTheFirstMatchAndCountOnlyDevices) {
    WriteFile(
        file,
        "<DATAROOT><DEVINFO><DEV id=\"1\"/><FOO name=\"X\"/><DEV id=\"3\" name=\"X\"/>"
        "<DEV id=\"\" name=\"Y\" host=\"h\" port=\"1\"/><DEV id=\"4\" name=\"Y\"/></DEVINFO></DATAROOT>");
    EXPECT_EQ(data().findDeviceByName("X"), 0u) << "the first match is not a device";
    EXPECT_EQ(data().findDeviceByName("Y"), 0u) << "the first match has no id";
    EXPECT_EQ(data().findDeviceByName(nullptr), 0u);
    EXPECT_EQ(data().findDeviceByAddress(nullptr, 1), 0u);
    EXPECT_EQ(data().findDeviceByDdns("h", nullptr, 1), 0u);
    EXPECT_EQ(data().findDeviceByAddress("h", 1), 0u);
    EXPECT_EQ(data().deviceCount(), 5);
    const std::string text = saved();
    EXPECT_NE(text.find("<DEV id=\"1\" name=\"\" host=\"\" port=\"\"/>"), std::string::npos) << text;
    EXPECT_NE(text.find("<FOO name=\"X\" host=\"\" port=\"\"/>"), std::string::npos) << text;
    EXPECT_NE(text.find("<DEV id=\"4\" name=\"Y\"/>"), std::string::npos)
        << "past the first match: untouched";
}

TEST_F(DataFileTest, NumbersAreWrittenAndReadWithTheirWidths) {
    DeviceRecord r = makeRecord("W", "h", 70000, 2);
    r.ddnsFlag = 259;
    r.ddnsPort = 4000000000u;
    r.orgId = 0;
    r.ip = 4294967295u;
    ASSERT_EQ(addOne(data(), r), 1u);
    const std::string text = saved();
    EXPECT_NE(text.find("<DEV id=\"1\" ip=\"4294967295\" name=\"W\" host=\"h\" port=\"4464\" cameras=\"2\" "
                        "ddnsFlag=\"3\" DDNSHost=\"\" DDNSPort=\"4000000000\""),
              std::string::npos)
        << text;

    ClientDataFile::release();
    WriteFile(file, "<DATAROOT><DEVINFO><DEV id=\"12abc\" cameras=\"65538\" port=\"70000\" ddnsFlag=\"258\" "
                    "DDNSPort=\"99999999999\" OrgId=\"+3\"/></DEVINFO></DATAROOT>");
    DeviceRecord out{};
    ASSERT_EQ(data().getDevices(&out, sizeof out), 1);
    EXPECT_EQ(out.id, 12u);
    EXPECT_EQ(out.channelCount, 2);
    EXPECT_EQ(out.port, 70000u);
    EXPECT_EQ(out.ddnsFlag, 2u);
    EXPECT_EQ(out.ddnsPort, 4294967295u);
    EXPECT_EQ(out.orgId, 0u);
}

TEST_F(DataFileTest, ValuesLongerThanARecordFieldAreCutAtTheField) {
    const std::string longName(100, 'N');
    const std::string longHost(70, 'H');
    WriteFile(file, "<DATAROOT><DEVINFO><DEV id=\"1\" name=\"" + longName + "\" host=\"" + longHost +
                        "\" username=\"u\" password=\"" + std::string(300, 'A') + "\" DDNSHost=\"" +
                        std::string(64, 'D') + "\"/></DEVINFO></DATAROOT>");
    DeviceRecord records[2];
    std::memset(records, 0x5A, sizeof records);
    ASSERT_EQ(data().getDevices(records, sizeof records), 1);
    const DeviceRecord& r = records[0];
    EXPECT_EQ(std::string(r.name), longName.substr(0, 63));
    EXPECT_EQ(std::string(r.host), longHost.substr(0, 63));
    EXPECT_EQ(std::string(r.username), "u");
    EXPECT_EQ(std::string(r.password), "");
    EXPECT_EQ(std::string(r.ddnsHost), std::string(63, 'D'));
    // The slot past the one child is the caller's, untouched.
    EXPECT_EQ(static_cast<unsigned char>(records[1].name[0]), 0x5A);
}

TEST_F(DataFileTest, ArraysTooShortOrNullAreRefusedAndLeftAlone) {
    WriteFile(file, "<DATAROOT><ORGINFO><ORG id=\"1\" name=\"A\"/><ORG id=\"2\" name=\"B\"/></ORGINFO>"
                    "<DEVINFO><DEV id=\"1\"/><DEV id=\"2\"/></DEVINFO></DATAROOT>");
    DeviceRecord records[2];
    std::memset(records, 0x5A, sizeof records);
    EXPECT_EQ(data().getDevices(records, sizeof records - 1), 0);
    EXPECT_EQ(data().getDevices(records, -1), 0);
    EXPECT_EQ(data().getDevices(nullptr, sizeof records), 0);
    EXPECT_EQ(records[0].id, 0x5A5A5A5Au);

    OrgListEntry entries[2];
    std::memset(entries, 0x5A, sizeof entries);
    EXPECT_EQ(data().getOrgChildren(0, entries, sizeof entries - 1), 0);
    EXPECT_EQ(data().getOrgChildren(0, nullptr, sizeof entries), 0);
    EXPECT_EQ(entries[0].id, 0x5A5A5A5Au);
    EXPECT_EQ(data().getOrgChildren(99, entries, 0), 1) << "no such organisation: nothing to write";
    EXPECT_EQ(data().getOrgChildren(0, entries, sizeof entries), 1);
    EXPECT_EQ(entries[1].id, 2u);
    EXPECT_STREQ(entries[1].name, "B");

    DeviceRecord one = makeRecord("A", "h", 1, 0);
    EXPECT_EQ(data().addDevices(nullptr, sizeof one), 0);
    EXPECT_EQ(data().addDevices(&one, sizeof one - 1), 0);
    EXPECT_EQ(data().deviceCount(), 2);
    // A remainder past the last whole record is ignored.
    EXPECT_EQ(data().addDevices(&one, sizeof one + 10), 1);
    EXPECT_EQ(data().deviceCount(), 3);
}

TEST_F(DataFileTest, AddDevicesStopsAtATakenNameKeepingTheRecordsBefore) {
    addOne(data(), makeRecord("B", "h0", 1, 0));
    DeviceRecord records[3] = {makeRecord("A", "h1", 1, 1), makeRecord("B", "h2", 1, 1),
                               makeRecord("C", "h3", 1, 1)};
    EXPECT_EQ(data().addDevices(records, sizeof records), 0);
    EXPECT_EQ(records[0].id, 2u);
    EXPECT_EQ(records[1].id, 0u);
    EXPECT_EQ(data().findDeviceByName("A"), 2u);
    EXPECT_EQ(data().findDeviceByName("C"), 0u);
    EXPECT_EQ(data().nextId(), 5u);
}

TEST_F(DataFileTest, CameraTypesGoToExistingVideoChannelsAsTheirLow8Bits) {
    ASSERT_EQ(addOne(data(), makeRecord("Cam", "h", 1, 2)), 1u);
    const std::int32_t codes[16] = {257, 511, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(data().setCameraTypes(1, codes, 16), 1);
    EXPECT_EQ(data().setCameraTypes(9, codes, 16), 0);
    EXPECT_EQ(data().setCameraTypes(1, nullptr, 16), 0);
    // A channel id names a channel, not a device: it is found as well, and has no channels.
    EXPECT_EQ(data().setCameraTypes(2, codes, 16), 1);
    const std::string text = saved();
    EXPECT_NE(text.find("name=\"Cam_1\" channel=\"0\" desc=\"\" CameraType=\"1\"/>"), std::string::npos)
        << text;
    EXPECT_NE(text.find("name=\"Cam_2\" channel=\"1\" desc=\"\" CameraType=\"255\"/>"), std::string::npos)
        << text;
    EXPECT_NE(text.find("name=\"Cam_alarm1\" channel=\"0\" desc=\"\"/>"), std::string::npos) << text;
    EXPECT_NE(text.find("name=\"Cam_alarm2\" channel=\"1\" desc=\"\"/>"), std::string::npos) << text;
}

TEST_F(DataFileTest, MissingOrEmptyFileGivesAnEmptyDocumentAndNothingOnDisk) {
    EXPECT_EQ(data().deviceCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(file));
    ClientDataFile::release();
    WriteFile(file, "");
    EXPECT_EQ(data().deviceCount(), 0);
    EXPECT_TRUE(data().loadedWhole());
    EXPECT_EQ(ReadFile(file), "");
    EXPECT_EQ(saved(), crlfLines({"<DATAROOT>", "\t<DEVINFO/>", "</DATAROOT>"}));
}

// A file that cannot be taken in whole is never used and never written over: a save would drop what
// follows the break, and the id counter and the passwords with it.
TEST_F(DataFileTest, FileNotReadToItsEndIsRefusedWithWhereAndWhy) {
    // Lines 1 to 3 take bytes 0-22, 23-34 and 35-46.
    const std::string head = "<?xml version=\"1.0\"?>\r\n<DATAROOT>\r\n\t<DEVINFO>\r\n";
    struct Broken {
        const char* what;
        std::string text;
        std::string where; // the start of the message
        const char* why;
    };
    const Broken cases[] = {
        {"cut in a device's tag", head + "\t\t<DEV id=\"1\" name=\"A\" pass", "line 4 (byte 49)",
         "a tag is not closed"},
        {"cut after a device", head + "\t\t<DEV id=\"1\"/>\r\n", "line 3 (byte 36)",
         "an element is not closed"},
        {"unclosed comment", head + "\t</DEVINFO><!-- note\r\n<GLOBAL index=\"9\"/></DATAROOT>\r\n",
         "line 4 (byte 58)", "a comment is not closed"},
        {"unclosed CDATA", head + "<![CDATA[ x </DEVINFO></DATAROOT>", "line 4 (byte 47)",
         "a CDATA section is not closed"},
        {"plain text", "192.168.1.10 front door\n", "line 1 (byte 0)", "not one element in the file"},
        {"README-like text", "# Notes\n\nRegister with `pellory-cli register`.\n", "line 1 (byte 0)",
         "not one element in the file"},
        {"README with a tag", "# Notes\n\nSee <b>Data.xml</b> first.\n", "line 1 (byte 0)",
         "text outside any element"},
        {"text after the root", "<DATAROOT/>\r\nnotes\r\n", "line 2 (byte 13)", "text outside any element"},
    };
    for (const Broken& c : cases) {
        ClientDataFile::release();
        WriteFile(file, c.text);
        const std::string& why = data().loadError();
        EXPECT_EQ(why.rfind(c.where, 0), 0u) << c.what << ": " << why;
        EXPECT_NE(why.find(c.why), std::string::npos) << c.what << ": " << why;
        EXPECT_EQ(data().deviceCount(), 0) << c.what;
        EXPECT_EQ(data().addDevices(nullptr, 0), 0);
        EXPECT_FALSE(data().save()) << c.what;
        EXPECT_EQ(data().saveError(), why) << c.what;
        EXPECT_EQ(ReadFile(file), c.text) << c.what;
        EXPECT_EQ(FolderEntries(dir / "XML"), (std::vector<std::string>{"Data.xml", "Data.xml.lock"}))
            << c.what;
    }
}

TEST_F(DataFileTest, FilesThatAreWholeButOddStillLoad) {
    struct Whole {
        const char* text;
        std::string after;
    };
    const Whole cases[] = {
        {"<?xml version=\"1.0\"?>",
         crlfLines({"<?xml version=\"1.0\"?>", "<DATAROOT>", "\t<DEVINFO/>", "</DATAROOT>"})},
        {"<OTHER/>", crlfLines({"<OTHER/>", "<DATAROOT>", "\t<DEVINFO/>", "</DATAROOT>"})},
        {" \r\n\t ", crlfLines({"<DATAROOT>", "\t<DEVINFO/>", "</DATAROOT>"})},
        // Top-level text after a comment is part of the document and written back.
        {"<!-- c -->note<DATAROOT/>",
         crlfLines({"<!--c-->", "note", "<DATAROOT>", "\t<DEVINFO/>", "</DATAROOT>"})},
    };
    for (const Whole& c : cases) {
        ClientDataFile::release();
        WriteFile(file, c.text);
        EXPECT_EQ(data().loadError(), "") << c.text;
        EXPECT_EQ(data().deviceCount(), 0) << c.text;
        EXPECT_EQ(saved(), c.after) << c.text;
    }
}

// Another program's version of the file, written after the load, is never saved over.
TEST_F(DataFileTest, SaveRefusesAFileChangedOnDiskSinceTheLoad) {
    const std::string loaded = "<DATAROOT><DEVINFO/></DATAROOT>";
    struct Change {
        const char* what;
        std::function<void()> change;
        bool existsAfter;
    };
    const std::filesystem::path path = this->file;
    const Change cases[] = {
        {"rewritten in place",
         [&] { WriteFile(path, "<DATAROOT><DEVINFO><DEV id=\"5\"/></DEVINFO></DATAROOT>"); }, true},
        {"replaced by the same bytes under a new inode",
         [&] {
             WriteFile(path.string() + ".new", loaded);
             std::filesystem::rename(path.string() + ".new", path);
         },
         true},
        {"removed", [&] { std::filesystem::remove(path); }, false},
    };
    for (const Change& c : cases) {
        ClientDataFile::release();
        WriteFile(path, loaded);
        addOne(data(), makeRecord("A", "h", 1, 0));
        c.change();
        const std::string after = c.existsAfter ? ReadFile(path) : std::string();
        EXPECT_FALSE(data().save()) << c.what;
        EXPECT_EQ(data().saveError(),
                  "it was changed by another program after it was loaded; that version is left as it is")
            << c.what;
        EXPECT_EQ(std::filesystem::exists(path), c.existsAfter) << c.what;
        if (c.existsAfter) {
            EXPECT_EQ(ReadFile(path), after) << c.what;
        }
    }
    // A path that appeared where there was none is another program's too.
    ClientDataFile::release();
    std::filesystem::remove(path);
    addOne(data(), makeRecord("A", "h", 1, 0));
    WriteFile(path, loaded);
    EXPECT_FALSE(data().save());
    EXPECT_EQ(ReadFile(path), loaded);
}

TEST_F(DataFileTest, ANewFileIsTheOwnersOnlyAndSavesAgainAfterItsOwnSave) {
    addOne(data(), makeRecord("A", "h", 1, 0));
    ASSERT_TRUE(data().save()) << data().saveError();
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    addOne(data(), makeRecord("B", "h", 2, 0));
    EXPECT_TRUE(data().save()) << data().saveError();
    EXPECT_TRUE(xmllintAccepts(file));
}

TEST_F(DataFileTest, SaveWithoutTheXmlFolderFailsAndCreatesNothing) {
    std::filesystem::remove(dir / "XML");
    addOne(data(), makeRecord("A", "h", 1, 0));
    EXPECT_FALSE(data().save());
    EXPECT_TRUE(FolderEntries(dir.path()).empty());
}

TEST_F(DataFileTest, FailedSaveLeavesThePreviousFileByteForByte) {
    addOne(data(), makeRecord("A", "h", 1, 0));
    const std::string before = saved();
    for (int i = 0; i < 400; ++i) {
        addOne(data(), makeRecord("D" + std::to_string(i), "h", static_cast<std::uint32_t>(i + 2), 2));
    }
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool ok = data().save();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(ok);
    EXPECT_EQ(data().saveError(), "File too large");
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_EQ(FolderEntries(dir / "XML"), (std::vector<std::string>{"Data.xml", "Data.xml.lock"}));
    EXPECT_TRUE(data().save());
    EXPECT_TRUE(xmllintAccepts(file));
}

TEST_F(DataFileTest, FileWhoseTextCouldNotAllBeTakenInIsNeverOverwritten) {
    // A zero byte cuts the rest of its chunk out of the text: a save would lose it.
    std::string text = "<DATAROOT><DEVINFO/>";
    text.push_back('\0');
    text += "<LOST/></DATAROOT>";
    WriteFile(file, text);
    EXPECT_FALSE(data().loadedWhole());
    addOne(data(), makeRecord("A", "h", 1, 0));
    EXPECT_FALSE(data().save());
    EXPECT_EQ(ReadFile(file), text);
}

TEST_F(DataFileTest, DefaultPathIsTheXmlFolderBesideTheProgram) {
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(ClientDataFile::defaultPath(), exe.parent_path() / "XML" / "Data.xml");
}

TEST_F(DataFileTest, DocumentMadeOfManyConstructsStaysWellFormedForAnOutsideReader) {
    WriteFile(file,
              "<?xml version=\"1.0\"?><!-- head --><DATAROOT><ORGINFO><ORG id=\"1\" name=\"A\">"
              "<ORG id=\"2\" name=\"B\"/></ORG></ORGINFO><DEVINFO/><OTHER x='1'>text<![CDATA[c]]></OTHER>"
              "</DATAROOT>");
    ClientStore& store = openStore();
    ASSERT_EQ(store.addDevice(makeRecord("Dev", "10.1.1.1", 37777, 3, 2)), 1u);
    const std::int32_t codes[16] = {1, 0, 1};
    data().setCameraTypes(1, codes, 3);
    ASSERT_TRUE(data().save());
    ASSERT_TRUE(xmllintAccepts(file));
    EXPECT_EQ(xpath(file, "count(//DEV)"), "7");
    EXPECT_EQ(xpath(file, "string(//DEV[@name='Dev_3']/@CameraType)"), "1");
    EXPECT_EQ(xpath(file, "normalize-space(//OTHER)"), "text c");
    EXPECT_EQ(xpath(file, "string(//DEV[@id=1]/@OrgId)"), "2");
}

} // namespace
