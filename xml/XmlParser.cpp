#include "xml/XmlParser.h"

#include "xml/XmlFile.h"
#include "xml/XmlPages.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

using namespace xmldetail;

namespace {

enum : std::uint8_t { kSpace = 1, kNameByte = 2 };

constexpr const char* kNoMemory = "there is not enough memory to hold it";

// Whitespace is every byte from 1 to 32. Name bytes are ASCII letters and digits, '_', ':', '-',
// '.', and every byte from 0x80 up (lead and trail bytes of the multi-byte code page).
constexpr std::array<std::uint8_t, 256> makeClasses() {
    std::array<std::uint8_t, 256> classes{};
    for (int c = 1; c <= 32; ++c) {
        classes[c] = kSpace;
    }
    for (int c = 0; c < 256; ++c) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (alnum || c == '_' || c == ':' || c == '-' || c == '.' || c >= 0x80) {
            classes[c] = kNameByte;
        }
    }
    return classes;
}

constexpr std::array<std::uint8_t, 256> kClasses = makeClasses();

inline bool isSpace(char c) {
    return kClasses[static_cast<unsigned char>(c)] & kSpace;
}

inline bool isNameByte(char c) {
    return kClasses[static_cast<unsigned char>(c)] & kNameByte;
}

inline XmlString inPlace(const char* begin, const char* end) {
    XmlString s;
    s.ptr = begin;
    s.length = static_cast<std::uint32_t>(end - begin);
    return s;
}

// Trims in place: the start moves forward and the length shrinks.
inline void trim(XmlString& s) {
    const char* begin = s.ptr;
    const char* end = s.ptr + s.length;
    while (begin < end && isSpace(*begin)) {
        ++begin;
    }
    while (end > begin && isSpace(end[-1])) {
        --end;
    }
    s.ptr = begin;
    s.length = static_cast<std::uint32_t>(end - begin);
}

inline const char* find(const char* from, const char* end, char c) {
    return static_cast<const char*>(std::memchr(from, c, static_cast<std::size_t>(end - from)));
}

// The next occurrence of a three-byte terminator ("-->", "]]>"), or null.
inline const char* findTerminator(const char* from, const char* end, const char (&terminator)[4]) {
    while (end - from >= 3) {
        const char* hit = find(from, end - 2, terminator[0]);
        if (!hit) {
            return nullptr;
        }
        if (hit[1] == terminator[1] && hit[2] == terminator[2]) {
            return hit;
        }
        from = hit + 1;
    }
    return nullptr;
}

template <std::size_t N> inline bool startsWith(const char* p, const char* end, const char (&literal)[N]) {
    return static_cast<std::size_t>(end - p) >= N - 1 && std::memcmp(p, literal, N - 1) == 0;
}

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
    const char* declaration(const char* p);

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

XmlNode* ParseRun::newChild(XmlNodeKind kind) {
    XmlNode* node = createNode(kind, m_pages);
    if (!node) {
        return nullptr;
    }
    try {
        m_scratch.pendingChildren.push_back(node);
    } catch (const std::bad_alloc&) {
        return nullptr; // the record stays unused in the pages
    }
    node->parent = m_cursor;
    return node;
}

// Gives the innermost open node its collected children.
void ParseRun::closeTop() {
    const OpenNode open = m_open.back();
    m_open.pop_back();
    std::vector<XmlNode*>& pending = m_scratch.pendingChildren;
    const std::size_t count = pending.size() - open.firstPending;
    if (count > 0) {
        appendChildren(open.node, pending.data() + open.firstPending, count, m_step, m_pages);
    }
    pending.resize(open.firstPending);
}

bool ParseRun::addValueNode(XmlNodeKind kind, const char* begin, const char* end, unsigned trimOption) {
    XmlNode* node = newChild(kind);
    if (!node) {
        return false;
    }
    node->value = inPlace(begin, end);
    if (has(trimOption)) {
        trim(node->value);
    }
    return true;
}

const char* ParseRun::loop(const char* p) {
    for (;;) {
        // Text position: whitespace-only runs make no node.
        const char* textStart = p;
        p = skipSpace(p);
        if (p >= m_end) {
            return m_end;
        }
        if (*p != '<') {
            const char* lt = find(p, m_end, '<');
            const char* textEnd = lt ? lt : m_end;
            notePassedOver(p, textEnd);
            if (keepsText() && !addValueNode(NodeText, textStart, textEnd, XmlParser::TrimText)) {
                return broken(p, kNoMemory);
            }
            if (!lt) {
                return m_end;
            }
            p = lt;
        }
        const char* lt = p;
        ++p;
        if (p >= m_end) {
            return strayText(lt) ? m_end : m_stopAt;
        }
        const char* next = nullptr;
        m_afterPiOrComment = false;
        switch (*p) {
        case '/': // an end tag closes the cursor whatever name it carries
            next = pastNext(p, '>', lt);
            if (next) {
                up();
            }
            break;
        case '?':
            next = processingInstruction(p);
            break;
        case '!':
            next = bang(p);
            break;
        default:
            next = isNameByte(*p) ? element(p) : strayText(lt);
            break;
        }
        if (!next) {
            return m_stopAt;
        }
        p = next;
    }
}

