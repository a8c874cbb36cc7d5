// The writer: the text each tree gives in the indented and compact forms, the data file save with
// CR LF line ends, quoting, and write failures.
#include "xml/XmlWriter.h"
#include "tests/common/Files.h"
#include "tests/common/TempDir.h"
#include "tests/xml/XmlTestSupport.h"
#include "xml/XmlParser.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

std::string written(XmlNodeRef node, bool compact = false) {
    std::ostringstream out;
    if (compact) {
        out.flags(std::ios_base::skipws);
    }
    writeDocument(out, node);
    return out.str();
}

std::string rewritten(const std::string& input, unsigned options = XmlParser::ParseDefault,
                      bool compact = false) {
    XmlParser parser;
    parser.parseText(input, XmlParser::DefaultGrowthStep, options);
    return written(parser.root(), compact);
}

std::string crlf(std::string text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

// Builds, through the handles alone, what registering one device with two channels under the top
// level makes of an empty file.
void buildRegisteredDevice(XmlNodeRef document) {
    XmlNodeRef root = document.appendChild(NodeElement);
    root.setName("DATAROOT");
    root.appendChild(NodeElement).setName("ORGINFO");
    XmlNodeRef devinfo = root.appendChild(NodeElement);
    devinfo.setName("DEVINFO");
    XmlNodeRef global;
    auto nextId = [&]() {
        if (!global.isValid()) {
            global = root.appendChild(NodeElement);
            global.setName("GLOBAL");
        }
        XmlAttributeRef index = global.attribute("index");
        const std::uint32_t id = index.text().empty() || index.text() == "0" ? 1 : std::stoul(index.text());
        index.setUnsigned(id + 1);
        return id;
    };
    XmlNodeRef dev = devinfo.appendChild(NodeElement);
    dev.setName("DEV");
    const std::uint32_t id = nextId();
    dev.attribute("id").setUnsigned(id);
    dev.attribute("ip").setUnsigned(id);
    dev.attribute("name").setText("Hall1");
    dev.attribute("host").setText("192.168.1.20");
    dev.attribute("port").setUnsigned(5000);
    dev.attribute("cameras").setUnsigned(2);
    dev.attribute("ip").setUnsigned(0);
    dev.attribute("ddnsFlag").setUnsigned(0);
    dev.attribute("DDNSHost").setText("");
    dev.attribute("DDNSPort").setUnsigned(0);
    dev.attribute("desc").setText("");
    dev.attribute("username").setText("user");
    dev.attribute("OrgId").setUnsigned(0);
    dev.attribute("password").setText("c2VjcmV0");
    for (int n = 1; n <= 2; ++n) {
        for (int type = 0; type <= 1; ++type) {
            XmlNodeRef channel = dev.appendChild(NodeElement);
            channel.setName("DEV");
            channel.attribute("id").setUnsigned(nextId());
            channel.attribute("type").setUnsigned(static_cast<std::uint16_t>(type));
            channel.attribute("name").setText("Hall1_" + std::string(type ? "alarm" : "") +
                                              std::to_string(n));
            channel.attribute("channel").setUnsigned(static_cast<std::uint8_t>(n - 1));
            channel.attribute("desc").setText("");
        }
    }
    dev.firstWithAttribute("DEV", "name", "Hall1_1").attribute("CameraType").setUnsigned(0);
    dev.firstWithAttribute("DEV", "name", "Hall1_2").attribute("CameraType").setUnsigned(1);
}

const char* const kRegisteredDevice =
    "<DATAROOT>\n"
    "\t<ORGINFO/>\n"
    "\t<DEVINFO>\n"
    "\t\t<DEV id=\"1\" ip=\"0\" name=\"Hall1\" host=\"192.168.1.20\" port=\"5000\" cameras=\"2\" "
    "ddnsFlag=\"0\" "
    "DDNSHost=\"\" DDNSPort=\"0\" desc=\"\" username=\"user\" OrgId=\"0\" password=\"c2VjcmV0\">\n"
    "\t\t\t<DEV id=\"2\" type=\"0\" name=\"Hall1_1\" channel=\"0\" desc=\"\" CameraType=\"0\"/>\n"
    "\t\t\t<DEV id=\"3\" type=\"1\" name=\"Hall1_alarm1\" channel=\"0\" desc=\"\"/>\n"
    "\t\t\t<DEV id=\"4\" type=\"0\" name=\"Hall1_2\" channel=\"1\" desc=\"\" CameraType=\"1\"/>\n"
    "\t\t\t<DEV id=\"5\" type=\"1\" name=\"Hall1_alarm2\" channel=\"1\" desc=\"\"/>\n"
    "\t\t</DEV>\n"
    "\t</DEVINFO>\n"
    "\t<GLOBAL index=\"6\"/>\n"
    "</DATAROOT>\n";

// A stream buffer that takes `room` bytes and then refuses everything.
class FailingBuf : public std::streambuf {
public:
    explicit FailingBuf(std::size_t room) : m_room(room) {}
    std::string taken;

protected:
    std::streamsize xsputn(const char* data, std::streamsize count) override {
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), m_room);
        taken.append(data, n);
        m_room -= n;
        return static_cast<std::streamsize>(n);
    }
    int_type overflow(int_type c) override {
        const char byte = traits_type::to_char_type(c);
        return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
    }

