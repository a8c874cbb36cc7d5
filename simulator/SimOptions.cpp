#include "simulator/SimOptions.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace sim {
namespace {

constexpr unsigned kMostRecorders = 1000;

const char* const kDescription =
    "Plays one or more digital video recorders on this machine, so that the upgrade tool and the\n"
    "discovery tool can be tried without a recorder at hand.\n"
    "\n"
    "Upgrade side: a TCP server that accepts one account, receives upgrades (checking every packet,\n"
    "and for web and logo upgrades the package, its image's superblock, CRC-32 and blocks), and\n"
    "answers with the chosen verdict. A file that fails a check is always answered \"error\".\n"
    "Discovery side: a UDP socket that answers each search with one reply per recorder, and\n"
    "login and modify-IP requests addressed to one of them. Replies go only to the sender.\n"
    "Recorder N reports the device address + N-1 and the device port + N-1; when that address\n"
    "is a loopback one (127.x.x.x), it takes upgrades there too (the first 64 recorders).\n"
    "\n"
    "When both sockets are ready it prints one line:\n"
    "  recorder-sim ready tcp=ADDRESS:PORT udp=ADDRESS:PORT recorders=N\n"
    "then one line per finished upgrade. SIGINT or SIGTERM stops it.\n";

const char* const kFooter =
    "\nExamples:\n"
    "  recorder-sim\n"
    "      one recorder: upgrades on 127.0.0.1:37777, discovery on 127.0.0.1:5050\n"
    "  recorder-sim --tcp-port 0 --udp-port 0 --count 3 --verdict right --save-dir /tmp/received\n"
    "      three recorders on free ports, answering \"right\" and saving what they receive\n"
    "  recorder-sim --slow-reader 5000 --receive-buffer 4096\n"
    "      stops reading for 5 s at the start of each upgrade, to try the tool's send time limit\n"
    "  recorder-sim --link-rate 12500000 --burn-ms 120000\n"
    "      takes files at 100 Mbit/s and reports its burn progress over two minutes\n";

struct Ipv4Check : CLI::Validator {
    Ipv4Check() : CLI::Validator("ADDRESS") {
        func_ = [](std::string& text) -> std::string {
            return ::parseIpv4(text) ? std::string() : "'" + text + "' is not a dotted IPv4 address";
        };
    }
};

// What the command line gives in another form than SimOptions holds it.
struct RawArguments {
    int tcpPort = 37777, udpPort = 5050, devicePort = -1, loginResult = -1;
    int progressInterval = 200, settle = 500, slowReader = 0, burnMs = 0;
    std::string verdict = "progress", deviceAddress, deviceMask = "255.0.0.0", deviceGateway = "127.0.0.254";
    bool noUpgrade = false, noDiscovery = false, noStartReply = false, ignoreFirstAll = false;
    CLI::Option* interval = nullptr;
};

const CLI::Range kPort(0, 65535);

void addGeneralOptions(CLI::App& app, SimOptions& o) {
    const char* general = "Both sides";
    app.add_option("--count", o.discovery.count, "Number of recorders to play")
        ->check(CLI::Range(1u, kMostRecorders))
        ->option_text("N (1 to 1000) [1]")
        ->group(general);
    app.add_option("--user", o.user, "User name the recorders accept")
        ->option_text("NAME [admin]")
        ->group(general);
    app.add_option("--password", o.password, "Password the recorders accept")
        ->option_text("TEXT [admin]")
        ->group(general);
    app.add_flag("--verbose", o.verbose, "Also print every login, search and modify-IP")->group(general);
}

// The sockets of the upgrade side and the verdict.
void addUpgradeOptions(CLI::App& app, SimOptions& o, RawArguments& raw, const Ipv4Check& ipv4) {
    const char* upgrade = "Upgrade side (TCP)";
    app.add_flag("--no-upgrade", raw.noUpgrade, "Do not open the upgrade side")->group(upgrade);
    app.add_option("--tcp-address", o.tcpAddress, "Address to listen on")
        ->check(ipv4)
        ->option_text("ADDRESS [127.0.0.1]")
        ->group(upgrade);
    app.add_option("--tcp-port", raw.tcpPort, "Port to listen on; 0 picks a free one")
        ->check(kPort)
        ->option_text("PORT [37777]")
        ->group(upgrade);
    app.add_option("--verdict", raw.verdict,
                   "Answer to an upgrade that passed its checks:\n"
                   "progress reports, the word \"right\", the word\n"
                   "\"error\", silence, or dropping the connection")
        ->option_text("WORD [progress]")
        ->group(upgrade);
    app.add_option("--progress-step", o.upgrade.progressStep, "Percent between two progress reports")
        ->check(CLI::Range(1u, 255u))
        ->option_text("PERCENT [25]")
        ->group(upgrade);
    raw.interval = app.add_option("--progress-interval", raw.progressInterval,
                                  "Milliseconds between two progress reports")
                       ->check(CLI::Range(0, 3600000))
                       ->option_text("MS [200]")
                       ->group(upgrade);
    app.add_option("--burn-ms", raw.burnMs,
                   "Time the recorder burns after the end packet:\nprogress reports are spread over it")
        ->check(CLI::Range(0, 3600000))
        ->option_text("MS [0: one per interval]")
        ->group(upgrade);
    app.add_option("--progress-until", o.upgrade.progressUntil,
                   "Last percent reported (below 100 the tool\nnever hears of success; up to 255)")
        ->check(CLI::Range(0u, 255u))
        ->option_text("PERCENT [100]")
        ->group(upgrade);
    app.add_option(
           "--word-with-login", o.upgrade.wordWithLogin,
           "Send this upgrade reply word (right, error)\nin the same write as an accepted login's reply")
        ->check(CLI::IsMember({"right", "error", "start"}))
        ->option_text("WORD")
        ->group(upgrade);
    app.add_flag("--no-start-reply", raw.noStartReply, "Do not answer a start packet with \"start\"")
        ->group(upgrade);
    app.add_flag("--reboot", o.upgrade.rebootAfterSuccess,
                 "Drop the connection after a successful verdict,\nas a recorder that reboots")
        ->group(upgrade);
}

// How the upgrade side takes in what it is sent.
void addReadingOptions(CLI::App& app, SimOptions& o, RawArguments& raw) {
    const char* upgrade = "Upgrade side (TCP)";
    app.add_option("--settle", raw.settle,
                   "Quiet after an end packet before the upgrade\ncounts as complete (more files may follow)")
        ->check(CLI::Range(1, 600000))
        ->option_text("MS [500]")
        ->group(upgrade);
    app.add_option("--slow-reader", raw.slowReader, "Stop reading this long, once per upgrade")
        ->check(CLI::Range(0, 3600000))
        ->option_text("MS [0: never]")
        ->group(upgrade);
    app.add_option("--slow-after", o.upgrade.stallAfterBytes,
                   "File bytes to take in before the slow reader\nstops (0: right after the start packet)")
        ->option_text("BYTES [0]")
        ->group(upgrade);
    app.add_option("--link-rate", o.upgrade.linkRate,
                   "Bytes per second each connection takes in,\nas over a recorder's real link")
        ->check(CLI::Range(uint64_t(0), uint64_t(1) << 40))
        ->option_text("BYTES_PER_S [0: unlimited]")
        ->group(upgrade);
    app.add_option("--receive-buffer", o.receiveBuffer, "Socket receive buffer of each connection")
        ->check(CLI::Range(0, 64 * 1024 * 1024))
        ->option_text("BYTES [system default]")
        ->group(upgrade);
    app.add_option("--save-dir", o.upgrade.saveDir, "Folder to save each received file in")
        ->check(CLI::ExistingDirectory)
        ->option_text("DIR")
        ->group(upgrade);
}

// The discovery side's socket and what the recorders report of themselves.
void addDiscoveryOptions(CLI::App& app, SimOptions& o, RawArguments& raw, const Ipv4Check& ipv4) {
    const char* discovery = "Discovery side (UDP)";
    app.add_flag("--no-discovery", raw.noDiscovery, "Do not open the discovery side")->group(discovery);
    app.add_option("--udp-address", o.udpAddress, "Address to receive requests on")
        ->check(ipv4)
        ->option_text("ADDRESS [127.0.0.1]")
        ->group(discovery);
    app.add_option("--udp-port", raw.udpPort, "Port to receive requests on; 0 picks a free one")
        ->check(kPort)
        ->option_text("PORT [5050]")
        ->group(discovery);
    app.add_option("--device-address", raw.deviceAddress,
                   "First recorder's address in its search reply;\nthe next recorders count up")
        ->check(ipv4)
        ->option_text("ADDRESS [the TCP address]")
        ->group(discovery);
    app.add_flag("--same-address", o.discovery.sameAddress,
                 "Every recorder reports the first one's address\nand port (only the MAC texts differ)")
        ->group(discovery);
    app.add_option("--device-mask", raw.deviceMask, "Subnet mask the recorders report")
        ->check(ipv4)
        ->option_text("ADDRESS [255.0.0.0]")
        ->group(discovery);
    app.add_option("--device-gateway", raw.deviceGateway, "Default gateway the recorders report")
        ->check(ipv4)
        ->option_text("ADDRESS [127.0.0.254]")
        ->group(discovery);
    app.add_option("--device-port", raw.devicePort,
                   "First recorder's port in its search reply;\nthe next recorders count up")
        ->check(kPort)
        ->option_text("PORT [the TCP port]")
        ->group(discovery);
}

// How the recorders answer logins, modify-IP requests and searches.
void addAnswerOptions(CLI::App& app, SimOptions& o, RawArguments& raw) {
    const char* discovery = "Discovery side (UDP)";
    app.add_option("--login-result", raw.loginResult,
                   "Fixed result of every login (0 accepted,\n1 refused, 3 already logged in, ...);\n"
                   "by default 0 for the account above, else 1")
        ->check(CLI::Range(0, 255))
        ->option_text("N")
        ->group(discovery);
    app.add_option("--login-reason", o.discovery.loginReason, "Reason sent with a fixed login result")
        ->check(CLI::Range(0, 255))
        ->option_text("N [0]")
        ->group(discovery);
    app.add_option("--modify-result", o.discovery.modifyResult,
                   "Result of a modify-IP request; 0 adopts the\nnew address, mask and gateway")
        ->check(CLI::Range(0, 255))
        ->option_text("N [0]")
        ->group(discovery);
    app.add_flag("--ignore-first-search", raw.ignoreFirstAll,
                 "Every recorder leaves the first search unanswered")
        ->group(discovery);
    app.add_option("--ignore-first-search-of", o.discovery.ignoreFirstSearch,
                   "Only these recorders (numbered from 1) leave\nthe first search unanswered")
        ->delimiter(',')
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->option_text("N,N,...")
        ->group(discovery);
    app.add_option("--refuse-login-of", o.discovery.refuseLogin,
                   "These recorders (numbered from 1) refuse every\nlogin with \"Invalid password!\"")
        ->delimiter(',')
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->option_text("N,N,...")
        ->group(discovery);

    app.add_option("--identity", o.discovery.firstIdentity,
                   "First recorder's identity bytes as given (up to 255);\nits MAC text is the first 17")
        ->check([](const std::string& text) {
            return text.size() <= DeviceIdentity::kMaxSize ? std::string() : "longer than 255 bytes";
        })
        ->option_text("TEXT")
        ->group(discovery);
}

// The upgrade side's values from their raw form; a refusal's text, or empty.
std::string applyUpgradeArguments(SimOptions& o, const RawArguments& raw) {
    static const std::map<std::string, Verdict> verdicts{{"progress", Verdict::Progress},
                                                         {"right", Verdict::Right},
                                                         {"error", Verdict::Error},
                                                         {"silence", Verdict::Silence},
                                                         {"drop", Verdict::Drop}};
    auto chosen = verdicts.find(raw.verdict);
    if (chosen == verdicts.end())
        return "--verdict: '" + raw.verdict + "' is not one of progress, right, error, silence, drop";
    o.upgrade.verdict = chosen->second;
    o.tcpPort = uint16_t(raw.tcpPort);
    o.udpPort = uint16_t(raw.udpPort);
    if (raw.noUpgrade && raw.noDiscovery)
        return "--no-upgrade and --no-discovery together leave nothing to play";
    o.upgradeSide = !raw.noUpgrade;
    o.discoverySide = !raw.noDiscovery;
    o.upgrade.replyStart = !raw.noStartReply;
    o.upgrade.progressInterval = std::chrono::milliseconds(raw.progressInterval);
    o.upgrade.settle = std::chrono::milliseconds(raw.settle);
    o.upgrade.stall = std::chrono::milliseconds(raw.slowReader);
    if (raw.burnMs > 0 && raw.interval->count() > 0)
        return "--burn-ms and --progress-interval exclude each other";
    o.upgrade.burn = std::chrono::milliseconds(raw.burnMs);
    return {};
}

// The recorders' numbers in a list option, each from 1 to the count; a refusal's text, or empty.
std::string checkRecorderNumbers(const char* option, const std::vector<unsigned>& numbers, unsigned count) {
    for (unsigned n : numbers)
        if (n < 1 || n > count)
            return std::string(option) + " " + std::to_string(n) + ": there are recorders 1 to " +
                   std::to_string(count);
    return {};
}

// The discovery side's values from their raw form; a refusal's text, or empty.
std::string applyDiscoveryArguments(SimOptions& o, const RawArguments& raw) {
    if (!raw.deviceAddress.empty())
        o.deviceAddress = ::parseIpv4(raw.deviceAddress);
    o.discovery.mask = *::parseIpv4(raw.deviceMask);
    o.discovery.gateway = *::parseIpv4(raw.deviceGateway);
    if (raw.devicePort >= 0) {
        if (!o.discovery.sameAddress && raw.devicePort + o.discovery.count - 1 > 65535)
            return "--device-port " + std::to_string(raw.devicePort) + " leaves no port for recorder " +
                   std::to_string(o.discovery.count);
        o.devicePort = uint16_t(raw.devicePort);
    }
    if (raw.loginResult >= 0)
        o.discovery.loginResult = uint8_t(raw.loginResult);
    if (raw.ignoreFirstAll && !o.discovery.ignoreFirstSearch.empty())
        return "--ignore-first-search and --ignore-first-search-of exclude each other";
    std::string refusal =
        checkRecorderNumbers("--ignore-first-search-of", o.discovery.ignoreFirstSearch, o.discovery.count);
    if (refusal.empty())
        refusal = checkRecorderNumbers("--refuse-login-of", o.discovery.refuseLogin, o.discovery.count);
    if (!refusal.empty())
        return refusal;
    if (raw.ignoreFirstAll)
        for (unsigned n = 1; n <= o.discovery.count; ++n)
            o.discovery.ignoreFirstSearch.push_back(n);
    return {};
}

} // namespace

CommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    SimOptions o;
    RawArguments raw;
    CLI::App app(kDescription, "recorder-sim");
    app.footer(kFooter);
    app.get_formatter()->column_width(36);
    const Ipv4Check ipv4;
    // The last of repeated options wins, so that a caller can override what a wrapper put first.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    addGeneralOptions(app, o);
    addUpgradeOptions(app, o, raw, ipv4);
    addReadingOptions(app, o, raw);
    addDiscoveryOptions(app, o, raw, ipv4);
    addAnswerOptions(app, o, raw);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return {};
    } catch (const CLI::ParseError& e) {
        err << "recorder-sim: " << e.what() << "\nRun recorder-sim --help for the options.\n";
        return {std::nullopt, 2};
    }

    std::string refusal = applyUpgradeArguments(o, raw);
    if (refusal.empty())
        refusal = applyDiscoveryArguments(o, raw);
    if (!refusal.empty()) {
        err << "recorder-sim: " << refusal << "\nRun recorder-sim --help for the options.\n";
        return {std::nullopt, 2};
    }
    return {std::move(o), 0};
}

} // namespace sim
