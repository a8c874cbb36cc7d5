#include "support/VisibleText.h"

namespace {

void AppendEscape(std::string& out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0xF];
}

// Length of the well-formed UTF-8 sequence starting at text[i] (a lead byte of 0x80 or above),
// or 0 when there is none.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t n;
    unsigned min;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
        min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > text.size())
        return 0;
    unsigned cp = lead & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
        const auto c = static_cast<unsigned char>(text[i + k]);
        if ((c & 0xC0) != 0x80)
            return 0;
        cp = cp << 6 | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

std::string Escaped(std::string_view text, bool keepLineFeeds) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            const bool control = (c < 0x20 && c != '\t' && !(keepLineFeeds && c == '\n')) || c == 0x7F;
            if (control)
                AppendEscape(out, c);
            else
                out += static_cast<char>(c);
            ++i;
            continue;
        }
        const std::size_t n = Utf8Length(text, i);
        if (n == 0) {
            // Not UTF-8 here: a single byte of some 8-bit code, where 0x80-0x9F are C1 controls.
            if (c <= 0x9F)
                AppendEscape(out, c);
            else
                out += static_cast<char>(c);
            ++i;
            continue;
        }
        const bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        for (std::size_t k = 0; k < n; ++k) {
            if (c1)
                AppendEscape(out, static_cast<unsigned char>(text[i + k]));
            else
                out += text[i + k];
        }
        i += n;
    }
    return out;
}

} // namespace

std::string VisibleText(std::string_view text) {
    return Escaped(text, false);
}

std::string VisibleLines(std::string_view text) {
    return Escaped(text, true);
}

std::string CsvField(std::string_view text) {
    std::string field;
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos)
        field = "'";
    field += text;
    const bool quote = field.find_first_of(",\"\r\n") != std::string::npos ||
                       (!field.empty() && (field.front() == ' ' || field.back() == ' '));
    if (!quote)
        return field;
    std::string quoted = "\"";
    for (const char c : field) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    quoted += '"';
    return quoted;
}