private:
    std::size_t m_room;
};

} // namespace

TEST(XmlWriter, RegisteredDeviceInAnEmptyFile) {
    XmlParser parser;
    buildRegisteredDevice(parser.root());
    EXPECT_EQ(written(parser.root()), kRegisteredDevice);

    TempDir dir;
    const std::string path = (dir / "Data.xml").string();
    WriteFile(path, "old content that is longer than nothing at all");
    ASSERT_TRUE(saveDocument(path.c_str(), parser.root()));
    EXPECT_EQ(ReadFile(path), crlf(kRegisteredDevice));

    // What was saved loads back into the same tree.
    XmlParser reloaded;
    ASSERT_TRUE(reloaded.loadFile(path.c_str()));
    EXPECT_EQ(written(reloaded.root()), kRegisteredDevice);
}

TEST(XmlWriter, IndentedForm) {
    const struct {
        const char* what;
        const char* input;
        const char* output;
    } cases[] = {
        {"element without attributes and children", "<r><ORGINFO/></r>", "<r>\n\t<ORGINFO/>\n</r>\n"},
        {"one text child on one line", "<r><a x='1'>  hello  </a></r>",
         "<r>\n\t<a x=\"1\">hello</a>\n</r>\n"},
        {"two text children on lines of their own", "<a>x< y</a>", "<a>\n\tx\n\t< y\n</a>\n"},
        {"text and element", "<a>x<b/></a>", "<a>\n\tx\n\t<b/>\n</a>\n"},
        {"attribute without value", "<a x y='1'/>", "<a x y=\"1\"/>\n"},
        {"declaration then root", "<?xml version=\"1.0\"?>\r\n<r><a/></r>",
         "<?xml version=\"1.0\"?>\n<r>\n\t<a/>\n</r>\n"},
        {"processing instruction", "<?pi?><?p a b='2'?>", "<?pi?>\n<?p a b=\"2\"?>\n"},
        {"comment, CDATA and INCLUDE", "<r><!-- c --><![CDATA[ <d> ]]><![INCLUDE[ i ]]></r>",
         "<r>\n\t<!--c-->\n\t<![CDATA[<d>]]>\n\t<![INCLUDE[i]]>\n</r>\n"},
        {"values and text as they were read", "<r a='&amp; & < >'>&lt;x&gt; & y</r>",
         "<r a=\"&amp; & < >\">&lt;x&gt; & y</r>\n"},
        {"declarations", "<!ELEMENT x><!ENTITY % p 'v'><!ATTLIST r a CDATA #IMPLIED><!NOTATION n SYSTEM 'n'>",
         "<!ELEMENT x>\n<!ENTITY % p 'v'>\n<!ATTLIST r a CDATA #IMPLIED>\n<!NOTATION n SYSTEM 'n'>\n"},
        {"a declaration without name leaves an empty line", "<!ELEMENT><r/>", "\n<r/>\n"},
        {"DOCTYPE with declarations",
         "<!DOCTYPE r SYSTEM 'r.dtd' [ <!ENTITY e 'v'> <!ELEMENT r ANY> %p; ]><r>&e;</r>",
         "<!DOCTYPE r SYSTEM \"r.dtd\"\n[\n\t<!ENTITY e 'v'>\n\t<!ELEMENT r ANY>\n\t%p;\n]>\n<r>&e;</r>\n"},
        {"DOCTYPE without subset", "<!DOCTYPE r PUBLIC \"-//x//y\" 'it\"s'><r/>",
         "<!DOCTYPE r PUBLIC \"-//x//y\" 'it\"s'>\n<r/>\n"},
        {"DOCTYPE with an empty subset", "<!DOCTYPE r []><r/>", "<!DOCTYPE r []>\n<r/>\n"},
        {"deeper levels", "<a><b><c><d>t</d></c></b></a>",
         "<a>\n\t<b>\n\t\t<c>\n\t\t\t<d>t</d>\n\t\t</c>\n\t</b>\n</a>\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(rewritten(c.input), c.output);
    }
    EXPECT_EQ(rewritten("<!DOCTYPE r [ <!ENTITY e 'v'> ]><r/>", XmlParser::ParseDoctype | XmlParser::ParsePi),
              "<!DOCTYPE r [ <!ENTITY e 'v'> ]>\n<r/>\n");
}

TEST(XmlWriter, CompactFormWhenOnlySkipwsIsSet) {
    const std::string input = "<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ENTITY e 'v'>]>\n<r>\n\t<a x='1'>t</a>"
                              "\n\t<b><c/>u</b>\n</r>";
    EXPECT_EQ(rewritten(input, XmlParser::ParseDefault, true),
              "<?xml version=\"1.0\"?><!DOCTYPE r [ <!ENTITY e 'v'>]><r><a x=\"1\">t</a><b><c/>u</b></r>");
    // Any other flag, as on a new stream, gives the indented form.
    std::ostringstream hex;
    hex.flags(std::ios_base::skipws | std::ios_base::hex);
    XmlParser parser;
    parser.parseText("<r><a/></r>");
    writeDocument(hex, parser.root());
    EXPECT_EQ(hex.str(), "<r>\n\t<a/>\n</r>\n");
}

TEST(XmlWriter, NodesWithoutNamesOrValues) {
    XmlNode* document = newDocumentNode();
    XmlNodeRef doc(document);
    XmlNodeRef element = doc.appendChild(NodeElement);
    element.appendChild(NodeElement);
    element.appendChild(NodeText);
    doc.appendChild(NodeComment);
    doc.appendChild(NodeCdata);
    doc.appendChild(NodePi);
    EXPECT_EQ(written(doc), "<anonymous>\n\t<anonymous/>\n\t\n</>\n\n\n<?anonymous?>\n");
    freeTree(document);
}

TEST(XmlWriter, WritesASingleNode) {
    XmlParser parser;
    parser.parseText("<r><a x='1'><b/></a></r>");
    XmlNodeRef a = parser.root().firstByName("a");
    EXPECT_EQ(written(a), "<a x=\"1\">\n\t<b/>\n</a>\n");

    std::ostringstream out;
    std::string indent = "  ";
    writeNode(out, indent, a.get(), true);
    EXPECT_EQ(out.str(), "  <a x=\"1\">\n  \t<b/>\n  </a>\n");
    EXPECT_EQ(indent, "  ");
    std::ostringstream compact;
    writeNode(compact, indent, a.get(), false);
    EXPECT_EQ(compact.str(), "  <a x=\"1\">  <b/>  </a>");
    std::ostringstream none;
    writeNode(none, indent, nullptr, true);
    EXPECT_EQ(none.str(), "");
}

TEST(XmlWriter, IndentationStopsGrowingAtTheLimit) {
    std::string input;
    const std::size_t depth = kMaxIndentDepth + 5;
    for (std::size_t i = 0; i < depth; ++i) {
        input += "<e>";
    }
    input += "<leaf/>";
    const std::string text = rewritten(input);
    EXPECT_NE(text.find("\n" + std::string(kMaxIndentDepth, '\t') + "<leaf/>\n"), std::string::npos);
    EXPECT_EQ(text.find(std::string(kMaxIndentDepth + 1, '\t')), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 6), "\n</e>\n");
}