// A '<' that opens no markup. Inside an element it stays part of the text that it starts, so a
// load and save keeps it; at the top level it is passed over.
const char* ParseRun::strayText(const char* lt) {
    notePassedOver(lt, lt + 1);
    if (!keepsText()) {
        return lt + 1;
    }
    const char* next = find(lt + 1, m_end, '<');
    if (!addValueNode(NodeText, lt, next ? next : m_end, XmlParser::TrimText)) {
        return stop(lt);
    }
    return next ? next : m_end;
}

// Reads attributes while name bytes come. Gives the first byte that is neither whitespace nor a
// name byte and that follows a name or a value; the caller decides what it means. The attributes
// read, including those before a point where the parse ends, are given to node.
const char* ParseRun::attributes(XmlNode* node, const char* p) {
    m_scratch.pendingAttributes.clear();
    p = collectAttributes(p);
    commitAttributes(node);
    return p;
}

void ParseRun::commitAttributes(XmlNode* node) {
    std::vector<XmlAttribute*>& pending = m_scratch.pendingAttributes;
    if (!pending.empty()) {
        appendPagedAttributes(node, pending.data(), pending.size(), m_step, m_pages);
    }
}

const char* ParseRun::collectAttributes(const char* p) {
    for (;;) {
        p = skipSpace(p);
        if (p >= m_end) {
            return stopBroken(m_end, m_tagStart, "a tag is not closed");
        }
        if (!isNameByte(*p)) {
            return p;
        }
        const char* nameStart = p;
        p = nameEnd(p);
        const XmlString name = inPlace(nameStart, p);
        XmlString value;
        p = skipSpace(p);
        bool ended = p >= m_end;
        if (!ended && *p == '=') {
            p = skipSpace(p + 1);
            const char quote = *p;
            ended = p >= m_end;
            if (!ended && (quote == '"' || quote == '\'')) {
                const char* close = findNear(p + 1, quote);
                if (close) {
                    value = inPlace(p + 1, close);
                    if (has(XmlParser::TrimAttributes)) {
                        trim(value);
                    }
                    p = close + 1;
                }
                ended = !close || p >= m_end; // without its closing quote the attribute keeps no value
            }
            // Without a quote the attribute keeps no value and reading goes on at this byte.
        }
        void* memory = m_pages->allocate(sizeof(XmlAttribute));
        if (!memory) {
            return stop(nameStart);
        }
        try {
            m_scratch.pendingAttributes.push_back(new (memory) XmlAttribute{name, value});
        } catch (const std::bad_alloc&) {
            return stop(nameStart);
        }
        if (ended) {
            return stopBroken(m_end, m_tagStart, "a tag is not closed");
        }
        if (!isSpace(*p) && !isNameByte(*p)) {
            return p;
        }
    }
}

const char* ParseRun::element(const char* p) {
    XmlNode* node = newChild(NodeElement);
    if (!node) {
        return stop(p - 1);
    }
    const char* nameStart = p;
    m_tagStart = p - 1;
    p = nameEnd(p);
    node->name = inPlace(nameStart, p);
    enter(node);
    if (p >= m_end) {
        return stopBroken(m_end, m_tagStart, "a tag is not closed");
    }
    if (*p == '/') {
        const char* next = pastNext(p, '>', m_tagStart);
        if (next) {
            up();
        }
        return next;
    }
    if (!isSpace(*p)) {
        return p + 1; // '>' (or any other byte) ends the start tag
    }
    p = attributes(node, p);
    if (!p) {
        return nullptr;
    }
    if (*p == '>') {
        return p + 1;
    }
    if (*p == '/') {
        up();
        p = skipSpace(p + 1);
        if (p < m_end && *p == '>') {
            return p + 1;
        }
    }
    // Anything else ends the tag at its '>'.
    return pastNext(p, '>', m_tagStart);
}

