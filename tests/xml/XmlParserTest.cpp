// The parser: the tree each input gives, node by node, under the default and other option words.
#include "xml/XmlParser.h"
#include "tests/xml/XmlTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using xmltest::dumpChildren;

namespace {

struct Case {
    const char* what;
    std::string input;
    std::string tree;
    unsigned options = XmlParser::ParseDefault;
};

std::string parseAndDump(const std::string& input, unsigned options = XmlParser::ParseDefault) {
    XmlParser parser;
    parser.parseText(input, XmlParser::DefaultGrowthStep, options);
    return dumpChildren(parser.root());
}

void expectTrees(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(parseAndDump(c.input, c.options), c.tree) << "input: " << c.input;
    }
}

} // namespace

TEST(XmlParser, ElementsAndAttributes) {
    expectTrees({
        {"both quote styles", R"(<a x="1" y='2'/>)", "element a x=\"1\" y=\"2\"\n"},
        {"spaces around the equals sign", R"(<a x = "1">)", "element a x=\"1\"\n"},
        {"attribute without value", R"(<a x y="1">)", "element a x y=\"1\"\n"},
        {"value holding the other quote", R"(<a x='say "hi"' y="it's"/>)",
         "element a x=\"say \"hi\"\" y=\"it's\"\n"},
        {"attribute right after a value", R"(<a x="1"y="2"/>)", "element a x=\"1\" y=\"2\"\n"},
        {"equals sign without quote", "<a x=5>", "element a x 5\n"},
        {"value of spaces only", R"(<a x="   " y=" v  "/>)", "element a x=\"\" y=\"v\"\n"},
        {"entities stay literal", R"(<a x="&amp; & &lt;">&gt;&</a>)",
         "element a x=\"&amp; & &lt;\"\n  text: \"&gt;&\"\n"},
        {"name bytes", "<1a:b-c.d_e \xB0\xA1=\"\xC4\xE3\"/>", "element 1a:b-c.d_e \xB0\xA1=\"\xC4\xE3\"\n"},
        {"empty element tag with attributes", R"(<r><a x="1" /><b/></r>)",
         "element r\n  element a x=\"1\"\n  element b\n"},
        {"nesting", "<r><a><b/></a><c>t</c></r>",
         "element r\n  element a\n    element b\n  element c\n    text: \"t\"\n"},
    });
}

TEST(XmlParser, EndTagsAreNotMatched) {
    expectTrees({
        {"a wrong end tag closes the cursor", "<a><b></c></a><d/>", "element a\n  element b\nelement d\n"},
        {"a surplus end tag at the top level", "</z><a/></y><b/>", "element a\nelement b\n"},
        {"an end tag ends at its first '>'", "<a></a x='>'><b/>", "element a\nelement b\n"},
    });
}

TEST(XmlParser, Text) {
    expectTrees({
        {"whitespace between tags makes no node", "<a> \t\r\n <b/> \r\n </a>", "element a\n  element b\n"},
        {"trimmed text", "<a>  hello  </a>", "element a\n  text: \"hello\"\n"},
        {"inner whitespace kept", "<a> one\r\n two </a>", "element a\n  text: \"one\r\n two\"\n"},
        {"text after an end tag that follows text", "<a><b>x</b> y </a>",
         "element a\n  element b\n    text: \"x\"\n  text: \"y\"\n"},
        {"mixed content keeps every run", "<a>x<b/>y<c></c>z<!--k-->w</a>",
         "element a\n  text: \"x\"\n  element b\n  text: \"y\"\n  element c\n  text: \"z\"\n"
         "  comment: \"k\"\n  text: \"w\"\n"},
        {"a stray '<' stays in the text it starts", "<a>1 < 2</a>",
         "element a\n  text: \"1\"\n  text: \"< 2\"\n"},
        {"top-level character data is passed over", "junk<r/>more junk", "element r\n"},
        {"a byte-order mark before the declaration", "\xEF\xBB\xBF<?xml version=\"1.0\"?><r/>",
         "pi xml version=\"1.0\"\nelement r\n"},
        {"text at the end of the input", "<a>tail", "element a\n  text: \"tail\"\n"},
        {"a '<' at the very end stays text", "<a>x <", "element a\n  text: \"x\"\n  text: \"<\"\n"},
        {"top-level text after a comment is kept", "<!-- c --> note <r/>",
         "comment: \"c\"\ntext: \"note\"\nelement r\n"},
        {"top-level text after a processing instruction is kept", "<?xml v='1'?> note<r/>",
         "pi xml v=\"1\"\ntext: \"note\"\nelement r\n"},
        {"top-level text after an element is passed over", "<r/> tail <!--c-->",
         "element r\ncomment: \"c\"\n"},
    });
}

