// kestrion-cli: the upgrade tool for scripts and for many recorders at once. It drives the same
// upgrade session, classifier and package builder as the Kestrion window and shows the same
// messages; what the window shows in boxes and bars it prints as lines.

#include "package/UpgradePackage.h"
#include "support/NetSocketCore.h"
#include "support/VisibleText.h"
#include "support/cli/CliOptions.h"
#include "support/cli/Console.h"
#include "support/cli/PasswordInput.h"
#include "support/cli/StopSignals.h"
#include "support/cli/TextTable.h"
#include "upgrade/RecorderAddressCheck.h"
#include "upgrade/RecorderList.h"
#include "upgrade/RecorderUpgrade.h"
#include "upgrade/RecorderUpgradeView.h"
#include "upgrade/UpgradeBatch.h"
#include "upgrade/UpgradeIds.h"
#include "upgrade/UpgradeProtocol.h"
#include "upgrade/UpgradeSession.h"
#include "upgrade/cli/ConsoleReport.h"
#include "upgrade/cli/ExitStatus.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <set>
#include <stdexcept>

namespace {

const char* const kDescription =
    "kestrion-cli upgrades digital video recorders from the command line: the same upgrade session,\n"
    "file classification and web/logo packages as the Kestrion window, with the same messages.\n";

const char* const kExitStatuses = "\nExit status:\n"
                                  "   0  success\n"
                                  "   1  an unexpected failure inside the tool\n"
                                  "   2  bad options or arguments (nothing was sent, no file changed)\n"
                                  "   3  file refused: not an upgrade file, files of different kinds,\n"
                                  "      more than 10 files, a file that cannot be read\n"
                                  "   4  the web or logo package could not be built\n"
                                  "   5  cannot connect to the recorder\n"
                                  "   6  the recorder refused the login\n"
                                  "   7  the recorder did not answer the login in time\n"
                                  "   8  sending to the recorder failed, or a file was not sent whole\n"
                                  "   9  the recorder gave no verdict within the wait\n"
                                  "  10  the recorder answered \"error\"\n"
                                  "  11  several recorders failed in different ways\n"
                                  " 128+N  stopped by signal N (130 for Ctrl-C)\n";

const char* const kExamples =
    "\nExamples:\n"
    "  kestrion-cli classify demo/web/*\n"
    "  kestrion-cli upgrade --host 192.168.1.108 --user admin --password-file pw.txt firmware.bin\n"
    "  kestrion-cli upgrade --host 10.0.0.5 --host 10.0.0.6:37778 --jobs 2 --user admin \\\n"
    "      --password-env DVR_PASSWORD index.htm live.htm\n"
    "  kestrion-cli upgrade --host 10.0.0.5 --user admin --password-file pw.txt --format json fw.bin\n"
    "  pellory-cli scan --format csv > site.csv\n"
    "  kestrion-cli upgrade --hosts-from site.csv --jobs 8 --user admin --password-file pw.txt fw.bin\n"
    "  kestrion-cli package --web web.bin demo/web/*\n"
    "  kestrion-cli mac --host 192.168.1.108 --value 42\n";

using cli::UsageError;

int Refuse(const std::string& text) {
    return cli::Refuse("kestrion-cli", text, ExitCode(KestrionStatus::Usage));
}

// "ADDR" or "ADDR:PORT", the port defaulting to `port`.
// `origin` names where the text came from in the errors: "--host" or the list file. The text
// may come from a file a recorder's answers filled, so it is shown with its controls escaped.
RecorderAddress ParseRecorder(const std::string& text, uint32_t port, const std::string& origin = "--host") {
    const RecorderAddressCheck check = CheckRecorderAddress(text, port);
    if (!check.address) {
        throw UsageError{origin + " " + VisibleText(text) + ": " + check.refusal};
    }
    return *check.address;
}

std::string Seconds(std::chrono::milliseconds ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms.count()) / 1000.0);
    return text;
}

// The files as one choice, as Open files takes them; the classifier's messages printed unless
// `quiet`.
FileChoice ChooseFiles(const std::vector<std::string>& files, cli::Console& console, bool quiet) {
    CConsoleReport report(console, "");
    return ClassifyChoice(files, report, quiet);
}

KestrionStatus StatusOf(const FileChoice& choice) {
    return choice.button != 0 ? KestrionStatus::Success : KestrionStatus::FileRefused;
}

// ---- classify