const char* ParseRun::processingInstruction(const char* p) {
    // p is at the '?'.
    m_tagStart = p - 1;
    m_afterPiOrComment = true;
    if (!(p + 1 < m_end && isNameByte(p[1])) || !has(XmlParser::ParsePi)) {
        return pastNext(p, '>', m_tagStart);
    }
    if (!find(p + 1, m_end, '?')) {
        return stopBroken(m_end, m_tagStart, "a processing instruction is not closed");
    }
    XmlNode* node = newChild(NodePi);
    if (!node) {
        return stop(p - 1);
    }
    const char* nameStart = p + 1;
    p = nameEnd(nameStart);
    node->name = inPlace(nameStart, p);
    if (p < m_end && isSpace(*p)) {
        p = attributes(node, p);
        if (!p) {
            return nullptr;
        }
    }
    const char* question = find(p, m_end, '?');
    if (!question) {
        return stopBroken(m_end, m_tagStart, "a processing instruction is not closed");
    }
    p = skipSpace(question + 1);
    if (p < m_end && *p == '>') {
        ++p;
    }
    return p;
}

const char* ParseRun::bang(const char* p) {
    // p is at the '!'.
    if (startsWith(p, m_end, "!--")) {
        const char* begin = p + 3;
        const char* close = findTerminator(begin, m_end, "-->");
        if (!close) {
            return stopBroken(m_end, p - 1, "a comment is not closed");
        }
        m_afterPiOrComment = true;
        if (has(XmlParser::ParseComments) &&
            !addValueNode(NodeComment, begin, close, XmlParser::TrimComments)) {
            return stop(p - 1);
        }
        return close + 3;
    }
    if (startsWith(p, m_end, "!-")) {
        const char* close = findTerminator(p + 2, m_end, "-->");
        return close ? close + 3 : stopBroken(m_end, p - 1, "a comment is not closed");
    }
    if (startsWith(p, m_end, "![CDATA[") || startsWith(p, m_end, "![INCLUDE[")) {
        const bool cdata = p[2] == 'C';
        const char* begin = p + (cdata ? 8 : 10);
        const char* close = findTerminator(begin, m_end, "]]>");
        if (!close) {
            return stopBroken(m_end, p - 1,
                              cdata ? "a CDATA section is not closed" : "an INCLUDE section is not closed");
        }
        const bool keep = has(cdata ? XmlParser::ParseCdata : XmlParser::ParseDoctype);
        if (keep && !addValueNode(cdata ? NodeCdata : NodeInclude, begin, close, XmlParser::TrimCdata)) {
            return stop(p - 1);
        }
        return close + 3;
    }
    if (startsWith(p, m_end, "!DOCTYPE")) {
        return doctype(p + 8);
    }
    if (p + 1 < m_end && isNameByte(p[1])) {
        return declaration(p + 1);
    }
    return strayText(p - 1);
}

const char* ParseRun::doctype(const char* p) {
    const char* const from = p - 9;
    constexpr const char* kCut = "a document type declaration is not closed";
    XmlNode* node = nullptr;
    // A DOCTYPE inside an internal subset is not XML; it is passed over there without a node.
    if (has(XmlParser::ParseDoctype) && !m_inSubset) {
        node = newChild(NodeDoctype);
        if (!node) {
            return stop(p);
        }
    }
    for (;;) {
        p = skipSpace(p);
        if (p >= m_end) {
            return stopBroken(m_end, from, kCut);
        }
        const char c = *p;
        if (isNameByte(c)) {
            const char* tokenStart = p;
            p = nameEnd(p);
            if (node) {
                XmlAttribute* token = addAttribute(node, 1, m_pages);
                if (!token) {
                    return stop(tokenStart);
                }
                token->name = token->value = inPlace(tokenStart, p);
            }
            continue;
        }
        if (c == '"' || c == '\'') {
            const char* close = find(p + 1, m_end, c);
            if (!close) {
                return stopBroken(m_end, from, kCut);
            }
            if (node) {
                XmlAttribute* token = addAttribute(node, 1, m_pages);
                if (!token) {
                    return stop(p);
                }
                token->value = inPlace(p + 1, close);
            }
            p = close + 1;
            continue;
        }
        if (c == '[') {
            const char* subsetStart = p + 1;
            const char* q = subsetStart;
            int depth = 1;
            for (; q < m_end; ++q) {
                if (*q == '[') {
                    ++depth;
                } else if (*q == ']' && --depth == 0) {
                    break;
                }
            }
            if (q >= m_end) {
                return stopBroken(m_end, from, kCut);
            }
            p = q + 1;
            if (node) {
                node->value = inPlace(subsetStart, q);
            }
            if (node && has(XmlParser::ParseDtd)) {
                ParseRun subset(m_pages, m_scratch, q, node, m_step, m_options, true);
                subset.run(subsetStart);
                if (subset.breakWhy()) {
                    broken(subset.breakAt(), subset.breakWhy());
                }
            } else if (has(XmlParser::DtdOnly) && !m_inSubset) {
                m_stopAt = p; // asked for: the rest of the text is not read
                return nullptr;
            } else if (node && has(XmlParser::TrimDoctype)) {
                trim(node->value);
            }
        }
        break;
    }
    return pastNext(p, '>', from);
}