TEST(XmlParser, CommentsCdataAndProcessingInstructions) {
    expectTrees({
        {"comment", "<!-- c -->", "comment: \"c\"\n"},
        {"empty comment", "<!---->", "comment: \"\"\n"},
        {"comment holding dashes", "<!-- a - b -- c --->", "comment: \"a - b -- c -\"\n"},
        {"CDATA", "<a><![CDATA[ x ]]></a>", "element a\n  cdata: \"x\"\n"},
        {"CDATA holding markup", "<a><![CDATA[<b>]]]]></a>", "element a\n  cdata: \"<b>]]\"\n"},
        {"declaration", R"(<?xml version="1.0"?>)", "pi xml version=\"1.0\"\n"},
        {"declaration and root", "<?xml version=\"1.0\" encoding='GB2312' ?>\r\n<r/>",
         "pi xml version=\"1.0\" encoding=\"GB2312\"\nelement r\n"},
        {"processing instruction without attributes", "<r><?page?><a/></r>",
         "element r\n  pi page\n  element a\n"},
        {"'?' inside a value", R"(<?p a="?" b='x'?><r/>)", "pi p a=\"?\" b=\"x\"\nelement r\n"},
        {"'<!-' without a second dash is skipped", "<r><!- x --><a/></r>", "element r\n  element a\n"},
        {"'<?' without a name is skipped", "<r><? x><a/></r>", "element r\n  element a\n"},
    });
}

TEST(XmlParser, DocumentTypeDeclarations) {
    expectTrees({
        {"tokens", R"(<!DOCTYPE html PUBLIC "-//W3C//DTD" 'x.dtd'><r/>)",
         "doctype html=\"html\" PUBLIC=\"PUBLIC\" =\"-//W3C//DTD\" =\"x.dtd\"\nelement r\n"},
        {"internal subset parsed, and the parse goes on after it",
         R"(<!DOCTYPE r [ <!ENTITY e "a>b"> <!ELEMENT r ANY> <!ATTLIST r a CDATA #IMPLIED> )"
         R"(<!NOTATION n SYSTEM "n"> ]><r>&e;</r>)",
         "doctype r=\"r\": \" <!ENTITY e \"a>b\"> <!ELEMENT r ANY> <!ATTLIST r a CDATA #IMPLIED> "
         "<!NOTATION n SYSTEM \"n\"> \"\n"
         "  entity e: \"\"a>b\"\"\n  elementdecl r: \"ANY\"\n  attlist r: \"a CDATA #IMPLIED\"\n"
         "  notation n: \"SYSTEM \"n\"\"\n"
         "element r\n  text: \"&e;\"\n"},
        {"parameter entities, comments and references in the subset",
         "<!DOCTYPE r [<!ENTITY % p 'x'> %p; <!--c--><?pi a=\"1\"?>]><r/>",
         "doctype r=\"r\": \"<!ENTITY % p 'x'> %p; <!--c--><?pi a=\"1\"?>\"\n"
         "  entity % p: \"'x'\"\n  text: \"%p;\"\n  comment: \"c\"\n  pi pi a=\"1\"\nelement r\n"},
        {"unknown keyword", "<!FOO bar baz ><r/>", "entity bar: \"baz\"\nelement r\n"},
        {"declaration outside a DOCTYPE", "<!ELEMENT x (#PCDATA)><r/>",
         "elementdecl x: \"(#PCDATA)\"\nelement r\n"},
        {"declaration without name or value", "<!ELEMENT><r/>", "elementdecl\nelement r\n"},
        {"without ParseDoctype nothing is made", R"(<!DOCTYPE r [<!ENTITY e "v">]><r/>)", "element r\n",
         XmlParser::ParseDefault & ~(XmlParser::ParseDoctype | XmlParser::DtdOnly)},
        {"DtdOnly without ParseDoctype", R"(<!DOCTYPE r [<!ENTITY e "v">]><r/>)", "",
         XmlParser::ParseDefault & ~XmlParser::ParseDoctype},
        {"subset kept as text", "<!DOCTYPE r [  <!ENTITY e \"v\">  ]><r/>",
         "doctype r=\"r\": \"  <!ENTITY e \"v\">  \"\nelement r\n", XmlParser::ParseDoctype},
        {"subset trimmed", "<!DOCTYPE r [  <!ENTITY e \"v\">  ]><r/>",
         "doctype r=\"r\": \"<!ENTITY e \"v\">\"\nelement r\n",
         XmlParser::ParseDoctype | XmlParser::TrimDoctype},
        {"nested brackets in the subset", "<!DOCTYPE r [ [x] ]><r/>",
         "doctype r=\"r\": \" [x] \"\nelement r\n", XmlParser::ParseDoctype},
        {"a DOCTYPE inside a subset is passed over", "<!DOCTYPE r [<!DOCTYPE s [<!ENTITY e 'v'>]>]><r/>",
         "doctype r=\"r\": \"<!DOCTYPE s [<!ENTITY e 'v'>]>\"\nelement r\n"},
        {"INCLUDE section", "<r><![INCLUDE[ x ]]></r>", "element r\n  include: \"x\"\n"},
        {"INCLUDE section without ParseDoctype", "<r><![INCLUDE[ x ]]><a/></r>", "element r\n  element a\n",
         XmlParser::ParseDefault & ~XmlParser::ParseDoctype},
    });
}