TEST(XmlWriter, ValuesWithQuotesStayReadable) {
    XmlParser parser;
    parser.parseText("<r/>");
    XmlNodeRef r = parser.root().child(0);
    r.attribute("double").setText("say \"hi\"");
    r.attribute("single").setText("it's");
    r.attribute("both").setText("it's \"x\"");
    EXPECT_EQ(written(parser.root()),
              "<r double='say \"hi\"' single=\"it's\" both=\"it's &quot;x&quot;\"/>\n");

    TempDir dir;
    const std::string path = (dir / "quotes.xml").string();
    ASSERT_TRUE(saveDocument(path.c_str(), parser.root()));
    XmlParser reloaded;
    ASSERT_TRUE(reloaded.loadFile(path.c_str()));
    XmlNodeRef back = reloaded.root().child(0);
    EXPECT_EQ(back.attribute("double").text(), "say \"hi\"");
    EXPECT_EQ(back.attribute("single").text(), "it's");
    EXPECT_EQ(back.attribute("both").text(), "it's &quot;x&quot;"); // readable, though not the same bytes
    EXPECT_EQ(back.attributeCount(), 3u);
}

TEST(XmlWriter, LineBreaksReachTheFileAsCrLfOnce) {
    XmlParser parser;
    parser.parseText("<r><a/></r>");
    XmlNodeRef r = parser.root().child(0);
    r.attribute("lf").setText("1\n2");
    r.attribute("crlf").setText("1\r\n2");
    r.attribute("cr").setText("1\r2");
    TempDir dir;
    const std::string path = (dir / "breaks.xml").string();
    ASSERT_TRUE(saveDocument(path.c_str(), parser.root()));
    const std::string expected = "<r lf=\"1\r\n2\" crlf=\"1\r\n2\" cr=\"1\r2\">\r\n\t<a/>\r\n</r>\r\n";
    EXPECT_EQ(ReadFile(path), expected);

    // Loading and saving again adds no CR.
    XmlParser again;
    ASSERT_TRUE(again.loadFile(path.c_str()));
    ASSERT_TRUE(saveDocument(path.c_str(), again.root()));
    EXPECT_EQ(ReadFile(path), expected);
}