int Classify(const std::vector<std::string>& files) {
    cli::Console& console = cli::Console::Standard();
    // Each file on its own first, quietly, for its line; then the files as one choice, whose
    // messages are the window's.
    for (const std::string& file : files) {
        const FileChoice one = ChooseFiles({file}, console, true);
        if (one.button != 0) {
            console.Line(cli::Printable(file) + ": " + ButtonContent(one.button) + " (" +
                         ButtonName(one.button) + "), " + std::to_string(one.announcedLength) + " bytes");
        } else {
            console.Line(cli::Printable(file) + ": refused (" + StatusWords(StatusOf(one)) + ")");
        }
    }
    const FileChoice all = ChooseFiles(files, console, false);
    if (all.button == 0) {
        return ExitCode(StatusOf(all));
    }
    console.Line("Upgrade: " + std::string(ButtonContent(all.button)) + " with the " +
                 ButtonName(all.button) + " button; the start packet announces " +
                 std::to_string(all.announcedLength) + " bytes");
    return 0;
}

// ---- package

int Package(bool web, const std::string& out, const std::vector<std::string>& files) {
    cli::Console& console = cli::Console::Standard();
    const FileChoice choice = ChooseFiles(files, console, false);
    if (choice.button == 0) {
        return ExitCode(StatusOf(choice));
    }
    const int wanted = web ? IDC_WEB : IDC_LOGO;
    if (choice.button != wanted) {
        console.ErrorLine(std::string("kestrion-cli: these files are ") + ButtonContent(choice.button) +
                          ", not " + ButtonContent(wanted));
        return ExitCode(KestrionStatus::FileRefused);
    }
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::is_directory(out, error)) {
        console.ErrorLine("kestrion-cli: " + out + " is a folder");
        return ExitCode(KestrionStatus::PackageFailed);
    }
    // Built beside its final place, so that moving it there is a rename on the same file system
    // and a failed build leaves the old file, if any, untouched.
    fs::path folder = fs::path(out).parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    std::string built;
    const int result = BuildUpgradePackage(static_cast<int>(files.size()), files.data(),
                                           web ? kWebPackageName : kLogoPackageName, built, folder.string());
    if (result != kPackageOk || built.empty()) {
        console.ErrorLine("kestrion-cli: the " + std::string(web ? "web" : "logo") +
                          " package could not be built");
        return ExitCode(KestrionStatus::PackageFailed);
    }
    const bool moved = std::rename(built.c_str(), out.c_str()) == 0;
    const int renameError = errno;
    RemoveUpgradePackage(built);
    if (!moved) {
        console.ErrorLine("kestrion-cli: cannot write " + out + ": " + std::strerror(renameError));
        return ExitCode(KestrionStatus::PackageFailed);
    }
    console.Line("Package " + out + " written: " + std::to_string(fs::file_size(out, error)) + " bytes, " +
                 std::to_string(files.size()) + " file(s) of " + ButtonContent(choice.button));
    return 0;
}

// ---- mac

int Mac(const RecorderAddress& recorder, uint32_t value) {
    cli::Console& console = cli::Console::Standard();
    UpgradeForm boxes;
    boxes.m_strIP = recorder.host;
    boxes.m_nPort = recorder.port;
    boxes.m_dwMacValue = value;
    CConsoleReport report(console, "");
    CRecorderUpgradeView view(report, boxes);
    {
        CUpgradeSession session(view);
        session.SendMacValue();
    }
    const auto result = view.LastResult();
    const KestrionStatus status = result ? StatusOf(result->ending) : KestrionStatus::Internal;
    if (status == KestrionStatus::Success) {
        console.Line("MAC value " + std::to_string(value) + " sent to " + recorder.Text() + ".");
    }
    return ExitCode(status);
}

// ---- upgrade

struct UpgradeOptions {
    std::vector<std::string> hosts;
    std::string hostsFrom;
    uint32_t port = 37777;
    std::string user;
    cli::PasswordOptions password;
    double waitSeconds = 1200;
    double loginWaitSeconds = 10;
    unsigned jobs = 1;
    std::string format = "text";
    std::vector<std::string> files;
};

// One line of JSON for each recorder: what a script reads instead of the messages. Host names
// are checked dotted addresses, so nothing here comes from the recorder.
void PrintJsonLine(FILE* out, const RecorderAddress& recorder, const UpgradeOutcome& o) {
    nlohmann::ordered_json line;
    line["host"] = recorder.host;
    line["port"] = recorder.port;
    line["result"] = StatusWord(o.status);
    line["status"] = ExitCode(o.status);
    line["lastPercent"] = o.lastPercent;
    line["bytesSent"] = o.bytesSent;
    line["seconds"] = std::round(static_cast<double>(o.took.count())) / 1000.0;
    // One write and a flush per line, so that a script reading along sees each recorder end.
    std::fputs((line.dump() + "\n").c_str(), out);
    std::fflush(out);
}

