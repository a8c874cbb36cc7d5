// The record a batch leaves behind: one line per recorder saying how its upgrade ended, as CSV
// for a spreadsheet. No Qt: the window saves it, and anything else may.
#pragma once

#include "upgrade/UpgradeResult.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct BatchRecord {
    std::string address;
    uint32_t port = 37777;
    std::string mac;
    std::vector<std::string> files;
    std::string kind; // what the files upgrade ("BIOS image", ...)
    // The ending; none while the upgrade has not ended (or never started).
    std::optional<UpgradeResult> result;
    std::optional<std::chrono::system_clock::time_point> started;
    std::optional<std::chrono::system_clock::time_point> ended;
};

// The heading line and one line per record, each ended by CR LF. Text from recorders and file
// names has its control characters escaped, and a cell that looks like a formula is neutralised.
// A recorder that gave no percent has an empty percent cell; times are UTC, to the second.
std::string BatchReportCsv(const std::vector<BatchRecord>& records);

// "2026-12-10T07:31:16Z".
std::string UtcTimeText(std::chrono::system_clock::time_point when);
