#include "support/cli/TextTable.h"

#include <algorithm>

namespace cli {

std::string Printable(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127) {
            c = '?';
        }
    }
    return out;
}

std::string FormatTable(const TextRow& headings, const std::vector<TextRow>& rows) {
    std::vector<std::size_t> widths(headings.size(), 0);
    auto measure = [&widths](const TextRow& row) {
        for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    };
    measure(headings);
    for (const TextRow& row : rows) {
        measure(row);
    }
    std::string out;
    auto put = [&](const TextRow& row) {
        std::string line;
        for (std::size_t i = 0; i < widths.size(); ++i) {
            const std::string cell = i < row.size() ? Printable(row[i]) : std::string();
            line += cell;
            if (i + 1 < widths.size()) {
                line.append(widths[i] - cell.size() + 2, ' ');
            }
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        out += line;
        out += '\n';
    };
    put(headings);
    for (const TextRow& row : rows) {
        put(row);
    }
    return out;
}

std::string CsvRecord(const TextRow& fields) {
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string& f = fields[i];
        const bool quote = f.find_first_of(",\"\r\n") != std::string::npos ||
                           (!f.empty() && (f.front() == ' ' || f.back() == ' '));
        if (i > 0) {
            out += ',';
        }
        if (!quote) {
            out += f;
            continue;
        }
        out += '"';
        for (char c : f) {
            if (c == '"') {
                out += '"';
            }
            out += c;
        }
        out += '"';
    }
    out += '\n';
    return out;
}

} // namespace cli