void PrintJson(FILE* out, const std::vector<RecorderAddress>& recorders,
               const std::vector<UpgradeOutcome>& outcomes) {
    for (size_t i = 0; i < recorders.size(); ++i) {
        PrintJsonLine(out, recorders[i], outcomes[i]);
    }
}

// The package builder reports its image on standard output, from whichever worker builds one.
// With JSON, the JSON lines keep standard output's descriptor to themselves and everything else
// written there goes to standard error, so a script reading the lines never meets a stray one.
FILE* TakeStandardOutputForJson() {
    std::fflush(stdout);
    const int fd = ::dup(STDOUT_FILENO);
    FILE* out = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
    if (out == nullptr || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        throw std::runtime_error(std::string("cannot keep standard output for JSON: ") +
                                 std::strerror(errno));
    }
    return out;
}

// The exit status of several recorders' outcomes.
int CombinedStatus(const std::vector<UpgradeOutcome>& outcomes) {
    std::set<KestrionStatus> failures;
    for (const UpgradeOutcome& o : outcomes) {
        if (o.status != KestrionStatus::Success) {
            failures.insert(o.status);
        }
    }
    if (failures.empty()) {
        return 0;
    }
    return ExitCode(failures.size() == 1 ? *failures.begin() : KestrionStatus::MixedFailures);
}

// The recorders of --host and --hosts-from, each once.
std::vector<RecorderAddress> NamedRecorders(const UpgradeOptions& options) {
    std::vector<RecorderAddress> recorders;
    std::set<std::string> seen;
    auto add = [&](const std::string& text, const std::string& origin) {
        RecorderAddress recorder = ParseRecorder(text, options.port, origin);
        if (!seen.insert(recorder.Text()).second) {
            throw UsageError{"the recorder " + recorder.Text() + " is named twice"};
        }
        recorders.push_back(recorder);
    };
    for (const std::string& text : options.hosts) {
        add(text, "--host");
    }
    if (!options.hostsFrom.empty()) {
        try {
            for (const ListedRecorder& listed : ReadRecorderList(options.hostsFrom)) {
                add(listed.Text(), "--hosts-from " + options.hostsFrom + ":");
            }
        } catch (const RecorderListError& e) {
            throw UsageError{"--hosts-from " + VisibleText(e.what())};
        }
    }
    if (recorders.empty()) {
        throw UsageError{"no recorder to upgrade: give --host or --hosts-from"};
    }
    return recorders;
}

void PrintTable(cli::Console& console, const std::vector<RecorderAddress>& recorders,
                const std::vector<UpgradeOutcome>& outcomes) {
    std::vector<cli::TextRow> rows;
    for (size_t i = 0; i < recorders.size(); ++i) {
        rows.push_back({recorders[i].Text(), StatusWords(outcomes[i].status),
                        std::to_string(ExitCode(outcomes[i].status)), Seconds(outcomes[i].took)});
    }
    console.Line("");
    std::string table = cli::FormatTable({"Recorder", "Result", "Status", "Time"}, rows);
    table.pop_back();
    console.Line(table);
}

// Upgrades the recorders, `jobs` at a time; with JSON each recorder's line is printed as its
// upgrade ends.
std::vector<UpgradeOutcome> UpgradeAll(const std::vector<RecorderAddress>& recorders,
                                       const UpgradeRequest& base, unsigned jobs, FILE* json,
                                       cli::Console& console, UpgradeStopper& stopper) {
    const bool several = recorders.size() > 1;
    std::vector<UpgradeOutcome> outcomes(recorders.size());
    std::mutex printing;
    auto ended = [&](size_t i) {
        if (json) {
            std::lock_guard lock(printing);
            PrintJsonLine(json, recorders[i], outcomes[i]);
        }
    };
    BatchRows rows;
    rows.skipped = [&](size_t i) {
        outcomes[i].status = KestrionStatus::Interrupted;
        ended(i);
    };
    rows.run = [&](size_t i) {
        UpgradeRequest request = base;
        request.recorder = recorders[i];
        const std::string prefix = several ? "[" + recorders[i].Text() + "] " : "";
        try {
            outcomes[i] = UpgradeRecorder(request, console, prefix, stopper);
        } catch (const std::exception& e) {
            console.ErrorLine(prefix + "kestrion-cli: " + e.what());
            outcomes[i].status = KestrionStatus::Internal;
        }
        ended(i);
    };
    RunUpgradeBatch(recorders.size(), jobs, stopper, rows);
    return outcomes;
}

