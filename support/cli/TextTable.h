// Lists for the terminal and for other programs: aligned text tables, CSV and safe text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cli {

using TextRow = std::vector<std::string>;

// Columns padded to their widest cell, two blanks apart, headings first, each line ended by "\n".
// Control characters in cells are shown as escapes (see Printable), so that text a recorder sent
// cannot steer the terminal.
std::string FormatTable(const TextRow& headings, const std::vector<TextRow>& rows);

// One CSV record ended by "\n". Control characters are shown as escapes (see Printable), and a
// field that starts like a spreadsheet formula gets the apostrophe the window's export gives it;
// a field is quoted when it holds a comma, a double quote or a blank at either end, a double
// quote inside doubled.
std::string CsvRecord(const TextRow& fields);

// The text with every control character but tab (C0, DEL and C1) shown as "\xHH".
std::string Printable(std::string_view text);

} // namespace cli
