#pragma once

// A CSV reader of the tests' own, so that what the tools write is read back independently of
// their writer: quoted fields may hold commas, doubled quotes and line breaks.

#include <string>
#include <string_view>
#include <vector>

struct CsvText {
    std::vector<std::vector<std::string>> records;
    bool endsWithLineEnd = true; // false when text follows the last line end
};

// Records end with `lineEnd` ("\n", or "\r\n" as spreadsheets on Windows expect).
inline CsvText ParseCsv(std::string_view text, std::string_view lineEnd = "\n") {
    CsvText csv;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record.push_back(std::move(field));
            field.clear();
        } else if (text.substr(i, lineEnd.size()) == lineEnd) {
            record.push_back(std::move(field));
            field.clear();
            csv.records.push_back(std::move(record));
            record.clear();
            i += lineEnd.size() - 1;
        } else {
            field += c;
        }
    }
    csv.endsWithLineEnd = field.empty() && record.empty() && !quoted;
    return csv;
}
