#include "xml/ParseRun.h"

#include <new>
#include <string_view>

namespace xmldetail {

namespace {

constexpr const char* kDoctypeCut = "a document type declaration is not closed";

XmlNodeKind declarationKind(std::string_view keyword) {
    if (keyword == "ATTLIST") {
        return NodeAttlistDecl;
    }
    if (keyword == "ELEMENT") {
        return NodeElementDecl;
    }
    if (keyword == "NOTATION") {
        return NodeNotationDecl;
    }
    return NodeEntityDecl;
}

} // namespace

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
            return stopBroken(m_end, from, kDoctypeCut);
        }
        const char c = *p;
        if (isNameByte(c) || c == '"' || c == '\'') {
            p = doctypeToken(node, p, from);
            if (!p) {
                return nullptr;
            }
            continue;
        }
        if (c == '[') {
            p = internalSubset(node, p + 1, from);
            if (!p) {
                return nullptr;
            }
        }
        break;
    }
    return pastNext(p, '>', from);
}

const char* ParseRun::doctypeToken(XmlNode* node, const char* p, const char* from) {
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
        return p;
    }
    const char* close = find(p + 1, m_end, c);
    if (!close) {
        return stopBroken(m_end, from, kDoctypeCut);
    }
    if (node) {
        XmlAttribute* token = addAttribute(node, 1, m_pages);
        if (!token) {
            return stop(p);
        }
        token->value = inPlace(p + 1, close);
    }
    return close + 1;
}

const char* ParseRun::internalSubset(XmlNode* node, const char* subsetStart, const char* from) {
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
        return stopBroken(m_end, from, kDoctypeCut);
    }
    const char* p = q + 1;
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
    return p;
}

const char* ParseRun::declaration(const char* p) {
    const char* keywordStart = p;
    p = nameEnd(p);
    const XmlNodeKind kind =
        declarationKind(std::string_view(keywordStart, static_cast<std::size_t>(p - keywordStart)));
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
    const char* valueStart = skipSpace(p);
    const char* close = declarationEnd(kind, valueStart);
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

const char* ParseRun::declarationEnd(XmlNodeKind kind, const char* p) const {
    if (kind != NodeEntityDecl) {
        return find(p, m_end, '>');
    }
    // A '>' inside a quoted entity value does not end the declaration.
    for (const char* q = p; q < m_end; ++q) {
        if (*q == '>') {
            return q;
        }
        if (*q == '"' || *q == '\'') {
            q = find(q + 1, m_end, *q);
            if (!q) {
                return nullptr;
            }
        }
    }
    return nullptr;
}

} // namespace xmldetail
