#include "discovery/DeviceListCsv.h"

#include "support/VisibleText.h"

std::string csvField(std::string_view text) {
    return CsvField(text);
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
