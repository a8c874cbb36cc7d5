// Handles, lookups and edits of the node tree, and freeing.
#include "tests/xml/XmlTestSupport.h"
#include "xml/XmlParser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using xmltest::dumpChildren;

namespace {

XmlNodeRef parsed(XmlParser& parser, const std::string& text) {
    parser.parseText(text);
    return parser.root();
}

std::string idOf(XmlNodeRef node) {
    return node.isValid() ? node.attribute("id").text() : "none";
}

} // namespace

TEST(XmlTree, EmptyHandlesFindAndChangeNothing) {
    XmlNodeRef empty;
    EXPECT_FALSE(empty.isValid());
    EXPECT_EQ(empty.kind(), NodeNull);
    EXPECT_EQ(empty.childCount(), 0u);
    EXPECT_FALSE(empty.child(0).isValid());
    EXPECT_FALSE(empty.firstByName("a").isValid());
    EXPECT_FALSE(empty.firstWithAttribute(nullptr, "a", "1").isValid());
    EXPECT_EQ(empty.attributeIndex("a"), -1);
    EXPECT_FALSE(empty.attribute("a").isValid());
    EXPECT_FALSE(empty.appendChild(NodeElement).isValid());
    EXPECT_FALSE(empty.setName("x"));
    EXPECT_FALSE(empty.parent().isValid());
    EXPECT_FALSE(XmlNodeRef(nullptr).isValid());

    XmlAttributeRef none;
    EXPECT_FALSE(none.isValid());
    EXPECT_FALSE(none.setText("x"));
    EXPECT_FALSE(none.setUnsigned(5));
    EXPECT_EQ(none.text(), "");
}

TEST(XmlTree, ChildByIndex) {
    XmlParser parser;
    XmlNodeRef r = parsed(parser, "<r><a/><b/></r>").child(0);
    EXPECT_EQ(r.childCount(), 2u);
    EXPECT_EQ(r.child(1).name(), "b");
    EXPECT_FALSE(r.child(2).isValid()); // index equal to the count
    EXPECT_EQ(r.child(0).parent(), r);
}

TEST(XmlTree, FirstByNameSearchesDepthFirstInDocumentOrder) {
    XmlParser parser;
    XmlNodeRef doc = parsed(parser, "<r id='0'><a><x id='1'><x id='2'/></x></a><x id='3'/><!--x--></r>");
    EXPECT_EQ(idOf(doc.firstByName("x")), "1");
    XmlNodeRef r = doc.child(0);
    EXPECT_FALSE(r.firstByName("r").isValid()); // the node itself is not tested
    EXPECT_EQ(idOf(r.firstByName("x").firstByName("x")), "2");
    EXPECT_FALSE(doc.firstByName("").isValid()); // nodes without a name never match
    EXPECT_FALSE(doc.firstByName(nullptr).isValid());
    EXPECT_FALSE(doc.firstByName("X").isValid()); // case-sensitive
    EXPECT_FALSE(doc.firstByName("xx").isValid());
}

TEST(XmlTree, FirstWithAttribute) {
    XmlParser parser;
    XmlNodeRef doc = parsed(parser, "<r>"
                                    "<DEV id='1' name='a'><DEV id='2' name='a_1'/></DEV>"
                                    "<ORG id='2' name='o'><ORG id='7' name='deep'/></ORG>"
                                    "<DEV id='007'/><DEV name='n' id='9' id='10'/><DEV id/>"
                                    "</r>");
    XmlNodeRef r = doc.child(0);
    EXPECT_EQ(r.firstWithAttribute("DEV", "id", "2").name(), "DEV");
    EXPECT_EQ(r.firstWithAttribute("DEV", "id", "2").attribute("name").text(), "a_1");
    EXPECT_EQ(r.firstWithAttribute(nullptr, "id", "2").attribute("name").text(), "a_1"); // pre-order
    EXPECT_EQ(r.firstWithAttribute("ORG", "id", "2").attribute("name").text(), "o");
    EXPECT_FALSE(r.firstWithAttribute("DEV", "id", "7").isValid()); // exact text: not "007"
    EXPECT_TRUE(r.firstWithAttribute("DEV", "id", "007").isValid());
    EXPECT_TRUE(r.firstWithAttribute("DEV", "id", "9").isValid()); // the first attribute of the name counts
    EXPECT_FALSE(r.firstWithAttribute("DEV", "id", "10").isValid());
    EXPECT_TRUE(r.firstWithAttribute("DEV", "id", "").isValid()); // a bare name reads as empty text
    // Depth: 0 is the children only, 1 one level further, negative unlimited.
    EXPECT_FALSE(r.firstWithAttribute(nullptr, "name", "deep", 0).isValid());
    EXPECT_TRUE(r.firstWithAttribute(nullptr, "name", "deep", 1).isValid());
    EXPECT_FALSE(doc.firstWithAttribute(nullptr, "name", "deep", 1).isValid());
    EXPECT_TRUE(doc.firstWithAttribute(nullptr, "name", "deep", -1).isValid());
    EXPECT_TRUE(doc.firstWithAttribute(nullptr, "name", "deep", -7).isValid());
    EXPECT_FALSE(r.firstWithAttribute("DEV", nullptr, "1").isValid());
    EXPECT_FALSE(r.firstWithAttribute("DEV", "id", nullptr).isValid());
}

