#include "support/cli/TextTable.h"

#include "support/VisibleText.h"

#include <algorithm>

namespace cli {

std::string Printable(std::string_view text) {
    return VisibleText(text);
}

std::string FormatTable(const TextRow& headings, const std::vector<TextRow>& rows) {
    // Widths are taken of the cells as shown, escapes included.
    auto shown = [](const TextRow& row) {
        TextRow cells;
        for (const std::string& cell : row) {
            cells.push_back(Printable(cell));
        }
        return cells;
    };
    const TextRow heads = shown(headings);
    std::vector<TextRow> body;
    for (const TextRow& row : rows) {
        body.push_back(shown(row));
    }
    std::vector<std::size_t> widths(heads.size(), 0);
    auto measure = [&widths](const TextRow& row) {
        for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    };
    measure(heads);
    for (const TextRow& row : body) {
        measure(row);
    }
    std::string out;
    auto put = [&](const TextRow& row) {
        std::string line;
        for (std::size_t i = 0; i < widths.size(); ++i) {
            const std::string cell = i < row.size() ? row[i] : std::string();
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
    put(heads);
    for (const TextRow& row : body) {
        put(row);
    }
    return out;
}

std::string CsvRecord(const TextRow& fields) {
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            out += ',';
        }
        out += CsvField(Printable(fields[i]));
    }
    out += '\n';
    return out;
}

} // namespace cli