TEST(XmlParser, EachOptionBit) {
    const std::string input = "<?p a='1'?><!-- c --><r x=' v '> t <![CDATA[ d ]]><![INCLUDE[ i ]]>"
                              "</r><!ELEMENT e  ANY  >";
    const unsigned all = XmlParser::ParseDefault;
    expectTrees({
        {"everything", input,
         "pi p a=\"1\"\ncomment: \"c\"\nelement r x=\"v\"\n  text: \"t\"\n  cdata: \"d\"\n  include: \"i\"\n"
         "elementdecl e: \"ANY\"\n",
         all},
        {"no ParsePi", input,
         "comment: \"c\"\nelement r x=\"v\"\n  text: \"t\"\n  cdata: \"d\"\n  include: \"i\"\n"
         "elementdecl e: \"ANY\"\n",
         all & ~XmlParser::ParsePi},
        {"no ParseComments", input,
         "pi p a=\"1\"\nelement r x=\"v\"\n  text: \"t\"\n  cdata: \"d\"\n  include: \"i\"\n"
         "elementdecl e: \"ANY\"\n",
         all & ~XmlParser::ParseComments},
        {"no ParseCdata", input,
         "pi p a=\"1\"\ncomment: \"c\"\nelement r x=\"v\"\n  text: \"t\"\n  include: \"i\"\n"
         "elementdecl e: \"ANY\"\n",
         all & ~XmlParser::ParseCdata},
        {"no trimming", input,
         "pi p a=\"1\"\ncomment: \" c \"\nelement r x=\" v \"\n  text: \" t \"\n  cdata: \" d \"\n"
         "  include: \" i \"\nelementdecl e: \"ANY  \"\n",
         all & ~(XmlParser::TrimText | XmlParser::TrimAttributes | XmlParser::TrimCdata |
                 XmlParser::TrimDeclarations | XmlParser::TrimComments)},
        {"option word 0: declarations and elements only", input,
         "element r x=\" v \"\n  text: \" t \"\nelementdecl e: \"ANY  \"\n", 0},
        {"bits without meaning change nothing", input,
         "element r x=\" v \"\n  text: \" t \"\nelementdecl e: \"ANY  \"\n",
         0x0001 | 0x0020 | 0x1000 | 0x8000},
    });
}

TEST(XmlParser, DtdOnlyEndsAfterASubsetKeptAsText) {
    const std::string input = R"(<!DOCTYPE r [<!ENTITY e "v">]><r/>)";
    XmlParser parser;
    char* text = static_cast<char*>(std::malloc(input.size() + 1));
    std::memcpy(text, input.c_str(), input.size() + 1);
    const char* stop = parser.parse(text, parser.document(), 4, XmlParser::ParseDoctype | XmlParser::DtdOnly);
    EXPECT_EQ(dumpChildren(parser.root()), "doctype r=\"r\": \"<!ENTITY e \"v\">\"\n");
    EXPECT_EQ(stop, text + input.find(']') + 1);

    // The default option word has DtdOnly set too; the subset is parsed and nothing after it is lost.
    XmlParser full;
    full.parseText(input);
    EXPECT_EQ(dumpChildren(full.root()),
              "doctype r=\"r\": \"<!ENTITY e \"v\">\"\n  entity e: \"\"v\"\"\nelement r\n");
}

