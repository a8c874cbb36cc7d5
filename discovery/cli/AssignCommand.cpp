#include "discovery/cli/AssignCommand.h"

#include "discovery/DeviceMarks.h"
#include "discovery/RecorderChange.h"
#include "discovery/cli/CliDiscoveryListener.h"
#include "discovery/cli/PrintError.h"
#include "support/cli/CliOptions.h"
#include "support/cli/StopSignals.h"
#include "support/cli/TextTable.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <unordered_set>

namespace {

// Set by Ctrl-C or a termination request; the batch stops before the next recorder, so that a
// recorder is never left between its login and its new address, and what was done is printed.
class StopRequest {
public:
    void Stop() {
        {
            std::lock_guard lock(m_mutex);
            m_stopped = true;
        }
        m_changed.notify_all();
    }
    bool Stopped() {
        std::lock_guard lock(m_mutex);
        return m_stopped;
    }
    // Waits out the time unless a stop comes first; true when it did.
    bool WaitFor(std::chrono::milliseconds time) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, time, [this] { return m_stopped; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopped = false;
};

std::string Trimmed(std::string text) {
    const auto blank = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '"'; };
    while (!text.empty() && blank(static_cast<unsigned char>(text.back()))) {
        text.pop_back();
    }
    const auto first = std::find_if_not(text.begin(), text.end(), [&](char c) { return blank(c); });
    return std::string(first, text.end());
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t comma; (comma = line.find(',', start)) != std::string::npos; start = comma + 1) {
        fields.push_back(Trimmed(line.substr(start, comma - start)));
    }
    fields.push_back(Trimmed(line.substr(start)));
    return fields;
}

std::uint32_t PlanAddress(const std::string& where, const std::string& what, const std::string& text,
                          bool mayBeBlank) {
    if (text.empty() && mayBeBlank) {
        return 0;
    }
    const auto address = parseIpv4(text);
    if (!address) {
        throw cli::UsageError{where + ": the " + what + " \"" + text + "\" is not a dotted IPv4 address"};
    }
    return *address;
}

} // namespace

std::vector<PlanLine> ReadPlan(std::istream& in, const std::string& fileName) {
    std::vector<PlanLine> plan;
    std::string line;
    bool header = true;
    for (unsigned number = 1; std::getline(in, line); ++number) {
        const std::string where = fileName + " line " + std::to_string(number);
        if (number == 1 && line.starts_with("\xEF\xBB\xBF")) {
            line.erase(0, 3); // the byte order mark a spreadsheet writes first
        }
        const auto fields = Fields(line);
        if (fields.size() == 1 && fields[0].empty()) {
            continue; // blank lines, a last line ending
        }
        if (header) {
            if (fields != std::vector<std::string>{"mac", "ip", "mask", "gateway"}) {
                throw cli::UsageError{where + ": the first line must be the header mac,ip,mask,gateway"};
            }
            header = false;
            continue;
        }
        if (fields.size() != 4) {
            throw cli::UsageError{where + ": " + std::to_string(fields.size()) +
                                  " fields where mac,ip,mask,gateway are four"};
        }
        if (fields[0].empty()) {
            throw cli::UsageError{where + ": no MAC address"};
        }
        plan.push_back({fields[0], PlanAddress(where, "address", fields[1], false),
                        PlanAddress(where, "mask", fields[2], true),
                        PlanAddress(where, "gateway", fields[3], true)});
    }
    if (header) {
        throw cli::UsageError{fileName + ": empty; the first line must be the header mac,ip,mask,gateway"};
    }
    return plan;
}