const char* ParseRun::declaration(const char* p) {
    const char* keywordStart = p;
    p = nameEnd(p);
    const std::string_view keyword(keywordStart, static_cast<std::size_t>(p - keywordStart));
    XmlNodeKind kind = NodeEntityDecl;
    if (keyword == "ATTLIST") {
        kind = NodeAttlistDecl;
    } else if (keyword == "ELEMENT") {
        kind = NodeElementDecl;
    } else if (keyword == "NOTATION") {
        kind = NodeNotationDecl;
    }
    XmlNode* node = newChild(kind);
    if (!node) {
        return stop(keywordStart - 2);
    }
    p = skipSpace(p);
    // A parameter entity keeps its '%' as the first byte of the name, with the whitespace that
    // follows it, so that it is written back as it stood.
    const char* nameStart = p;
    if (p < m_end && *p == '%') {
        p = skipSpace(p + 1);
    }
    const char* runStart = p;
    p = nameEnd(p);
    if (p > runStart) {
        node->name = inPlace(nameStart, p);
    } else if (runStart > nameStart) {
        node->name = inPlace(nameStart, nameStart + 1);
    }
    p = skipSpace(p);
    const char* valueStart = p;
    const char* close = nullptr;
    if (kind == NodeEntityDecl) {
        // A '>' inside a quoted entity value does not end the declaration.
        for (const char* q = p; q < m_end; ++q) {
            if (*q == '>') {
                close = q;
                break;
            }
            if (*q == '"' || *q == '\'') {
                q = find(q + 1, m_end, *q);
                if (!q) {
                    break;
                }
            }
        }
    } else {
        close = find(p, m_end, '>');
    }
    if (!close) {
        return stopBroken(m_end, keywordStart - 2, "a declaration is not closed");
    }
    XmlString value = inPlace(valueStart, close);
    if (has(XmlParser::TrimDeclarations)) {
        trim(value);
    }
    if (value.length > 0) {
        node->value = value;
    }
    return close + 1;
}

} // namespace

void XmlParser::FreeDeleter::operator()(char* p) const {
    std::free(p);
}

XmlParser::XmlParser() : m_document(newDocumentNode()), m_pages(std::make_unique<XmlPages>()) {}

XmlParser::~XmlParser() {
    freeTree(m_document);
}

const char* XmlParser::parse(char* text, XmlNode* into, unsigned growthStep, unsigned options) {
    if (!text) {
        return nullptr;
    }
    std::unique_ptr<char, FreeDeleter> owned(text);
    if (!into) {
        into = m_document;
    }
    if (!into) {
        return text;
    }
    try {
        m_texts.push_back(std::move(owned));
    } catch (const std::bad_alloc&) {
        owned.release();
        return m_stop = text;
    }
    m_growthStep = growthStep;
    m_options = options;
    // Lengths are 32-bit: a text of 4 GiB or more is parsed up to that size.
    std::size_t length = std::strlen(text);
    if (length >= std::numeric_limits<std::uint32_t>::max()) {
        length = std::numeric_limits<std::uint32_t>::max() - 1;
        text[length] = '\0'; // the scanning loops stop at the end's zero byte
    }
    ParseScratch scratch;
    ParseRun run(m_pages.get(), scratch, text + length, into, growthStep, options, false);
    m_stop = run.run(text);
    m_breakAt = run.breakAt();
    m_breakWhy = run.breakWhy();
    m_passedOver = run.passedOverText();
    return m_stop;
}

const char* XmlParser::parseText(std::string_view text, unsigned growthStep, unsigned options) {
    const std::size_t zero = text.find('\0');
    if (zero != std::string_view::npos) {
        text = text.substr(0, zero);
    }
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (!copy) {
        return nullptr;
    }
    if (!text.empty()) {
        std::memcpy(copy, text.data(), text.size());
    }
    copy[text.size()] = '\0';
    return parse(copy, m_document, growthStep, options);
}

bool XmlParser::loadFile(const char* path) {
    char* buffer = nullptr;
    std::size_t count = 0;
    if (!loadTextFile(path, &buffer, &count, 4096)) {
        std::free(buffer);
        return false;
    }
    parse(buffer, m_document, DefaultGrowthStep, ParseDefault);
    return true;
}

void XmlParser::clear() {
    freeTree(m_document);
    m_document = nullptr;
    m_pages->release();
    m_texts.clear();
    m_stop = m_breakAt = m_breakWhy = m_passedOver = nullptr;
    m_document = newDocumentNode();
}

std::size_t XmlParser::pageBytes() const {
    return m_pages->reservedBytes();
}