TEST(XmlParser, BrokenInputKeepsWhatWasBuilt) {
    expectTrees({
        {"end inside an attribute value", R"(<r><a x="1" y="2)", "element r\n  element a x=\"1\" y\n"},
        {"end after an equals sign", "<r><a x=", "element r\n  element a x\n"},
        {"end inside a name", "<r><ab", "element r\n  element ab\n"},
        {"end inside a comment", "<r/><!-- c", "element r\n"},
        {"end inside CDATA", "<r><![CDATA[ c", "element r\n"},
        {"processing instruction never closed", "<r/><?p a='1'>", "element r\n"},
        {"end inside a DOCTYPE subset", "<r/><!DOCTYPE r [ <!ENTITY", "element r\ndoctype r=\"r\"\n"},
        {"end inside a declaration", "<r/><!ENTITY e 'v>", "element r\nentity e\n"},
        {"end inside an end tag", "<r><a/></r", "element r\n  element a\n"},
        {"a lone '<'", "<r/><", "element r\n"},
        {"odd bytes in a tag", R"(<r><a x="1" "junk"><b/></a></r>)",
         "element r\n  element a x=\"1\"\n    element b\n"},
        {"junk after '/' in a tag", R"(<r><a x="1"/ junk><b/></r>)",
         "element r\n  element a x=\"1\"\n  element b\n"},
    });
}

// Where a text breaks off, the reason and the offset of the construct that is cut short; a text
// read whole has no reason, however odd its markup.
TEST(XmlParser, ReportsWhereAndWhyATextBreaksOff) {
    struct Break {
        const char* what;
        std::string input;
        const char* why; // null: read whole
        std::size_t at;
    };
    const Break cases[] = {
        {"whole", "<r><a x='1'/></r>", nullptr, 0},
        {"surplus end tag", "<r/></z>", nullptr, 0},
        {"end tags not matched", "<r><a></b></r>", nullptr, 0},
        {"cut inside a value", "<r>\n<DEV id=\"3\" na", "a tag is not closed", 4},
        {"cut after a name", "<r><ab", "a tag is not closed", 3},
        {"element left open", "<r><a>text</a>", "an element is not closed", 0},
        {"innermost open element", "<r><a><b/>", "an element is not closed", 3},
        {"comment", "<r/><!-- c", "a comment is not closed", 4},
        {"CDATA", "<r><![CDATA[ c", "a CDATA section is not closed", 3},
        {"processing instruction", "<r/><?p a='1'>", "a processing instruction is not closed", 4},
        {"end tag", "<r><a/></r", "a tag is not closed", 7},
        {"DOCTYPE", "<!DOCTYPE r [ <!ENTITY", "a document type declaration is not closed", 0},
        {"declaration", "<r/><!ENTITY e 'v>", "a declaration is not closed", 4},
    };
    for (const Break& c : cases) {
        XmlParser parser;
        parser.parseText(c.input);
        if (c.why == nullptr) {
            EXPECT_EQ(parser.breakReason(), nullptr) << c.what;
            continue;
        }
        ASSERT_NE(parser.breakReason(), nullptr) << c.what;
        EXPECT_STREQ(parser.breakReason(), c.why) << c.what;
        // The position points into the parser's copy of the text: its bytes there open the construct.
        EXPECT_EQ(std::string(parser.breakPosition()).substr(0, 2), c.input.substr(c.at, 2)) << c.what;
    }
}

// Top-level text that no node keeps, found so that a caller can refuse to write a text back short.
TEST(XmlParser, NotesTheFirstTopLevelTextPassedOver) {
    const std::pair<std::string, const char*> cases[] = {
        {"plain words, no markup", "plain words, no markup"},
        {"# README\n<b>bold</b> text", "# README\n"},
        {"<r/> tail", "tail"},
        {"<r/>< b", "< b"},
        {"\xEF\xBB\xBF junk<r/>", "\xEF\xBB\xBF junk"},
        {"<!-- c --> kept as a node", nullptr},
        {"\xEF\xBB\xBF\r\n<?xml v='1'?>\r\n<r> x </r>\r\n", nullptr},
    };
    for (const auto& [input, first] : cases) {
        XmlParser parser;
        parser.parseText(input);
        if (first == nullptr) {
            EXPECT_EQ(parser.passedOverText(), nullptr) << input;
        } else {
            ASSERT_NE(parser.passedOverText(), nullptr) << input;
            EXPECT_EQ(std::string(parser.passedOverText()).substr(0, std::strlen(first)), first) << input;
        }
    }
}

TEST(XmlParser, AZeroByteEndsTheParse) {
    XmlParser parser;
    const std::string input("<a/>\0<b/>", 9);
    const char* stop = parser.parseText(input);
    EXPECT_EQ(dumpChildren(parser.root()), "element a\n");
    EXPECT_EQ(*stop, '\0');
}