namespace {

// The plan as the options give it: numbered from the first address, or read from the file with
// the options' mask and gateway filling its blanks. Throws cli::UsageError.
std::vector<PlanLine> PlanLines(const AssignOptions& options, const std::vector<ListedRecorder>& listed,
                                const std::unordered_set<std::uint32_t>& machine) {
    std::vector<PlanLine> plan = options.plan;
    if (!options.macs.empty()) {
        NumberedPlan numbered =
            numberPlan(options.macs, options.firstAddress, options.mask, options.gateway, listed, machine);
        if (!numbered.refusal.empty()) {
            throw cli::UsageError{numbered.refusal};
        }
        plan.insert(plan.end(), numbered.lines.begin(), numbered.lines.end());
    }
    for (PlanLine& line : plan) {
        line.mask = line.mask != 0 ? line.mask : options.mask;
        line.gateway = line.gateway != 0 ? line.gateway : options.gateway;
        if (const char* refusal = ModifyIpRefusal(line.address, line.mask, line.gateway)) {
            throw cli::UsageError{line.mac + ": " + refusal +
                                  " (a blank mask or gateway needs --mask or --gateway)"};
        }
    }
    return plan;
}

std::vector<ListedRecorder> Listed(const std::vector<DeviceAddedNotice>& devices) {
    std::vector<ListedRecorder> listed;
    for (const DeviceAddedNotice& d : devices) {
        listed.push_back({d.row, d.macText, parseIpv4(d.addressText).value_or(0)});
    }
    return listed;
}

const cli::TextRow kResultHeadings = {"Mac Address", "Old Address", "New Address", "Result"};

void PrintResults(const std::vector<ChangeResult>& results, ListFormat format) {
    std::vector<cli::TextRow> rows;
    for (const ChangeResult& r : results) {
        rows.push_back({r.change.mac, formatIpv4(r.change.oldAddress), formatIpv4(r.change.address),
                        changeResultText(r)});
    }
    if (format == ListFormat::Table) {
        std::cout << cli::FormatTable(kResultHeadings, rows);
    } else if (format == ListFormat::Csv) {
        std::cout << cli::CsvRecord(kResultHeadings);
        for (const auto& row : rows) {
            std::cout << cli::CsvRecord(row);
        }
    } else {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const ChangeResult& r : results) {
            list.push_back({{"mac", r.change.mac},
                            {"old_ip", formatIpv4(r.change.oldAddress)},
                            {"ip", formatIpv4(r.change.address)},
                            {"mask", formatIpv4(r.change.mask)},
                            {"gateway", formatIpv4(r.change.gateway)},
                            {"result", changeOutcomeWord(r.outcome)},
                            {"message", r.message}});
        }
        std::cout << list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
    }
    std::cout.flush();
}

} // namespace

int Assign(const AssignOptions& options) {
    StopRequest stop;
    // Before the engine starts its threads, so that they too leave the signals to this one.
    cli::StopSignals signals([&stop](int) { stop.Stop(); });
    CCliDiscoveryListener listener;
    DiscoveryEngine engine(&listener, ConfigOf(options.endpoint));
    if (engine.start() != 1) {
        PrintError(OpenFailure(options.endpoint));
        return ExitCode(PelloryStatus::Network);
    }
    // Every recorder that answers is needed, not only those named: their addresses are in use.
    if (stop.WaitFor(options.scanTime)) {
        PrintError("stopped while searching; nothing was sent to any recorder");
        return signals.ExitStatus();
    }
    const std::vector<ListedRecorder> listed = Listed(listener.Devices());
    const auto machine = machineAddresses(localNetworks());
    PlanCheck check;
    try {
        check = checkPlan(PlanLines(options, listed, machine), listed, machine);
    } catch (const cli::UsageError& e) {
        check.refusal = e.text;
    }
    if (!check.refusal.empty()) {
        PrintError(check.refusal + "; nothing was sent to any recorder");
        return ExitCode(PelloryStatus::Usage);
    }
    std::vector<ChangeResult> results;
    for (const PlannedChange& change : check.changes) {
        results.push_back(stop.Stopped() ? ChangeResult{change, ChangeOutcome::NotSent, "stopped"}
                                         : changeRecorder(engine, listener.ModifyResults(), change,
                                                          options.user, options.password, options.timeout));
    }
    engine.close();
    PrintResults(results, options.format);
    if (signals.Received() != 0) {
        return signals.ExitStatus();
    }
    const auto changed = std::count_if(results.begin(), results.end(), [](const ChangeResult& r) {
        return r.outcome == ChangeOutcome::Modified;
    });
    return ExitCode(std::size_t(changed) == results.size() ? PelloryStatus::Success
                                                           : PelloryStatus::NotAllChanged);
}
