// Writing a node tree back as text, and saving a document as the data file.
#pragma once

#include "xml/XmlTree.h"

#include <cstddef>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

// Indentation stops growing at this depth: a file of a million nested elements would otherwise be
// saved as half a million million TAB bytes. Deeper levels are written with this many TABs.
constexpr std::size_t kMaxIndentDepth = 32;

// Writes one node and all its descendants. With breaks set every node ends with a line break
// (byte 10) and each level of nesting adds one TAB to indent; with breaks clear nothing is added
// (the compact form). indent is written in front of every node and is the same on return.
// Names and values are written as the tree holds them, without escaping, with one exception: an
// attribute value that holds a double quote is put between single quotes, and one that holds
// both quote characters (which isWritableValue refuses) is put between double quotes with each
// double quote written as &quot;, so the file stays readable. Does nothing for a null node or a
// failed stream; the stream is flushed at the end and marked bad when a write or the flush fails.
void writeNode(std::ostream& out, std::string& indent, const XmlNode* node, bool breaks);

// Writes the node, or every top-level node when it is a document. The form follows the stream:
// compact when its formatting flags are exactly std::ios_base::skipws, indented (TAB, line
// breaks) otherwise, as on any newly made stream. Does nothing when the stream has failed or the
// handle is empty.
void writeDocument(std::ostream& out, XmlNodeRef node);

// Saves the document as the data file: truncates or creates path and writes it in the indented
// form with every line break as CR LF. The file's old content is gone once it is opened. Gives
// false when the file cannot be opened for writing and when any write, the flush or the close
// fails (the file is then incomplete).
bool saveDocument(const char* path, XmlNodeRef document);

// A stream buffer in front of another that turns every LF not already preceded by CR into CR LF,
// as a text-mode file on the system that shares the data file does. A CR LF already in a value
// is therefore kept as it is instead of growing a CR on every save.
class CrLfStreamBuf : public std::streambuf {
public:
    explicit CrLfStreamBuf(std::streambuf* target);
    ~CrLfStreamBuf() override;
    CrLfStreamBuf(const CrLfStreamBuf&) = delete;
    CrLfStreamBuf& operator=(const CrLfStreamBuf&) = delete;

protected:
    std::streamsize xsputn(const char* data, std::streamsize count) override;
    int_type overflow(int_type c) override;
    int sync() override;

private:
    bool append(const char* data, std::size_t count);
    bool drain();

    std::streambuf* m_target;
    std::vector<char> m_buffer;
    std::size_t m_used = 0;
    char m_last = '\0';
    bool m_failed = false;
};
