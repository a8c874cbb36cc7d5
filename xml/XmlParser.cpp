#include "xml/XmlParser.h"

#include "xml/ParseRun.h"
#include "xml/XmlFile.h"
#include "xml/XmlPages.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

using namespace xmldetail;

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
