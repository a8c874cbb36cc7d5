#include "discovery/cli/NetworkCommands.h"

#include "discovery/cli/PrintError.h"

#include "discovery/DeviceMarks.h"
#include "discovery/ModifyIpCheck.h"
#include "discovery/cli/CliDiscoveryListener.h"
#include "support/VisibleText.h"
#include "support/cli/TextTable.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// The columns of the window's list, headings as it shows them.
const cli::TextRow kListHeadings = {"No.",         "IP Address",      "Port Number",
                                    "Subnet Mask", "Default Gateway", "Mac Address "};

// The trailing marker of a table row: what the technician must look into.
std::string MarkText(const DeviceMarks& marks) {
    std::string text = marks.conflict ? "address conflict" : "";
    if (marks.otherSubnet) {
        text += text.empty() ? "other subnet" : ", other subnet";
    }
    return text;
}

void PrintList(const std::vector<DeviceAddedNotice>& devices, ListFormat format) {
    std::vector<std::uint32_t> addresses;
    for (const DeviceAddedNotice& d : devices) {
        addresses.push_back(parseIpv4(d.addressText).value_or(0));
    }
    const std::vector<DeviceMarks> marks = markDevices(addresses, localNetworks());
    const bool anyMark = std::any_of(marks.begin(), marks.end(),
                                     [](const DeviceMarks& m) { return m.conflict || m.otherSubnet; });
    std::vector<cli::TextRow> rows;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const DeviceAddedNotice& d = devices[i];
        // Column 0 numbers the rows from 1, as the window's list does.
        rows.push_back({std::to_string(d.row + 1), d.addressText, std::to_string(d.port), d.maskText,
                        d.gatewayText, d.macText});
        if (anyMark && format == ListFormat::Table) {
            rows.back().push_back(MarkText(marks[i]));
        }
    }
    switch (format) {
    case ListFormat::Table: {
        cli::TextRow headings = kListHeadings;
        if (anyMark) {
            headings.push_back("");
        }
        std::cout << cli::FormatTable(headings, rows);
        break;
    }
    case ListFormat::Csv:
        std::cout << cli::CsvRecord(kListHeadings);
        for (const auto& row : rows) {
            std::cout << cli::CsvRecord(row);
        }
        break;
    case ListFormat::Json: {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (std::size_t i = 0; i < devices.size(); ++i) {
            const DeviceAddedNotice& d = devices[i];
            list.push_back({{"no", d.row + 1},
                            {"ip", d.addressText},
                            {"port", d.port},
                            {"mask", d.maskText},
                            {"gateway", d.gatewayText},
                            {"mac", d.macText},
                            {"conflict", marks[i].conflict},
                            {"subnet", marks[i].otherSubnet ? "other" : "local"}});
        }
        // A recorder's MAC text is bytes it chose; bytes that are not UTF-8 become U+FFFD
        // rather than ending the program.
        std::cout << list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
        break;
    }
    }
    std::cout.flush();
}

} // namespace

DiscoveryEngineConfig ConfigOf(const DiscoveryEndpoint& endpoint) {
    DiscoveryEngineConfig config;
    config.destinationAddress = endpoint.target;
    config.destinationPort = endpoint.targetPort;
    config.boundPort = endpoint.bindPort;
    config.interfaceName = endpoint.interfaceName;
    return config;
}

std::string OpenFailure(const DiscoveryEndpoint& endpoint) {
    return "the discovery socket could not be opened on UDP port " + std::to_string(endpoint.bindPort) +
           " (another program may hold it; --bind-port 0 takes any free port)";
}

const char* ModifyIpRefusal(std::uint32_t address, std::uint32_t mask, std::uint32_t gateway) {
    const auto refusal = checkNewAddresses(address, mask, gateway);
    return refusal ? refusal->text : nullptr;
}

PelloryStatus Scan(const ScanOptions& options) {
    CCliDiscoveryListener listener;
    std::vector<DeviceAddedNotice> devices;
    {
        DiscoveryEngine engine(&listener, ConfigOf(options.endpoint));
        if (engine.start() != 1) {
            PrintError(OpenFailure(options.endpoint));
            return PelloryStatus::Network;
        }
        // The engine repeats the search by itself for replies lost on a busy network; answers
        // are taken until the timeout, each recorder once.
        std::this_thread::sleep_for(options.timeout);
        engine.close();
        devices = listener.Devices();
    }
    PrintList(devices, options.format);
    if (devices.empty() && options.format == ListFormat::Table) {
        PrintError("no recorder answered the search sent to " + formatIpv4(options.endpoint.target) + ":" +
                   std::to_string(options.endpoint.targetPort));
    }
    return PelloryStatus::Success;
}

PelloryStatus SetIp(const SetIpOptions& options) {
    // The timeout bounds the whole command: the search, the login and the answer share it.
    const Clock::time_point deadline = Clock::now() + options.timeout;
    CCliDiscoveryListener listener;
    DiscoveryEngine engine(&listener, ConfigOf(options.endpoint));
    if (engine.start() != 1) {
        PrintError(OpenFailure(options.endpoint));
        return PelloryStatus::Network;
    }
    const auto found = listener.WaitForMac(options.mac, deadline);
    if (!found) {
        PrintError("no recorder with the MAC address " + options.mac + " answered the search");
        return PelloryStatus::NotFound;
    }
    std::cout << "Found " << VisibleText(found->macText) << " at " << found->addressText << ":" << found->port
              << " (mask " << found->maskText << ", gateway " << found->gatewayText << ")." << std::endl;

    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    const DiscoveryEngine::LoginOutcome login = engine.login(found->row, options.user, options.password,
                                                             std::max(left, std::chrono::milliseconds(0)));
    switch (login.status) {
    case DiscoveryEngine::LoginStatus::NotSent:
        PrintError("the login request could not be sent");
        return PelloryStatus::Network;
    case DiscoveryEngine::LoginStatus::TimedOut:
        PrintError(std::string(LOGIN_TIMEOUT_TEXT));
        return PelloryStatus::NoLoginReply;
    case DiscoveryEngine::LoginStatus::Answered:
        break;
    }
    if (!login.accepted()) {
        // The window shows nothing for a result it does not know; a script still learns of it.
        const auto text = login.text();
        PrintError(text ? std::string(*text)
                        : "the recorder answered the login with result " + std::to_string(login.result));
        return PelloryStatus::LoginRefused;
    }

    listener.ClearStatus();
    if (!engine.modifyIp(found->row, options.address, options.mask, options.gateway)) {
        PrintError("the modify-IP request could not be sent");
        return PelloryStatus::Network;
    }
    std::cout << "Asked for address " << formatIpv4(options.address) << ", mask " << formatIpv4(options.mask)
              << ", gateway " << formatIpv4(options.gateway) << "." << std::endl;
    const auto status = listener.WaitForStatus(deadline);
    if (!status) {
        PrintError("no answer to the modify-IP request");
        return PelloryStatus::NoModifyAnswer;
    }
    if (*status != modifyResultText(0)) {
        PrintError(*status);
        return PelloryStatus::ModifyRefused;
    }
    std::cout << *status << std::endl;
    return PelloryStatus::Success;
}
