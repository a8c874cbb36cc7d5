#include "upgrade/BatchReport.h"

#include "support/VisibleText.h"

#include <ctime>

namespace {

const char* const kHeadings[] = {"Address", "Port",         "MAC",        "Files", "Kind",
                                 "Result",  "Last percent", "Bytes sent", "Start", "End"};

std::string Cell(const std::string& text) {
    return CsvField(VisibleText(text));
}

std::string TimeCell(const std::optional<std::chrono::system_clock::time_point>& when) {
    return when ? UtcTimeText(*when) : "";
}

std::string Line(const std::vector<std::string>& cells) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
        line += (i ? "," : "") + Cell(cells[i]);
    }
    return line + "\r\n";
}

} // namespace

std::string UtcTimeText(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string BatchReportCsv(const std::vector<BatchRecord>& records) {
    std::string csv = Line({std::begin(kHeadings), std::end(kHeadings)});
    for (const BatchRecord& r : records) {
        std::string files;
        for (const std::string& f : r.files) {
            files += (files.empty() ? "" : "; ") + f;
        }
        const UpgradeResult* result = r.result ? &*r.result : nullptr;
        const bool percent = result && result->lastPercent >= 0;
        csv +=
            Line({r.address, std::to_string(r.port), r.mac, files, r.kind,
                  result ? EndingWord(result->ending) : "not ended",
                  percent ? std::to_string(result->lastPercent) : "",
                  result ? std::to_string(result->bytesSent) : "", TimeCell(r.started), TimeCell(r.ended)});
    }
    return csv;
}
