// The tolerant in-place XML parser and the owner of one tree and its text.
#pragma once

#include "xml/XmlTree.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace xmldetail {
class XmlPages;
}

// Parses text in one forward pass into a node tree. Parsing never fails: malformed input gives a
// partial or odd tree, and the caller learns where parsing stopped and whether, and where, the
// text broke off. No entities, character
// references, namespaces or encodings are interpreted; names and values are byte runs of the
// text, which the parser keeps for as long as the tree lives.
class XmlParser {
public:
    // Bits of the option word.
    static constexpr unsigned ParsePi = 0x0002;          // processing instructions become nodes
    static constexpr unsigned ParseDoctype = 0x0004;     // DOCTYPE and INCLUDE sections become nodes
    static constexpr unsigned ParseComments = 0x0008;    // comments become nodes
    static constexpr unsigned ParseCdata = 0x0010;       // CDATA sections become nodes
    static constexpr unsigned TrimText = 0x0040;         // text values are trimmed
    static constexpr unsigned TrimAttributes = 0x0080;   // attribute values are trimmed
    static constexpr unsigned TrimCdata = 0x0100;        // CDATA and INCLUDE contents are trimmed
    static constexpr unsigned TrimDeclarations = 0x0200; // declaration values are trimmed
    static constexpr unsigned TrimDoctype = 0x0400;      // an unparsed internal subset is trimmed
    static constexpr unsigned TrimComments = 0x0800;     // comment values are trimmed
    static constexpr unsigned ParseDtd = 0x2000;         // the internal subset becomes declaration nodes
    // Parsing ends right after an internal subset that is kept as text. When the subset is parsed
    // into declarations (ParseDoctype and ParseDtd) the parse goes on after it, so the default
    // option word, which has every bit set, never drops the rest of a file.
    static constexpr unsigned DtdOnly = 0x4000;
    static constexpr unsigned ParseDefault = 0xFFFF;

    // The growth step of child and attribute arrays that the data store uses.
    static constexpr unsigned DefaultGrowthStep = 4;

    // Starts with an empty document.
    XmlParser();
    ~XmlParser();
    XmlParser(const XmlParser&) = delete;
    XmlParser& operator=(const XmlParser&) = delete;

    // Parses the zero-terminated text into the node `into` (the parser's own document when null):
    // new nodes become children of the cursor, which starts at `into` and never climbs above it.
    // The parser takes the text over (it must come from malloc, as loadTextFile's buffer does) and
    // frees it in clear() or when destroyed; names and values of the tree point into it, and the
    // new nodes live in the parser's pages, so the tree must not outlive the parser. Arrays have
    // the capacity that growing by growthStep entries at a time gives. Gives the position in the text where
    // parsing stopped: the terminating zero byte unless a construct ended the parse early.
    const char* parse(char* text, XmlNode* into, unsigned growthStep, unsigned options);

    // Copies text (up to its first zero byte) and parses the copy into the document.
    const char* parseText(std::string_view text, unsigned growthStep = DefaultGrowthStep,
                          unsigned options = ParseDefault);

    // Reads a file with loadTextFile (chunks of 4096 bytes) and parses it into the document with
    // growth step 4 and the default options. False, and the document left as it was, when the
    // file is missing, unreadable or empty.
    bool loadFile(const char* path);

    // Frees the tree and the text, leaving an empty document.
    void clear();

    // The document node: kind NodeDocument, its own parent.
    XmlNode* document() const { return m_document; }
    XmlNodeRef root() const { return XmlNodeRef(m_document); }

    // Where the last parse stopped (null before the first).
    const char* stopPosition() const { return m_stop; }
    // Why the last parse did not read its text to the end as complete markup (a comment, section,
    // tag or declaration cut short, an element left open, memory running out), or null when it
    // did; breakPosition() is then where the broken construct begins.
    const char* breakReason() const { return m_breakWhy; }
    const char* breakPosition() const { return m_breakAt; }
    // The first non-blank character data that the last parse passed over at the top level (where
    // no node keeps it), or null. A byte-order mark that opens the text does not count.
    const char* passedOverText() const { return m_passedOver; }
    unsigned growthStep() const { return m_growthStep; }
    unsigned options() const { return m_options; }

    // Bytes of memory that the parsed nodes occupy in the parser's pages.
    std::size_t pageBytes() const;

private:
    struct FreeDeleter {
        void operator()(char* p) const;
    };

    XmlNode* m_document = nullptr;
    std::unique_ptr<xmldetail::XmlPages> m_pages;
    std::vector<std::unique_ptr<char, FreeDeleter>> m_texts;
    unsigned m_growthStep = DefaultGrowthStep;
    unsigned m_options = ParseDefault;
    const char* m_stop = nullptr;
    const char* m_breakAt = nullptr;
    const char* m_breakWhy = nullptr;
    const char* m_passedOver = nullptr;
};