TEST(XmlTree, AttributeIndex) {
    XmlParser parser;
    XmlNodeRef a = parsed(parser, "<a p='1' q='2' p='3'/>").child(0);
    EXPECT_EQ(a.attributeIndex("p"), 0);
    EXPECT_EQ(a.attributeIndex("q"), 1);
    EXPECT_EQ(a.attributeIndex("r"), -1);
    EXPECT_EQ(a.attributeIndex(nullptr), -1);
}

TEST(XmlTree, AttributeGetsOrAdds) {
    XmlParser parser;
    XmlNodeRef a = parsed(parser, "<a p='1' q='2'>text</a>").child(0);
    const XmlAttributeRef q = a.attribute("q");
    EXPECT_EQ(q.text(), "2");
    EXPECT_EQ(a.attribute("q"), q);
    EXPECT_EQ(a.attributeCount(), 2u);

    const XmlAttributeRef r = a.attribute("r");
    ASSERT_TRUE(r.isValid());
    EXPECT_EQ(a.attributeCount(), 3u);
    EXPECT_EQ(a.attributeIndex("r"), 2);
    EXPECT_EQ(r.text(), "");
    EXPECT_TRUE(r.hasValue());
    EXPECT_FALSE(r.get()->name.inPlace);
    EXPECT_EQ(r.get()->name.ptr[1], '\0'); // own copies are terminated
    EXPECT_EQ(a.attribute("r"), r);        // no second copy
    EXPECT_EQ(dumpChildren(parser.root()), "element a p=\"1\" q=\"2\" r=\"\"\n  text: \"text\"\n");

    EXPECT_FALSE(a.child(0).attribute("x").isValid()); // text carries no attributes
    EXPECT_FALSE(a.attribute(nullptr).isValid());
    EXPECT_FALSE(parser.root().attribute("x").isValid());
}

TEST(XmlTree, EditsGrowArraysByOne) {
    XmlParser parser;
    XmlNodeRef a = parsed(parser, "<a/>").child(0);
    const XmlNode* raw = a.get();
    a.attribute("x");
    EXPECT_EQ(raw->attributeCapacity, 1u);
    a.attribute("y");
    a.attribute("z");
    EXPECT_EQ(raw->attributeCount, 3u);
    EXPECT_EQ(raw->attributeCapacity, 3u);
    a.appendChild(NodeElement);
    a.appendChild(NodeElement);
    EXPECT_EQ(raw->childCount, 2u);
    EXPECT_EQ(raw->childCapacity, 2u);
}

TEST(XmlTree, SetTextAndSetUnsignedMakeOwnCopies) {
    XmlParser parser;
    XmlNodeRef a = parsed(parser, "<a v='in place'/>").child(0);
    XmlAttributeRef v = a.attribute("v");
    EXPECT_TRUE(v.get()->value.inPlace);
    EXPECT_TRUE(v.setText("first"));
    EXPECT_FALSE(v.get()->value.inPlace);
    EXPECT_EQ(v.text(), "first");
    EXPECT_TRUE(v.setText(v.view().substr(1))); // from its own bytes
    EXPECT_EQ(v.text(), "irst");
    EXPECT_TRUE(v.setText(static_cast<const char*>(nullptr)));
    EXPECT_EQ(v.text(), "");
    EXPECT_TRUE(v.hasValue());
    EXPECT_TRUE(v.setText(std::string_view("a\0b", 3)));
    EXPECT_EQ(v.view().size(), 3u);

    const std::pair<std::uint32_t, const char*> numbers[] = {{0u, "0"},
                                                             {7u, "7"},
                                                             {65535u, "65535"},
                                                             {static_cast<std::uint16_t>(70000u), "4464"},
                                                             {4294967295u, "4294967295"}};
    for (const auto& [number, text] : numbers) {
        EXPECT_TRUE(v.setUnsigned(number));
        EXPECT_EQ(v.text(), text);
    }
}

