#pragma once

#include <string>

// "pellory-cli: " and the text on standard error, control characters shown as escapes (a
// recorder's texts and file names may hold any byte), after what standard output holds so far.
void PrintError(const std::string& text);
