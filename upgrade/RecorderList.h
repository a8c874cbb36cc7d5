#pragma once
// The recorders of a list file as pellory-cli scan writes it (--format csv or json): address and
// port as written, and the MAC text when the list has one. Nothing is checked beyond the file's
// form: the programs that take the recorders check the addresses themselves.

#include "upgrade/RecorderUpgrade.h"

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

struct ListedRecorder {
    std::string address;
    std::string port;
    std::string mac; // empty when the list names none
    // "ADDRESS:PORT", as kestrion-cli takes it with --host.
    std::string Text() const { return address + ":" + port; }
};

struct RecorderListError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The recorder's address and port, checked: a dotted IPv4 address and a port from 1 to 65535.
// Throws RecorderListError naming `name` (the file) and the recorder, its controls escaped.
RecorderAddress CheckedAddress(const ListedRecorder& listed, const std::string& name);

// The same for every recorder of a list, in its order; a recorder named twice is refused too.
std::vector<RecorderAddress> CheckedAddresses(const std::vector<ListedRecorder>& listed,
                                              const std::string& name);

// A list longer than this is refused unread: no site has that many recorders.
inline constexpr size_t kMostRecorderListBytes = size_t{16} << 20;

// Reads the file at path; throws RecorderListError naming the file and, for a CSV file, the
// line when the file cannot be read, is larger than kMostRecorderListBytes, names no recorder or
// is not such a list.
std::vector<ListedRecorder> ReadRecorderList(const std::string& path);

// The same from the file's text; `name` only goes into the errors.
std::vector<ListedRecorder> ParseRecorderList(const std::string& text, const std::string& name);
