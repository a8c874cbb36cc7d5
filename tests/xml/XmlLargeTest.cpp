// Large inputs: deep nesting must not exhaust the stack anywhere (parse, lookups, edits, save,
// reload, free), and a client data file of the full size loads with every attribute right.
// Built twice: at moderate sizes for every run, and at full size (XML_FULL_SIZE) as a slow suite.
#include "tests/common/ClientDataGenerator.h"
#include "tests/common/TempDir.h"
#include "tests/xml/XmlTestSupport.h"
#include "xml/XmlParser.h"
#include "xml/XmlWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

// The suites get their own names so that CTest keeps the two builds' tests apart.
#ifdef XML_FULL_SIZE
#define XML_LARGE_SUITE XmlFullSize
constexpr int kNesting = 1000000;
constexpr int kDevices = 10000;
#else
#define XML_LARGE_SUITE XmlLarge
// Deep enough that any recursion per level would overflow a thread's stack.
constexpr int kNesting = 100000;
constexpr int kDevices = 300;
#endif
constexpr int kChannels = 16;

namespace {

// Follows the first child kNesting times from the document and gives the node reached.
XmlNodeRef descend(XmlNodeRef document) {
    XmlNodeRef node = document;
    for (int i = 0; i < kNesting; ++i) {
        node = node.child(0);
        if (node.name() != "e") {
            ADD_FAILURE() << "level " << i << " is " << node.name();
            return XmlNodeRef();
        }
    }
    return node;
}

} // namespace

TEST(XML_LARGE_SUITE, DeeplyNestedElements) {
    std::string text;
    text.reserve(static_cast<std::size_t>(kNesting) * 7 + 32);
    for (int i = 0; i < kNesting; ++i) {
        text += "<e>";
    }
    text += "<leaf id=\"deep\"/>";
    for (int i = 0; i < kNesting; ++i) {
        text += "</e>";
    }

    XmlParser parser;
    parser.parseText(text);
    XmlNodeRef bottom = descend(parser.root());
    ASSERT_TRUE(bottom.isValid());
    EXPECT_EQ(bottom.child(0).name(), "leaf");

    EXPECT_EQ(parser.root().firstByName("leaf"), bottom.child(0));
    EXPECT_FALSE(parser.root().firstByName("missing").isValid());
    EXPECT_EQ(parser.root().firstWithAttribute("leaf", "id", "deep"), bottom.child(0));
    EXPECT_FALSE(parser.root().firstWithAttribute("leaf", "id", "deep", 100).isValid());
    bottom.appendChild(NodeElement).setName("added");
    bottom.attribute("edited").setUnsigned(1);

    std::ostringstream compact;
    compact.flags(std::ios_base::skipws);
    writeDocument(compact, parser.root());
    std::string expected = text;
    expected.replace(text.find("<leaf"), 17, "<leaf id=\"deep\"/><added/>");
    expected.replace(text.rfind("<e>"), 3, "<e edited=\"1\">");
    EXPECT_TRUE(compact.str() == expected);

    TempDir dir;
    const std::string path = (dir / "deep.xml").string();
    ASSERT_TRUE(saveDocument(path.c_str(), parser.root()));
    XmlParser reloaded;
    ASSERT_TRUE(reloaded.loadFile(path.c_str()));
    XmlNodeRef again = descend(reloaded.root());
    ASSERT_TRUE(again.isValid());
    EXPECT_EQ(again.attribute("edited").text(), "1");
    EXPECT_EQ(again.childCount(), 2u);
    EXPECT_EQ(again.child(1).name(), "added");

    // Free a deep subtree on its own; the parsers free the rest.
    freeTree(reloaded.root().child(0).child(0).get());
    EXPECT_EQ(reloaded.root().child(0).childCount(), 0u);
}

TEST(XML_LARGE_SUITE, ClientDataFileLoadsEveryAttribute) {
    const std::string text = clientdata::makeClientDataFile(kDevices, kChannels);
    XmlParser parser;
    const char* stop = parser.parseText(text);
    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(*stop, '\0');

    XmlNodeRef root = parser.root().firstByName("DATAROOT");
    XmlNodeRef devinfo = root.firstByName("DEVINFO");
    ASSERT_EQ(devinfo.childCount(), static_cast<std::size_t>(kDevices));
    EXPECT_EQ(root.firstByName("GLOBAL").attribute("index").text(),
              std::to_string(clientdata::deviceId(kDevices, kChannels)));
    EXPECT_EQ(root.firstByName("ORGINFO").firstWithAttribute("ORG", "id", "3").attribute("name").text(),
              "Site 3");

    auto matches = [](XmlNodeRef node, const clientdata::Attributes& expected) {
        if (node.name() != "DEV" || node.attributeCount() != expected.size()) {
            return false;
        }
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const XmlAttributeRef attribute = node.attributeAt(i);
            if (attribute.name() != expected[i].first || attribute.view() != expected[i].second) {
                return false;
            }
        }
        return true;
    };
    int wrong = 0;
    for (int d = 0; d < kDevices; ++d) {
        XmlNodeRef device = devinfo.child(static_cast<std::size_t>(d));
        wrong += !matches(device, clientdata::deviceAttributes(d, kChannels));
        wrong += device.childCount() != 2 * kChannels;
        for (int n = 1; n <= kChannels; ++n) {
            wrong +=
                !matches(device.child(2 * (n - 1)), clientdata::channelAttributes(d, kChannels, n, false));
            wrong += !matches(device.child(2 * n - 1), clientdata::channelAttributes(d, kChannels, n, true));
        }
        if (wrong) {
            FAIL() << "device " << d << " did not load as written";
        }
    }
    const std::string lastName = clientdata::deviceName(kDevices - 1);
    EXPECT_EQ(devinfo.firstWithAttribute("DEV", "name", lastName.c_str(), 0), devinfo.child(kDevices - 1));
}
