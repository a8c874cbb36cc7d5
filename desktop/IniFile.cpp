#include "desktop/IniFile.h"

#include <ini.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace desktop {

namespace {

// libinih finds the sections and skips comments; the key and value are taken from the raw line,
// because libinih also splits at ':', strips inline comments and cuts lines at its buffer size.
struct LineSource {
    std::FILE* file = nullptr;
    std::string raw;
    bool first = true;
};

struct Query {
    LineSource source;
    std::string_view section;
    std::string_view key;
    std::string value;
    bool found = false;
};

std::string_view trimBlanks(std::string_view text) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// Hands libinih each whole line, cut to its buffer but always with its line end, so it never
// takes the rest of a long line for a line of its own.
char* readLine(char* buffer, int size, void* stream) {
    auto* source = static_cast<LineSource*>(stream);
    source->raw.clear();
    int c = 0;
    bool any = false;
    while ((c = std::fgetc(source->file)) != EOF) {
        any = true;
        if (c == '\n') {
            break;
        }
        source->raw.push_back(static_cast<char>(c));
    }
    if (!any || size < 2) {
        return nullptr;
    }
    source->raw.resize(std::strlen(source->raw.c_str()));
    if (source->first && source->raw.starts_with("\xEF\xBB\xBF")) {
        source->raw.erase(0, 3);
    }
    source->first = false;
    const std::size_t length = std::min(source->raw.size(), static_cast<std::size_t>(size) - 2);
    std::memcpy(buffer, source->raw.data(), length);
    buffer[length] = '\n';
    buffer[length + 1] = '\0';
    return buffer;
}

int onValue(void* user, const char* section, const char*, const char*) {
    auto* query = static_cast<Query*>(user);
    if (query->found || !equalsIgnoringCase(trimBlanks(section), query->section)) {
        return 1;
    }
    const std::string_view line = query->source.raw;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos ||
        !equalsIgnoringCase(trimBlanks(line.substr(0, equals)), query->key)) {
        return 1;
    }
    std::string_view value = trimBlanks(line.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    query->value = value;
    query->found = true;
    return 1;
}

} // namespace

std::string readIniString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view fallback) {
    const std::string_view wanted = trimBlanks(key);
    if (wanted.empty()) {
        return std::string(fallback);
    }
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        return std::string(fallback);
    }
    Query query;
    query.source.file = file.get();
    query.section = trimBlanks(section);
    query.key = wanted;
    ini_parse_stream(&readLine, &query.source, &onValue, &query);
    return query.found ? query.value : std::string(fallback);
}

} // namespace desktop
