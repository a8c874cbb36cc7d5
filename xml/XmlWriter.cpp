#include "xml/XmlWriter.h"

#include <cstring>
#include <fstream>
#include <memory>
#include <string_view>

namespace {

// Collects output in a large buffer and hands it to the stream buffer in big pieces: the tree is
// written in many tiny pieces, and a call into the stream per piece (or a flush per node) would
// make saving a large file many times slower.
class Sink {
public:
    explicit Sink(std::streambuf* target) : m_target(target), m_buffer(new char[kSize]) {}

    void put(const char* data, std::size_t count) {
        if (count == 0) {
            return; // data may be null: a string that is none
        }
        if (count <= kSize - m_used) {
            std::memcpy(m_buffer.get() + m_used, data, count);
            m_used += count;
        } else {
            putSlow(data, count);
        }
    }
    void put(std::string_view text) { put(text.data(), text.size()); }
    void put(char c) {
        if (m_used == kSize) {
            drain();
        }
        m_buffer[m_used++] = c;
    }
    bool failed() const { return m_failed; }

    // Hands everything over and flushes the stream buffer; false when anything failed.
    bool finish() {
        drain();
        if (!m_failed && m_target->pubsync() != 0) {
            m_failed = true;
        }
        return !m_failed;
    }

private:
    static constexpr std::size_t kSize = 64 * 1024;

    void putSlow(const char* data, std::size_t count) {
        drain();
        if (count <= kSize) {
            std::memcpy(m_buffer.get(), data, count);
            m_used = count;
        } else {
            write(data, count);
        }
    }
    void drain() {
        write(m_buffer.get(), m_used);
        m_used = 0;
    }
    void write(const char* data, std::size_t count) {
        // After a failure nothing more reaches the stream.
        if (m_failed || count == 0) {
            return;
        }
        if (m_target->sputn(data, static_cast<std::streamsize>(count)) !=
            static_cast<std::streamsize>(count)) {
            m_failed = true;
        }
    }

    std::streambuf* m_target;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_used = 0;
    bool m_failed = false;
};

void putQuoted(Sink& out, const XmlString& value) {
    const std::string_view text = value.view();
    const bool doubleQuote = text.find('"') != std::string_view::npos;
    if (!doubleQuote) {
        out.put('"');
        out.put(text);
        out.put('"');
        return;
    }
    if (text.find('\'') == std::string_view::npos) {
        out.put('\'');
        out.put(text);
        out.put('\'');
        return;
    }
    // Both quote characters: no quoting keeps the bytes, so keep the file readable instead.
    out.put('"');
    std::size_t from = 0;
    for (std::size_t at = text.find('"'); at != std::string_view::npos; at = text.find('"', from)) {
        out.put(text.substr(from, at - from));
        out.put("&quot;");
        from = at + 1;
    }
    out.put(text.substr(from));
    out.put('"');
}

void putName(Sink& out, const XmlNode* node) {
    if (node->name.isNull()) {
        out.put("anonymous");
    } else {
        out.put(node->name.view());
    }
}

// The depth-first walk with an explicit stack, so that nesting depth costs heap, not stack.
class TreeWriter {
public:
    TreeWriter(Sink& out, std::string& indent, bool breaks)
        : m_out(out), m_indent(indent), m_breaks(breaks) {}

    void write(const XmlNode* root) {
        if (!open(root)) {
            return;
        }
        while (!m_stack.empty() && !m_out.failed()) {
            Frame& frame = m_stack.back();
            if (frame.next < frame.node->childCount) {
                open(frame.node->children[frame.next++]);
            } else {
                close();
            }
        }
        while (!m_stack.empty()) {
            leaveLevel();
        }
    }

private:
    struct Frame {
        const XmlNode* node;
        std::uint32_t next;
        bool indented;
    };

    void lineBreak() {
        if (m_breaks) {
            m_out.put('\n');
        }
    }

    void enterLevel(const XmlNode* node) {
        const bool indented = m_breaks && m_stack.size() < kMaxIndentDepth;
        if (indented) {
            m_indent.push_back('\t');
        }
        m_stack.push_back({node, 0, indented});
    }