TEST(XmlParser, StopPositionIsTheEndOfAWholeText) {
    XmlParser parser;
    const std::string input = "<r><a/></r>";
    char* text = static_cast<char*>(std::malloc(input.size() + 1));
    std::memcpy(text, input.c_str(), input.size() + 1);
    EXPECT_EQ(parser.parse(text, nullptr, 4, XmlParser::ParseDefault), text + input.size());
    EXPECT_EQ(parser.stopPosition(), text + input.size());
    EXPECT_EQ(parser.parse(nullptr, nullptr, 4, XmlParser::ParseDefault), nullptr);
}

TEST(XmlParser, NamesAndValuesPointIntoTheText) {
    XmlParser parser;
    const std::string input = R"(<root attr=" v ">text</root>)";
    char* text = static_cast<char*>(std::malloc(input.size() + 1));
    std::memcpy(text, input.c_str(), input.size() + 1);
    parser.parse(text, parser.document(), 4, XmlParser::ParseDefault);
    const XmlNode* root = parser.document()->children[0];
    EXPECT_EQ(root->name.ptr, text + 1);
    EXPECT_EQ(root->name.length, 4u);
    EXPECT_TRUE(root->name.inPlace);
    EXPECT_EQ(root->attributes[0]->value.ptr, text + 13);
    EXPECT_EQ(root->attributes[0]->value.length, 1u);
    EXPECT_TRUE(root->attributes[0]->value.inPlace);
    EXPECT_EQ(root->children[0]->value.ptr, text + 17);
    EXPECT_EQ(root->parent, parser.document());
    EXPECT_EQ(parser.document()->parent, parser.document());
    EXPECT_EQ(parser.document()->kind, NodeDocument);
}

TEST(XmlParser, ArraysGrowByTheGrowthStep) {
    std::string input = "<r>";
    for (int i = 0; i < 10; ++i) {
        input += "<c/>";
    }
    input += "</r><!DOCTYPE d a b c>";
    for (unsigned step : {1u, 4u, 7u}) {
        SCOPED_TRACE(step);
        XmlParser parser;
        parser.parseText(input, step);
        const XmlNode* r = parser.document()->children[0];
        EXPECT_EQ(r->childCount, 10u);
        // New elements start with room for one child; each growth adds the step.
        EXPECT_EQ(r->childCapacity, 1 + ((10 - 1 + step - 1) / step) * step);
        // The tokens of a document type declaration grow one at a time.
        const XmlNode* doctype = parser.document()->children[1];
        EXPECT_EQ(doctype->attributeCount, 4u);
        EXPECT_EQ(doctype->attributeCapacity, 4u);
    }
}

TEST(XmlParser, ParsesIntoAGivenNodeWithoutClimbingAboveIt) {
    XmlParser parser;
    parser.parseText("<r><slot/></r>");
    XmlNode* slot = parser.document()->children[0]->children[0];
    char* more = static_cast<char*>(std::malloc(32));
    std::strcpy(more, "<a/></slot></r><b/>");
    parser.parse(more, slot, 4, XmlParser::ParseDefault);
    EXPECT_EQ(dumpChildren(parser.root()), "element r\n  element slot\n    element a\n    element b\n");
}

TEST(XmlParser, ClearLeavesAnEmptyDocument) {
    XmlParser parser;
    parser.parseText("<r><a x='1'/></r>");
    XmlNodeRef(parser.document()->children[0]).attribute("edited").setText("yes");
    EXPECT_GT(parser.pageBytes(), 0u);
    parser.clear();
    EXPECT_TRUE(parser.root().isDocument());
    EXPECT_EQ(parser.root().childCount(), 0u);
    EXPECT_EQ(parser.pageBytes(), 0u);
    parser.parseText("<again/>");
    EXPECT_EQ(dumpChildren(parser.root()), "element again\n");
}

TEST(XmlParser, EveryPrefixOfADocumentParses) {
    // Each cut of a document exercises a different "ends before the construct closes" path;
    // the parse must keep what it built and never read past the text.
    const std::string input =
        "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY e 'v'><!ATTLIST r a CDATA #IMPLIED>]>"
        "<r a=\"1\" b='2' c><!-- note --><x>text</x><![CDATA[ raw ]]><y/>tail<?pi q=\"?\"?></r>";
    for (std::size_t length = 0; length <= input.size(); ++length) {
        XmlParser parser;
        const char* stop = parser.parseText(input.substr(0, length));
        ASSERT_NE(stop, nullptr);
        if (length > input.find("<r ") + 2) {
            EXPECT_TRUE(parser.root().firstByName("r").isValid()) << length;
        }
    }
}