TEST(XmlTree, SetName) {
    XmlParser parser;
    XmlNodeRef a = parsed(parser, "<a/>").child(0);
    EXPECT_TRUE(a.setName("renamed"));
    EXPECT_EQ(a.name(), "renamed");
    EXPECT_TRUE(a.setName(std::string("again")));
    EXPECT_EQ(a.name(), "again");
    EXPECT_FALSE(a.setName(static_cast<const char*>(nullptr)));
    EXPECT_EQ(a.name(), "again");
}

TEST(XmlTree, AppendChild) {
    XmlParser parser;
    XmlNodeRef doc = parsed(parser, "<r>t</r>");
    XmlNodeRef r = doc.child(0);

    XmlNodeRef added = r.appendChild(NodeElement);
    ASSERT_TRUE(added.isValid());
    EXPECT_EQ(r.child(1), added);
    EXPECT_EQ(added.parent(), r);
    EXPECT_EQ(added.get()->attributeCapacity, 1u);
    EXPECT_EQ(added.get()->childCapacity, 1u);
    EXPECT_TRUE(added.get()->name.isNull());
    EXPECT_TRUE(added.setName("DEV"));

    XmlNodeRef top = doc.appendChild(NodeComment);
    EXPECT_EQ(doc.child(1), top);
    EXPECT_EQ(top.get()->childCapacity, 0u);
    EXPECT_EQ(top.get()->attributeCapacity, 0u);

    EXPECT_FALSE(r.child(0).appendChild(NodeElement).isValid()); // text
    EXPECT_FALSE(top.appendChild(NodeElement).isValid());        // comment
    EXPECT_FALSE(r.appendChild(NodeNull).isValid());
    EXPECT_FALSE(r.appendChild(NodeDocument).isValid());
    EXPECT_FALSE(r.appendChild(static_cast<XmlNodeKind>(13)).isValid());
    EXPECT_EQ(dumpChildren(doc), "element r\n  text: \"t\"\n  element DEV\ncomment\n");
}

TEST(XmlTree, BuildsADocumentFromNothing) {
    XmlNode* document = newDocumentNode();
    XmlNodeRef doc(document);
    EXPECT_TRUE(doc.isDocument());
    XmlNodeRef root = doc.appendChild(NodeElement);
    root.setName("DATAROOT");
    XmlNodeRef dev = root.appendChild(NodeElement);
    dev.setName("DEV");
    dev.attribute("id").setUnsigned(1);
    dev.attribute("name").setText("Hall1");
    EXPECT_EQ(doc.firstWithAttribute("DEV", "id", "1"), dev);
    EXPECT_EQ(dumpChildren(doc), "element DATAROOT\n  element DEV id=\"1\" name=\"Hall1\"\n");
    freeTree(document);
}

TEST(XmlTree, FreeTreeTakesASubtreeOutOfItsParent) {
    XmlParser parser;
    XmlNodeRef doc = parsed(parser, "<r><a><x/><y/></a><b/><c/></r>");
    XmlNodeRef r = doc.child(0);
    // Mix parsed and edited nodes below the one freed.
    XmlNodeRef a = r.child(0);
    a.attribute("edited").setText("yes");
    a.appendChild(NodeElement).setName("z");
    a.child(0).setName("renamed");
    freeTree(a.get());
    EXPECT_EQ(dumpChildren(doc), "element r\n  element b\n  element c\n");
    freeTree(r.child(1).get()); // the last child
    EXPECT_EQ(dumpChildren(doc), "element r\n  element b\n");
    freeTree(nullptr);
}

TEST(XmlTree, WritableValues) {
    EXPECT_TRUE(isWritableValue(""));
    EXPECT_TRUE(isWritableValue("plain & <literal>"));
    EXPECT_TRUE(isWritableValue("say \"hi\""));
    EXPECT_TRUE(isWritableValue("it's"));
    EXPECT_FALSE(isWritableValue("it's \"quoted\""));
    EXPECT_FALSE(isWritableValue(std::string_view("a\0b", 3)));
}