    void leaveLevel() {
        if (m_stack.back().indented) {
            m_indent.pop_back();
        }
        m_stack.pop_back();
    }

    // Writes a node up to its children. True when its children follow (a level was entered).
    bool open(const XmlNode* node) {
        m_out.put(m_indent);
        switch (node->kind) {
        case NodeElement:
        case NodePi:
            return openTag(node);
        case NodeText:
            m_out.put(node->value.view());
            break;
        case NodeCdata:
            putSection(node, "<![CDATA[", "]]>");
            break;
        case NodeComment:
            putSection(node, "<!--", "-->");
            break;
        case NodeInclude:
            putSection(node, "<![INCLUDE[", "]]>");
            break;
        case NodeDoctype:
            return openDoctype(node);
        case NodeEntityDecl:
            putDeclaration(node, "<!ENTITY ");
            break;
        case NodeAttlistDecl:
            putDeclaration(node, "<!ATTLIST ");
            break;
        case NodeElementDecl:
            putDeclaration(node, "<!ELEMENT ");
            break;
        case NodeNotationDecl:
            putDeclaration(node, "<!NOTATION ");
            break;
        default:
            break;
        }
        lineBreak();
        return false;
    }

    void putSection(const XmlNode* node, std::string_view start, std::string_view end) {
        if (!node->value.isNull()) {
            m_out.put(start);
            m_out.put(node->value.view());
            m_out.put(end);
        }
    }

    void putDeclaration(const XmlNode* node, std::string_view keyword) {
        if (node->name.isNull()) {
            return;
        }
        m_out.put(keyword);
        m_out.put(node->name.view());
        if (!node->value.isNull()) {
            m_out.put(' ');
            m_out.put(node->value.view());
        }
        m_out.put('>');
    }

    bool openTag(const XmlNode* node) {
        const bool pi = node->kind == NodePi;
        m_out.put(pi ? "<?" : "<");
        putName(m_out, node);
        for (std::uint32_t i = 0; i < node->attributeCount; ++i) {
            const XmlAttribute* attribute = node->attributes[i];
            if (attribute->name.isNull()) {
                continue;
            }
            m_out.put(' ');
            m_out.put(attribute->name.view());
            if (!attribute->value.isNull()) {
                m_out.put('=');
                putQuoted(m_out, attribute->value);
            }
        }
        if (pi || node->childCount == 0) {
            m_out.put(pi ? "?>" : "/>");
            lineBreak();
            return false;
        }
        if (node->childCount == 1 && node->children[0]->kind == NodeText) {
            m_out.put('>');
            m_out.put(node->children[0]->value.view());
            m_out.put("</");
            m_out.put(node->name.view());
            m_out.put('>');
            lineBreak();
            return false;
        }
        m_out.put('>');
        lineBreak();
        enterLevel(node);
        return true;
    }

    bool openDoctype(const XmlNode* node) {
        m_out.put("<!DOCTYPE");
        for (std::uint32_t i = 0; i < node->attributeCount; ++i) {
            const XmlAttribute* token = node->attributes[i];
            if (!token->name.isNull()) {
                m_out.put(' ');
                m_out.put(token->name.view());
            } else if (!token->value.isNull()) {
                m_out.put(' ');
                putQuoted(m_out, token->value);
            }
        }
        if (node->childCount == 0) {
            if (!node->value.isNull()) {
                m_out.put(" [");
                m_out.put(node->value.view());
                m_out.put(']');
            }
            m_out.put('>');
            lineBreak();
            return false;
        }
        const char separator = m_breaks ? '\n' : ' ';
        m_out.put(separator);
        m_out.put('[');
        m_out.put(separator);
        enterLevel(node);
        return true;
    }

    void close() {
        const XmlNode* node = m_stack.back().node;
        leaveLevel();
        if (node->kind == NodeDoctype) {
            m_out.put("]>");
        } else {
            m_out.put(m_indent);
            m_out.put("</");
            m_out.put(node->name.view());
            m_out.put('>');
        }
        lineBreak();
    }

