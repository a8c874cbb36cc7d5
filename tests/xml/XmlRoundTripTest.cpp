// Load and save against an outside reader: for generated well-formed documents, xmllint must
// find the saved file well-formed and holding the same elements, attributes, text, comments and
// processing instructions as the original (whitespace at the ends of text aside).
#include "tests/common/ChildProgram.h"
#include "tests/common/ClientDataGenerator.h"
#include "tests/common/Files.h"
#include "tests/common/TempDir.h"
#include "tests/xml/XmlTestSupport.h"
#include "xml/XmlParser.h"
#include "xml/XmlWriter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>

namespace {

// Generates well-formed documents whose text and values have no whitespace at their ends, so
// that the engine's trimming does not change their meaning.
class DocumentGenerator {
public:
    explicit DocumentGenerator(std::uint32_t seed) : m_random(seed) {}

    std::string document(int maxDepth, int maxChildren) {
        std::string out;
        if (pick(2)) {
            out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        }
        if (pick(2)) {
            out += "<!--" + words(3) + "-->\n";
        }
        if (pick(2)) {
            out += "<?style href=\"" + words(1) + ".xsl\" type=\"text/xsl\"?>\n";
        }
        element(out, 0, maxDepth, maxChildren, maxChildren);
        if (pick(2)) {
            out += "\n<!--" + words(2) + "-->";
        }
        out += '\n';
        return out;
    }