int Upgrade(const UpgradeOptions& options) {
    const std::vector<RecorderAddress> recorders = NamedRecorders(options);
    if (options.user.size() > PacketHeader::kLoginUserSize) {
        throw UsageError{"--user: a recorder takes user names of at most " +
                         std::to_string(PacketHeader::kLoginUserSize) + " bytes"};
    }

    const bool several = recorders.size() > 1;
    const bool asJson = options.format == "json";
    const unsigned jobs = std::min<unsigned>(options.jobs, static_cast<unsigned>(recorders.size()));
    // With JSON on standard output, everything said along the way goes to standard error.
    FILE* const json = asJson ? TakeStandardOutputForJson() : nullptr;
    cli::Console jsonConsole(stderr, stderr, false);
    cli::Console& console = asJson ? jsonConsole : cli::Console::Standard(jobs == 1);

    // The files are refused once, before any recorder is bothered; a recorder whose turn comes
    // after they changed gets none of them.
    const std::vector<FileStamp> stamps = StampFiles(options.files);
    const FileChoice choice = ChooseFiles(options.files, console, false);
    if (choice.button == 0) {
        if (asJson) {
            std::vector<UpgradeOutcome> refused(recorders.size());
            for (UpgradeOutcome& o : refused) {
                o.status = StatusOf(choice);
            }
            PrintJson(json, recorders, refused);
        }
        return ExitCode(StatusOf(choice));
    }
    console.Line("Files: " + std::to_string(options.files.size()) + " file(s) of " +
                 ButtonContent(choice.button) + " (" + ButtonName(choice.button) + ")");

    const cli::PasswordReading password =
        cli::ReadPassword(options.password.source, "Password for " + options.user + ": ");
    if (!password.ok) {
        throw UsageError{password.error};
    }
    if (password.password.size() > PacketHeader::kLoginPasswordSize) {
        throw UsageError{"a recorder takes passwords of at most " +
                         std::to_string(PacketHeader::kLoginPasswordSize) + " bytes"};
    }

    UpgradeStopper stopper;
    cli::StopSignals signals([&stopper](int) { stopper.StopAll(); });

    UpgradeRequest base;
    base.user = options.user;
    base.password = password.password;
    base.files = options.files;
    base.stamps = stamps;
    base.button = choice.button;
    base.timings.verdictWaitMs = static_cast<uint32_t>(std::llround(options.waitSeconds * 1000));
    base.loginWait = std::chrono::milliseconds(std::llround(options.loginWaitSeconds * 1000));

    const std::vector<UpgradeOutcome> outcomes = UpgradeAll(recorders, base, jobs, json, console, stopper);
    if (signals.Received() != 0) {
        return signals.ExitStatus();
    }
    if (!several) {
        return ExitCode(outcomes[0].status);
    }
    if (!asJson) {
        PrintTable(console, recorders, outcomes);
    }
    return CombinedStatus(outcomes);
}

CLI::App* AddUpgradeCommand(CLI::App& app, UpgradeOptions& up) {
    CLI::App* upgrade = app.add_subcommand("upgrade", "Upgrade one or more recorders with the files given");
    // One value per --host: the files that follow are no recorders.
    upgrade->add_option("--host", up.hosts, "Recorder to upgrade; repeat for several")
        ->option_text("ADDR[:PORT]")
        ->allow_extra_args(false);
    upgrade
        ->add_option("--hosts-from", up.hostsFrom, "The recorders of a pellory-cli scan list (csv or json)")
        ->option_text("FILE");
    upgrade->add_option("--port", up.port, "Port of recorders named without one")
        ->option_text("PORT [37777]")
        ->check(CLI::Range(1u, 65535u));
    upgrade->add_option("--user", up.user, "User name to log in with")->option_text("NAME")->required();
    up.password.AddTo(*upgrade);
    upgrade->add_option("--wait", up.waitSeconds, "How long to wait for the recorder's verdict")
        ->option_text("SECONDS [1200]")
        ->check(CLI::Range(0.001, 1200.0));
    upgrade->add_option("--login-wait", up.loginWaitSeconds, "How long to wait for the login's answer")
        ->option_text("SECONDS [10]")
        ->check(CLI::Range(0.001, 600.0));
    upgrade->add_option("--jobs", up.jobs, "Upgrade up to N recorders at the same time")
        ->option_text("N [1]")
        ->check(CLI::Range(1u, 64u));
    upgrade->add_option("--format", up.format, "text: lines and a table; json: one object per recorder")
        ->option_text("text|json [text]")
        ->check(CLI::IsMember({"text", "json"}));
    upgrade->add_option("files", up.files, "Upgrade files (at most 10, all of one kind)")
        ->option_text("FILE...")
        ->required();
    upgrade->footer(
        "\nThe password comes from --password-file, --password-env or, when neither is given, "
        "from the terminal\nwithout echo. Several recorders are upgraded one after another, or "
        "--jobs at a time, and a\ntable of the results ends the output. --hosts-from takes the list "
        "pellory-cli scan\nwrites (csv or json). With --format json, "
        "standard output\ncarries only one JSON object per recorder, one per line as its upgrade ends: "
        "host, port,\nresult (a word), status (the exit status), lastPercent (-1 without a "
        "report),\nbytesSent and seconds; everything else goes to standard error.\n" +
        std::string(kExitStatuses));

    return upgrade;
}