    Sink& m_out;
    std::string& m_indent;
    bool m_breaks;
    std::vector<Frame> m_stack;
};

} // namespace

void writeNode(std::ostream& out, std::string& indent, const XmlNode* node, bool breaks) {
    if (!node || out.fail() || !out.rdbuf()) {
        return;
    }
    Sink sink(out.rdbuf());
    TreeWriter(sink, indent, breaks).write(node);
    if (!sink.finish()) {
        out.setstate(std::ios_base::badbit);
    }
}

void writeDocument(std::ostream& out, XmlNodeRef node) {
    if (out.fail() || !node.isValid() || !out.rdbuf()) {
        return;
    }
    const bool breaks = out.flags() != std::ios_base::skipws;
    Sink sink(out.rdbuf());
    std::string indent;
    if (node.isDocument()) {
        const XmlNode* document = node.get();
        for (std::uint32_t i = 0; i < document->childCount && !sink.failed(); ++i) {
            TreeWriter(sink, indent, breaks).write(document->children[i]);
        }
    } else {
        TreeWriter(sink, indent, breaks).write(node.get());
    }
    if (!sink.finish()) {
        out.setstate(std::ios_base::badbit);
    }
}

bool saveDocument(const char* path, XmlNodeRef document) {
    if (!path) {
        return false;
    }
    std::ofstream file(path, std::ios_base::out | std::ios_base::binary | std::ios_base::trunc);
    if (!file.is_open()) {
        return false;
    }
    bool ok = true;
    {
        CrLfStreamBuf translated(file.rdbuf());
        std::ostream out(&translated);
        writeDocument(out, document);
        ok = !out.fail() && translated.pubsync() == 0;
    }
    file.close();
    return ok && !file.fail();
}

CrLfStreamBuf::CrLfStreamBuf(std::streambuf* target) : m_target(target), m_buffer(64 * 1024) {}

CrLfStreamBuf::~CrLfStreamBuf() {
    drain();
}

bool CrLfStreamBuf::append(const char* data, std::size_t count) {
    while (count > 0) {
        if (m_used == m_buffer.size() && !drain()) {
            return false;
        }
        const std::size_t room = m_buffer.size() - m_used;
        const std::size_t piece = count < room ? count : room;
        std::memcpy(m_buffer.data() + m_used, data, piece);
        m_used += piece;
        data += piece;
        count -= piece;
    }
    return true;
}

std::streamsize CrLfStreamBuf::xsputn(const char* data, std::streamsize count) {
    if (m_failed || count <= 0) {
        return m_failed ? 0 : count;
    }
    const char* p = data;
    const char* end = data + count;
    while (p < end) {
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        const char* stop = lf ? lf : end;
        if (stop > p) {
            if (!append(p, static_cast<std::size_t>(stop - p))) {
                return p - data;
            }
            m_last = stop[-1];
        }
        if (!lf) {
            break;
        }
        const bool needsCr = m_last != '\r';
        static constexpr char kCrLf[] = "\r\n";
        if (!append(needsCr ? kCrLf : kCrLf + 1, needsCr ? 2 : 1)) {
            return lf - data;
        }
        m_last = '\n';
        p = lf + 1;
    }
    return count;
}

CrLfStreamBuf::int_type CrLfStreamBuf::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return m_failed ? traits_type::eof() : traits_type::not_eof(c);
    }
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
}

int CrLfStreamBuf::sync() {
    if (!drain()) {
        return -1;
    }
    return m_target->pubsync() == 0 ? 0 : -1;
}

bool CrLfStreamBuf::drain() {
    if (m_failed) {
        return false;
    }
    if (m_used > 0) {
        const auto written = m_target->sputn(m_buffer.data(), static_cast<std::streamsize>(m_used));
        if (written != static_cast<std::streamsize>(m_used)) {
            m_failed = true;
            m_used = 0;
            return false;
        }
        m_used = 0;
    }
    return true;
}
