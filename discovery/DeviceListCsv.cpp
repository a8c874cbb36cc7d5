#include "discovery/DeviceListCsv.h"

std::string csvField(std::string_view text) {
    std::string field;
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
        field = "'";
    }
    field += text;
    const bool quote = field.find_first_of(",\"\r\n") != std::string::npos ||
                       (!field.empty() && (field.front() == ' ' || field.back() == ' '));
    if (!quote) {
        return field;
    }
    std::string quoted = "\"";
    for (const char c : field) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    quoted += '"';
    return quoted;
}

namespace {
void appendLine(std::string& out, const std::vector<std::string>& fields) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            out += ',';
        }
        out += csvField(fields[i]);
    }
    out += "\r\n";
}
} // namespace

std::string deviceListCsv(const std::vector<std::string>& headings,
                          const std::vector<std::vector<std::string>>& rows) {
    std::string out;
    appendLine(out, headings);
    for (const auto& row : rows) {
        appendLine(out, row);
    }
    return out;
}
