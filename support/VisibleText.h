// Text from outside (a recorder's MAC text or name, a file name) made safe to show and to hand to
// a spreadsheet. No Qt: the windows' export and both command-line tools share these rules.
#pragma once

#include <string>
#include <string_view>

// The text with every control character shown as a visible escape "\xHH" (lower-case hex), so
// that it cannot steer a terminal: C0 controls except tab, DEL, and C1 controls, whether they
// come as raw bytes 0x80-0x9F (text that is not UTF-8 there) or as U+0080-U+009F in UTF-8 (each
// of its two bytes is shown). Every other byte, valid UTF-8 or not, is kept as it is.
std::string VisibleText(std::string_view text);

// As VisibleText, but line feeds are kept: for a block of lines put together by the program.
std::string VisibleLines(std::string_view text);

// One CSV field. A field that starts like a spreadsheet formula ("=", "+", "-", "@", tab or CR)
// gets a leading apostrophe, so that a spreadsheet shows the text instead of running it; the
// rule holds for every field, numbers included (no field a list holds is a negative number).
// The field is then quoted when it holds a comma, a quote, a line break or blanks at either end,
// a quote inside doubled.
std::string CsvField(std::string_view text);