    std::string name() {
        static const char first[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_";
        static const char rest[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.";
        std::string n(1, first[pick(sizeof first - 1)]);
        const int length = 1 + pick(8);
        for (int i = 0; i < length; ++i) {
            n += rest[pick(sizeof rest - 1)];
        }
        return n;
    }

    void element(std::string& out, int depth, int maxDepth, int maxChildren, int minChildren = 0) {
        const std::string tag = name();
        out += '<' + tag;
        std::set<std::string> used;
        const int attributes = pick(5);
        for (int i = 0; i < attributes; ++i) {
            std::string key = name();
            if (!used.insert(key).second) {
                continue;
            }
            const char quote = pick(2) ? '"' : '\'';
            out += (pick(3) == 0 ? "\n\t" : " ") + key + (pick(4) == 0 ? " = " : "=") + quote + value(quote) +
                   quote;
        }
        const int children = depth >= maxDepth ? 0 : minChildren + pick(maxChildren + 1 - minChildren);
        if (children == 0 && pick(2)) {
            out += pick(2) ? "/>" : " />";
            return;
        }
        out += '>';
        bool lastWasText = false;
        for (int i = 0; i < children; ++i) {
            const bool spaced = pick(3) == 0;
            if (spaced && !lastWasText) {
                out += "\n  ";
            }
            switch (pick(lastWasText ? 4 : 6)) {
            case 0:
            case 1:
                element(out, depth + 1, maxDepth, maxChildren);
                lastWasText = false;
                break;
            case 2:
                out += "<!--" + words(1 + pick(4)) + "-->";
                break;
            case 3:
                // CDATA stands alone in its element: the canonical form merges it with any text
                // beside it, which the saved layout separates by line breaks.
                out += "<cd><![CDATA[" + cdata() + "]]></cd>";
                lastWasText = false;
                break;
            default:
                if (pick(4) == 0) {
                    out +=
                        "<?" + name() + " a=\"" + words(1) + "\" b=\"" + std::to_string(pick(100)) + "\"?>";
                } else {
                    out += text();
                    lastWasText = true;
                    continue;
                }
                break;
            }
        }
        if (pick(3) == 0 && !lastWasText) {
            out += '\n';
        }
        out += "</" + tag + '>';
    }

private:
    int pick(int n) { return static_cast<int>(m_random() % static_cast<std::uint32_t>(n)); }

    std::string words(int count) {
        static const char* const vocabulary[] = {"alpha", "Hall",          "7",  "x-1", "ok.",
                                                 "DVR",   "g\xC3\xA9nial", "a_b"};
        std::string out;
        for (int i = 0; i < count; ++i) {
            if (i) {
                out += ' ';
            }
            out += vocabulary[pick(8)];
        }
        return out;
    }

    // Values mix words with punctuation, references and the other quote character.
    std::string value(char quote) {
        std::string out = words(1);
        const int pieces = pick(4);
        for (int i = 0; i < pieces; ++i) {
            switch (pick(6)) {
            case 0:
                out += quote == '"' ? "'s" : "\"q\"";
                break;
            case 1:
                out += " &amp; ";
                break;
            case 2:
                out += "&lt;=&gt;";
                break;
            case 3:
                out += ">x";
                break;
            default:
                out += ' ';
                break;
            }
            out += words(1);
        }
        return out;
    }

    std::string text() {
        std::string out = words(1);
        const int pieces = pick(4);
        for (int i = 0; i < pieces; ++i) {
            static const char* const joins[] = {" ", "\n", " &amp; ", " &lt;tag&gt; ", " > ", "\t", " \"'"};
            out += joins[pick(7)];
            out += words(1);
        }
        return out;
    }

    std::string cdata() {
        static const char* const pieces[] = {"<b>bold</b>", "a & b", "]]", "x > y", "if (a < b)"};
        return std::string(pieces[pick(5)]) + " " + words(1);
    }

    std::mt19937 m_random;
};

// The canonical form of a file by xmllint, with whitespace next to tags removed.
std::string canonical(const std::string& path) {
    const ChildResult result = RunProgram({"xmllint", "--huge", "--c14n", path});
    EXPECT_EQ(result.status, 0) << result.err;
    std::string out;
    const std::string& c = result.out;
    for (std::size_t i = 0; i < c.size(); ++i) {
        const bool space = c[i] == ' ' || c[i] == '\t' || c[i] == '\n' || c[i] == '\r';
        if (!space) {
            out += c[i];
            continue;
        }
        std::size_t end = i;
        while (end < c.size() && (c[end] == ' ' || c[end] == '\t' || c[end] == '\n' || c[end] == '\r')) {
            ++end;
        }
        const bool afterTag = !out.empty() && out.back() == '>';
        const bool beforeTag = end < c.size() && c[end] == '<';
        if (!afterTag && !beforeTag) {
            out.append(c, i, end - i);
        }
        i = end - 1;
    }
    return out;
}

bool wellFormed(const std::string& path, std::string* complaint) {
    const ChildResult result = RunProgram({"xmllint", "--huge", "--noout", path});
    *complaint = result.out + result.err;
    return result.status == 0;
}

void expectRoundTrip(const std::string& original, const std::string& what) {
    SCOPED_TRACE(what);
    TempDir dir;
    const std::string in = (dir / "in.xml").string();
    const std::string out = (dir / "out.xml").string();
    WriteFile(in, original);
    std::string complaint;
    XmlParser parser;
    ASSERT_TRUE(parser.loadFile(in.c_str()));
    ASSERT_TRUE(saveDocument(out.c_str(), parser.root()));
    EXPECT_TRUE(wellFormed(out, &complaint)) << complaint;
    EXPECT_EQ(canonical(out), canonical(in)) << "original:\n" << original;
}

} // namespace

TEST(XmlRoundTrip, XmllintIsAvailable) {
    ASSERT_NE(FindProgram("xmllint"), "") << "xmllint (libxml2-utils) is needed";
}

TEST(XmlRoundTrip, GeneratedDocuments) {
    for (std::uint32_t seed = 1; seed <= 16; ++seed) {
        DocumentGenerator generator(seed);
        expectRoundTrip(generator.document(6, 6), "seed " + std::to_string(seed));
    }
}

TEST(XmlRoundTrip, DeepAndWideTrees) {
    DocumentGenerator generator(99);
    std::string deep;
    const int depth = 400; // beyond xmllint's default limit, hence --huge
    for (int i = 0; i < depth; ++i) {
        deep += "<level n=\"" + std::to_string(i) + "\">";
        if (i % 50 == 0) {
            deep += "text " + std::to_string(i);
        }
    }
    deep += "<bottom/>";
    for (int i = 0; i < depth; ++i) {
        deep += "</level>";
    }
    expectRoundTrip(deep, "deep");

    std::string wide = "<wide>";
    for (int i = 0; i < 3000; ++i) {
        generator.element(wide, 0, 1, 3);
    }
    wide += "</wide>";
    expectRoundTrip(wide, "wide");
}

TEST(XmlRoundTrip, DocumentTypeDeclarationWithInternalSubset) {
    // The subset declares an entity and a default attribute; both readers apply them, and nothing
    // after the declaration may be lost.
    const std::string original =
        "<?xml version=\"1.0\"?>\n"
        "<!DOCTYPE root [\n"
        "  <!ENTITY site \"Velmora &amp; Co\">\n"
        "  <!ELEMENT root ANY>\n"
        "  <!ATTLIST item kind CDATA \"plain\">\n"
        "  <!-- declarations end here -->\n"
        "]>\n"
        "<root><item id=\"1\">&site;</item><item id=\"2\" kind=\"x\"/><!--tail--></root>\n";
    expectRoundTrip(original, "DOCTYPE");
}

TEST(XmlRoundTrip, ClientDataFile) {
    expectRoundTrip(clientdata::makeClientDataFile(20, 4), "client data file");
}