CLI::App* AddClassifyCommand(CLI::App& app, std::vector<std::string>& files) {
    CLI::App* classify =
        app.add_subcommand("classify", "Tell which upgrade the files are, as Open files does");
    classify->add_option("files", files, "Files to classify")->option_text("FILE...")->required();
    return classify;
}

struct PackageOptions {
    bool web = false;
    bool logo = false;
    std::string out;
    std::vector<std::string> files;
};

CLI::App* AddPackageCommand(CLI::App& app, PackageOptions& o) {
    CLI::App* package = app.add_subcommand("package", "Build the package a web or logo upgrade sends");
    auto* webFlag = package->add_flag("--web", o.web, "A package of web pages");
    auto* logoFlag = package->add_flag("--logo", o.logo, "A package of logo bitmaps");
    webFlag->excludes(logoFlag);
    package->add_option("out", o.out, "Package file to write")->option_text("OUT")->required();
    package->add_option("files", o.files, "Web pages or logo bitmaps (at most 10)")
        ->option_text("FILE...")
        ->required();
    return package;
}

struct MacOptions {
    std::string host;
    uint32_t port = 37777;
    uint32_t value = 0;
};

CLI::App* AddMacCommand(CLI::App& app, MacOptions& o) {
    CLI::App* mac = app.add_subcommand("mac", "Send the MAC value service command to a recorder");
    mac->add_option("--host", o.host, "Recorder")->option_text("ADDR[:PORT]")->required();
    mac->add_option("--port", o.port, "Port when --host names none")
        ->option_text("PORT [37777]")
        ->check(CLI::Range(1u, 65535u));
    mac->add_option("--value", o.value, "The value, 0 to 4294967295")->option_text("N")->required();
    return mac;
}

} // namespace

int Run(int argc, char** argv);

int main(int argc, char** argv) {
    const int status = Run(argc, argv);
    // Connections given up are closed by their own threads; the program ends when they have
    // finished (a reset sent, a thread ended), not in the middle of it.
    Zorvik::CNetSocketCore::WaitForLiveObjects(0, 5000);
    return status;
}

int Run(int argc, char** argv) {
    CLI::App app(kDescription, "kestrion-cli");
    app.footer(std::string(kExitStatuses) + kExamples);
    app.set_version_flag("--version", "kestrion-cli " KST_VERSION);
    app.require_subcommand(1);
    app.get_formatter()->column_width(34);

    UpgradeOptions up;
    CLI::App* upgrade = AddUpgradeCommand(app, up);
    std::vector<std::string> classifyFiles;
    CLI::App* classify = AddClassifyCommand(app, classifyFiles);
    PackageOptions pkg;
    CLI::App* package = AddPackageCommand(app, pkg);
    MacOptions macOptions;
    CLI::App* mac = AddMacCommand(app, macOptions);

    if (const auto status = cli::ParseCommandLine(app, argc, argv, ExitCode(KestrionStatus::Usage))) {
        return *status;
    }

    try {
        if (*upgrade) {
            if (up.password.ArgumentGiven()) {
                return Refuse(cli::kPasswordArgumentRefused);
            }
            return Upgrade(up);
        }
        if (*classify) {
            return Classify(classifyFiles);
        }
        if (*package) {
            if (!pkg.web && !pkg.logo) {
                return Refuse("package: say --web or --logo");
            }
            return Package(pkg.web, pkg.out, pkg.files);
        }
        if (*mac) {
            return Mac(ParseRecorder(macOptions.host, macOptions.port), macOptions.value);
        }
    } catch (const UsageError& e) {
        return Refuse(e.text);
    } catch (const std::exception& e) {
        std::cerr << "kestrion-cli: " << e.what() << "\n";
        return ExitCode(KestrionStatus::Internal);
    }
    return ExitCode(KestrionStatus::Usage);
}