TEST(XmlWriter, CrLfStreamBufAcrossPieces) {
    std::ostringstream target;
    {
        CrLfStreamBuf buf(target.rdbuf());
        std::ostream out(&buf);
        out << "a\r";
        out << "\nb\n";
        out.put('\n');
        out.write("\n", 1);
        out << std::flush;
        EXPECT_EQ(target.str(), "a\r\nb\r\n\r\n\r\n");
        out << std::string(200000, 'x') << '\n';
    }
    EXPECT_EQ(target.str().size(), 10u + 200002u); // the rest arrives when the buffer goes
}

TEST(XmlWriter, FailedStreamsGetNothingMore) {
    XmlParser parser;
    std::string input = "<r>";
    for (int i = 0; i < 5000; ++i) {
        input += "<item number=\"" + std::to_string(i) + "\" text=\"some words to make it longer\"/>";
    }
    input += "</r>";
    parser.parseText(input);

    std::ostringstream failed;
    failed.setstate(std::ios_base::failbit);
    writeDocument(failed, parser.root());
    EXPECT_EQ(failed.str(), "");
    writeDocument(failed, XmlNodeRef());

    FailingBuf buf(100000);
    std::ostream out(&buf);
    writeDocument(out, parser.root());
    EXPECT_TRUE(out.bad());
    EXPECT_EQ(buf.taken.size(), 100000u);
    writeDocument(out, parser.root());
    EXPECT_EQ(buf.taken.size(), 100000u);
}

TEST(XmlWriter, SaveReportsFailures) {
    XmlParser parser;
    parser.parseText("<r/>");
    TempDir dir;
    EXPECT_FALSE(saveDocument((dir / "missing/Data.xml").string().c_str(), parser.root()));
    EXPECT_FALSE(saveDocument(nullptr, parser.root()));
    EXPECT_FALSE(saveDocument(dir.path().c_str(), parser.root())); // a folder
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_FALSE(saveDocument("/dev/full", parser.root())); // the disk is full
    }
    // An empty handle writes an empty file and that is not a failure.
    const std::string path = (dir / "empty.xml").string();
    EXPECT_TRUE(saveDocument(path.c_str(), XmlNodeRef()));
    EXPECT_EQ(ReadFile(path), "");
}
