#pragma once

// The recorder list as a CSV file: a header row with the list's column headings, then one line
// per recorder in the order shown. Fields are separated by commas and lines end with CR LF; a
// field is quoted when it holds a comma, a quote, a line break or blanks at either end. Text is
// written as given (the window hands in UTF-8).
//
// The MAC text is whatever bytes a recorder sent. A field that starts like a spreadsheet formula
// ("=", "+", "-", "@", tab or CR) gets a leading apostrophe, so that opening the file in a
// spreadsheet shows the text instead of running it.

#include <string>
#include <string_view>
#include <vector>

// One field, quoted and neutralised as need be: the rule the command-line tools' CSV follows too.
std::string csvField(std::string_view text);
// The whole file: headings first, then each row (a row may be shorter or longer than the headings).
std::string deviceListCsv(const std::vector<std::string>& headings,
                          const std::vector<std::vector<std::string>>& rows);
