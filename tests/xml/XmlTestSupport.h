// Helpers shared by the XML suites: a node-by-node rendering of a tree, temporary folders, files
// and running an outside program.
#pragma once

#include "xml/XmlTree.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace xmltest {

inline const char* kindName(XmlNodeKind kind) {
    switch (kind) {
    case NodeNull:
        return "null";
    case NodeDocument:
        return "document";
    case NodeElement:
        return "element";
    case NodeText:
        return "text";
    case NodeCdata:
        return "cdata";
    case NodeComment:
        return "comment";
    case NodePi:
        return "pi";
    case NodeInclude:
        return "include";
    case NodeDoctype:
        return "doctype";
    case NodeEntityDecl:
        return "entity";
    case NodeAttlistDecl:
        return "attlist";
    case NodeElementDecl:
        return "elementdecl";
    case NodeNotationDecl:
        return "notation";
    }
    return "?";
}

// One line per node below `node` (the node itself is not listed), two spaces per level:
// the kind, the name when there is one, each attribute as name="value", a bare name when it has
// no value, ="value" when it has no name, and ': "value"' when the node has a value.
inline std::string dumpChildren(XmlNodeRef node) {
    std::string out;
    struct Frame {
        XmlNodeRef node;
        std::size_t next;
    };
    std::vector<Frame> stack{{node, 0}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next >= frame.node.childCount()) {
            stack.pop_back();
            continue;
        }
        XmlNodeRef child = frame.node.child(frame.next++);
        out.append(2 * (stack.size() - 1), ' ');
        out += kindName(child.kind());
        const XmlNode* raw = child.get();
        if (!raw->name.isNull()) {
            out += ' ';
            out += child.name();
        }
        for (std::size_t i = 0; i < child.attributeCount(); ++i) {
            const XmlAttributeRef attribute = child.attributeAt(i);
            out += ' ';
            out += attribute.name();
            if (attribute.hasValue()) {
                out += "=\"" + attribute.text() + '"';
            }
        }
        if (!raw->value.isNull()) {
            out += ": \"" + std::string(child.value()) + '"';
        }
        out += '\n';
        if (child.childCount() > 0) {
            stack.push_back({child, 0});
        }
    }
    return out;
}

// A fresh folder below the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "xmltest-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            std::abort();
        }
        m_path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

struct CommandResult {
    int status = -1; // exit status, or -1 when the program could not be run
    std::string output;
};

// Runs a shell command, collecting its standard output.
inline CommandResult runCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        return result;
    }
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, got);
    }
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace xmltest
