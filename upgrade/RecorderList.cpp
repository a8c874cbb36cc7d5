#include "upgrade/RecorderList.h"

#include "support/VisibleText.h"
#include "upgrade/RecorderAddressCheck.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <set>

namespace {

// One record of a CSV text from `at`: fields split on commas, quoted fields with doubled
// quotes inside; `at` moves past the record's line end.
std::vector<std::string> CsvRecordAt(const std::string& text, size_t& at) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (quoted) {
            if (c == '"' && at + 1 < text.size() && text[at + 1] == '"') {
                fields.back() += '"';
                ++at;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c == '\n') {
            ++at;
            break;
        } else if (c != '\r') {
            fields.back() += c;
        }
    }
    return fields;
}

std::vector<ListedRecorder> FromCsv(const std::string& text, const std::string& name) {
    size_t at = 0;
    const std::vector<std::string> headings = CsvRecordAt(text, at);
    const auto column = [&](const char* heading) {
        const auto found = std::find(headings.begin(), headings.end(), heading);
        if (found == headings.end()) {
            throw RecorderListError{name + ": line 1 has no column \"" + std::string(heading) +
                                    "\"; expected the list pellory-cli scan --format csv writes"};
        }
        return static_cast<size_t>(found - headings.begin());
    };
    const size_t address = column("IP Address");
    const size_t port = column("Port Number");
    // The window's heading carries a trailing space, and the list keeps it.
    const auto macAt = std::find(headings.begin(), headings.end(), "Mac Address ");
    const size_t mac = static_cast<size_t>(macAt - headings.begin());
    std::vector<ListedRecorder> recorders;
    for (unsigned line = 2; at < text.size(); ++line) {
        const std::vector<std::string> fields = CsvRecordAt(text, at);
        if (fields.size() == 1 && fields[0].empty()) {
            continue;
        }
        if (fields.size() <= std::max(address, port)) {
            throw RecorderListError{name + ": line " + std::to_string(line) + " has too few fields"};
        }
        recorders.push_back({fields[address], fields[port], mac < fields.size() ? fields[mac] : ""});
    }
    return recorders;
}

std::vector<ListedRecorder> FromJson(const std::string& text, const std::string& name) {
    nlohmann::json list;
    try {
        list = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        throw RecorderListError{name + ": not readable JSON: " + e.what()};
    }
    if (!list.is_array()) {
        throw RecorderListError{name + ": expected a JSON array of recorders"};
    }
    std::vector<ListedRecorder> recorders;
    for (size_t i = 0; i < list.size(); ++i) {
        const auto& r = list[i];
        const std::string which = name + ": recorder " + std::to_string(i + 1);
        if (!r.is_object() || !r.contains("ip") || !r["ip"].is_string() || !r.contains("port") ||
            !r["port"].is_number_unsigned()) {
            throw RecorderListError{which + " lacks a text \"ip\" or a number \"port\""};
        }
        const auto mac = r.find("mac");
        recorders.push_back({r["ip"].get<std::string>(), std::to_string(r["port"].get<uint64_t>()),
                             mac != r.end() && mac->is_string() ? mac->get<std::string>() : ""});
    }
    return recorders;
}

} // namespace

std::vector<ListedRecorder> ParseRecorderList(const std::string& text, const std::string& name) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    std::vector<ListedRecorder> recorders;
    if (first != std::string::npos) {
        recorders = text[first] == '[' ? FromJson(text, name) : FromCsv(text, name);
    }
    // A list of headings alone, or an empty array, is no list to upgrade from either.
    if (recorders.empty()) {
        throw RecorderListError{name + ": the file names no recorder"};
    }
    return recorders;
}

std::vector<ListedRecorder> ReadRecorderList(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    // Read to the limit and one byte more, never further: the path may name a device or a pipe
    // that does not end.
    std::string text(kMostRecorderListBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (!in && !in.eof()) {
        throw RecorderListError{path + ": cannot be read"};
    }
    text.resize(static_cast<size_t>(in.gcount()));
    if (text.size() > kMostRecorderListBytes) {
        throw RecorderListError{path + ": larger than " + std::to_string(kMostRecorderListBytes >> 20) +
                                " MB, too large for a list of recorders"};
    }
    return ParseRecorderList(text, path);
}

std::vector<RecorderAddress> CheckedAddresses(const std::vector<ListedRecorder>& listed,
                                              const std::string& name) {
    std::vector<RecorderAddress> addresses;
    std::set<std::string> seen;
    for (const ListedRecorder& recorder : listed) {
        const RecorderAddress address = CheckedAddress(recorder, name);
        // Two upgrades of one recorder at once would send it the firmware twice over.
        if (!seen.insert(address.Text()).second) {
            throw RecorderListError{name + ": the recorder " + address.Text() + " is named twice"};
        }
        addresses.push_back(address);
    }
    return addresses;
}

RecorderAddress CheckedAddress(const ListedRecorder& listed, const std::string& name) {
    const RecorderAddressCheck check = CheckRecorderAddress(listed.Text(), 0);
    if (!check.address) {
        throw RecorderListError{name + ": " + VisibleText(listed.Text()) + ": " + check.refusal};
    }
    return *check.address;
}
