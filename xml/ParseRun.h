#pragma once

#include "xml/XmlPages.h"
#include "xml/XmlParser.h"
#include "xml/XmlScan.h"

#include <cstddef>
#include <cstring>
#include <vector>

namespace xmldetail {

inline constexpr const char* kNoMemory = "there is not enough memory to hold it";

// Room collected while parsing. Children and attributes are gathered here and get arrays of
// their final size once their element is complete, instead of growing an array step by step and
// leaving every outgrown copy behind in the pages. The capacities are those that growing by the
// growth step would have reached.
struct ParseScratch {
    std::vector<XmlNode*> pendingChildren;
    std::vector<XmlAttribute*> pendingAttributes; // records already in the pages
};

// One pass over a range of text into a node. The cursor starts at `into` and never climbs above
// it, so the internal subset of a document type declaration, parsed as a range of its own, stays
// inside its node.
class ParseRun {
public:
    ParseRun(XmlPages* pages, ParseScratch& scratch, const char* end, XmlNode* into, unsigned step,
             unsigned options, bool inSubset)
        : m_pages(pages), m_scratch(scratch), m_end(end), m_into(into), m_cursor(into),
          m_step(step ? step : 1), m_options(options), m_inSubset(inSubset) {
        m_open.push_back({into, scratch.pendingChildren.size()});
    }

    // Parses from p; when it returns, every node made is linked into the tree.
    const char* run(const char* p) {
        m_begin = p;
        const char* stop = loop(p);
        if (!m_breakWhy && m_open.size() > 1) {
            // The text ended with elements still open: the innermost one is where it broke off.
            const XmlNode* open = m_open.back().node;
            m_breakAt = open->name.ptr - 1;
            m_breakWhy = "an element is not closed";
        }
        while (!m_open.empty()) {
            closeTop();
        }
        return stop;
    }

    // Where the text stopped being read to its end and why; why is null when it was read whole.
    const char* breakAt() const { return m_breakAt; }
    const char* breakWhy() const { return m_breakWhy; }
    // The first non-blank character data passed over at the top level, or null.
    const char* passedOverText() const { return m_passedOver; }

private:
    bool has(unsigned option) const { return (m_options & option) != 0; }
    // Character data is kept wherever the cursor is below the top level; at the top level of a
    // document (where XML allows none) it is passed over, so that a byte-order mark or stray
    // bytes before the root never become nodes.
    // At the top level, text right after a processing instruction or a comment is kept as well.
    bool keepsText() const { return m_cursor->kind != NodeDocument || m_afterPiOrComment; }
    // Notes text from `at` (not blank) to `end` that is passed over at the top level. A byte-order
    // mark that opens the text is no text of the document.
    void notePassedOver(const char* at, const char* end) {
        if (keepsText() || m_passedOver) {
            return;
        }
        while (end > at && isSpace(end[-1])) {
            --end;
        }
        if (at == m_begin && end - at == 3 && std::memcmp(at, "\xEF\xBB\xBF", 3) == 0) {
            return;
        }
        m_passedOver = at;
    }
    // Notes why the text is not read to its end; the first reason counts.
    const char* broken(const char* at, const char* why) {
        if (!m_breakWhy) {
            m_breakAt = at;
            m_breakWhy = why;
        }
        return at;
    }
    void enter(XmlNode* element) {
        m_open.push_back({element, m_scratch.pendingChildren.size()});
        m_cursor = element;
    }
    void up() {
        if (m_cursor != m_into) {
            closeTop();
            m_cursor = m_cursor->parent;
        }
    }
    void closeTop();
    // The byte at m_end is never whitespace or a name byte (it is the terminating zero, or the ']'
    // closing an internal subset), so these loops stop there without testing the position.
    const char* skipSpace(const char* p) const {
        while (isSpace(*p)) {
            ++p;
        }
        return p;
    }
    const char* nameEnd(const char* p) const {
        for (;;) {
            // Unrolled: names are the most frequent runs in a data file.
            if (!isNameByte(p[0])) {
                return p;
            }
            if (!isNameByte(p[1])) {
                return p + 1;
            }
            if (!isNameByte(p[2])) {
                return p + 2;
            }
            if (!isNameByte(p[3])) {
                return p + 3;
            }
            p += 4;
        }
    }
    // The next c at or after p and before m_end, or null. Short distances (quotes, the end of a
    // tag) are scanned inline: the call into memchr would cost more than the scan. The whole text
    // ends in a zero byte, which stops the scan even inside an internal subset.
    const char* findNear(const char* p, char c) const {
        for (;;) {
            if (p[0] == c || p[0] == '\0') {
                break;
            }
            if (p[1] == c || p[1] == '\0') {
                p += 1;
                break;
            }
            if (p[2] == c || p[2] == '\0') {
                p += 2;
                break;
            }
            if (p[3] == c || p[3] == '\0') {
                p += 3;
                break;
            }
            p += 4;
        }
        return *p == c && p < m_end ? p : nullptr;
    }
    // Ends the run at `at`; the helpers give null after calling it.
    const char* stop(const char* at) {
        broken(at, kNoMemory);
        m_stopAt = at;
        return nullptr;
    }
    // Ends the run at `at` because the construct that begins at `from` is cut short.
    const char* stopBroken(const char* at, const char* from, const char* why) {
        broken(from, why);
        m_stopAt = at;
        return nullptr;
    }
    // Past the next c, or null (the parse ends) when there is none.
    const char* pastNext(const char* p, char c, const char* from) {
        const char* hit = findNear(p, c);
        return hit ? hit + 1 : stopBroken(m_end, from, "a tag is not closed");
    }

    XmlNode* newChild(XmlNodeKind kind);
    void commitAttributes(XmlNode* node);
    const char* collectAttributes(const char* p);
    const char* loop(const char* p);
    bool addValueNode(XmlNodeKind kind, const char* begin, const char* end, unsigned trimOption);
    const char* strayText(const char* lt);
    const char* attributes(XmlNode* node, const char* p);
    const char* element(const char* p);
    const char* processingInstruction(const char* p);
    const char* bang(const char* p);
    const char* doctype(const char* p);
    // A name or a quoted literal of a document type declaration, kept on its node; past it.
    const char* doctypeToken(XmlNode* node, const char* p, const char* from);
    // The internal subset that starts at subsetStart, up to its matching ']'; past that.
    const char* internalSubset(XmlNode* node, const char* subsetStart, const char* from);
    const char* declaration(const char* p);
    // The '>' that ends a declaration whose value starts at p, or null.
    const char* declarationEnd(XmlNodeKind kind, const char* p) const;

    struct OpenNode {
        XmlNode* node;
        std::size_t firstPending; // its children collected so far start here
    };

    XmlPages* m_pages;
    ParseScratch& m_scratch;
    std::vector<OpenNode> m_open;
    const char* m_end;
    XmlNode* m_into;
    XmlNode* m_cursor;
    unsigned m_step;
    unsigned m_options;
    bool m_inSubset;
    bool m_afterPiOrComment = false;
    const char* m_tagStart = nullptr; // the '<' of the tag being read
    const char* m_stopAt = nullptr;
    const char* m_breakAt = nullptr;
    const char* m_breakWhy = nullptr;
    const char* m_passedOver = nullptr;
    const char* m_begin = nullptr;
};

} // namespace xmldetail
