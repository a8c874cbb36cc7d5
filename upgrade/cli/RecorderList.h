#pragma once
// The recorders of a list file as pellory-cli scan writes it (--format csv or json), as the
// "ADDRESS:PORT" texts kestrion-cli takes with --host.

#include <stdexcept>
#include <string>
#include <vector>

struct RecorderListError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reads the file at path; throws RecorderListError naming the file and, for a CSV file, the
// line when the file cannot be read or is not such a list.
std::vector<std::string> ReadRecorderList(const std::string& path);

// The same from the file's text; `name` only goes into the errors.
std::vector<std::string> ParseRecorderList(const std::string& text, const std::string& name);
