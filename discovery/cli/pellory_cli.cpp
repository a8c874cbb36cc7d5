// pellory-cli: the discovery tool for scripts and whole sites. It uses the same discovery engine
// and data store as the Pellory window and shows the same messages: scan lists what the window's
// list shows, set-ip is its Modify IP command, register is its registration dialogs.

#include "discovery/BroadcastInterfaces.h"
#include "discovery/cli/AssignCommand.h"
#include "discovery/cli/DataFileCommands.h"
#include "discovery/cli/NetworkCommands.h"
#include "discovery/cli/PelloryStatus.h"
#include "support/cli/CliOptions.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <fstream>
#include <iostream>
#include <map>
#include <tuple>
#include <utility>

namespace {

const char* const kDescription =
    "pellory-cli finds digital video recorders on the local network, changes their addresses and\n"
    "registers them in the surveillance client's data file, with the discovery engine, data store\n"
    "and messages of the Pellory window.\n";

const char* const kExitStatuses =
    "\nExit status:\n"
    "   0  success\n"
    "   1  an unexpected failure inside the tool\n"
    "   2  bad options or arguments (nothing was sent, no file changed)\n"
    "   3  the discovery socket could not be opened, or a request not sent\n"
    "   4  no recorder with that MAC address answered\n"
    "   5  the recorder refused the login\n"
    "   6  no answer to the login in time (\"It is ouvertime.\")\n"
    "   7  the recorder refused the new address\n"
    "   8  no answer to the modify-IP request in time\n"
    "   9  the data file is missing, unreadable, broken or not XML, in use by\n"
    "      another program, or its folder missing\n"
    "  10  the data store refused the device\n"
    "  11  the data file could not be saved\n"
    "  12  assign: not every recorder took its new address (the results say\n"
    "      which did)\n"
    " 130  assign stopped by Ctrl-C before the next recorder (128 + the signal)\n";

const char* const kExamples =
    "\nExamples:\n"
    "  pellory-cli scan --format csv > recorders.csv\n"
    "  pellory-cli scan --address 192.168.1.108 --interface eth0\n"
    "  pellory-cli set-ip --mac 00:12:34:56:78:9A --user admin --password-file pw.txt \\\n"
    "      --ip 192.168.1.120 --mask 255.255.255.0 --gateway 192.168.1.1\n"
    "  pellory-cli assign --mac 00:12:34:56:78:9A --mac 00:12:34:56:78:9B --first-ip 192.168.1.120 \\\n"
    "      --mask 255.255.255.0 --gateway 192.168.1.1 --user admin --password-file pw.txt\n"
    "  pellory-cli assign --plan site.csv --mask 255.255.255.0 --user admin --password-env DVR_PASSWORD\n"
    "  pellory-cli register --data XML/Data.xml --ip 192.168.1.120 --port 37777 \\\n"
    "      --name Lobby --user admin --password-env DVR_PASSWORD --channels 4\n"
    "  pellory-cli devices --data XML/Data.xml --format json\n";

using cli::UsageError;

int Refuse(const std::string& text) {
    return cli::Refuse("pellory-cli", text, ExitCode(PelloryStatus::Usage));
}

std::uint32_t Ipv4Option(const std::string& option, const std::string& text) {
    const auto address = parseIpv4(text);
    if (!address) {
        throw UsageError{option + " " + text + ": not a dotted IPv4 address"};
    }
    return *address;
}

const std::map<std::string, ListFormat> kFormats = {
    {"table", ListFormat::Table}, {"csv", ListFormat::Csv}, {"json", ListFormat::Json}};

std::chrono::milliseconds Milliseconds(double seconds) {
    return std::chrono::milliseconds(std::llround(seconds * 1000));
}

// ADDR[:PORT] of --target and --address; the port is 5050 unless given.
std::pair<std::uint32_t, std::uint16_t> EndpointOption(const std::string& option, const std::string& text) {
    const auto colon = text.find(':');
    const std::uint32_t address = Ipv4Option(option, text.substr(0, colon));
    if (colon == std::string::npos) {
        return {address, DISCOVERY_PORT};
    }
    const auto port = cli::PortNumber(text.substr(colon + 1));
    if (!port) {
        throw UsageError{option + " " + text + ": the port must be a number from 1 to 65535"};
    }
    return {address, *port};
}

// The address of one host: neither unset, nor a broadcast, nor a multicast group (224.0.0.0 and
// above, the limited broadcast included).
bool IsOneHost(std::uint32_t address) {
    return address != 0 && address < 0xE0000000u;
}

// --target, --address, --bind-port and --interface of scan and set-ip.
struct EndpointOptions {
    std::string target = "255.255.255.255:5050";
    std::string address;
    std::uint16_t bindPort = DISCOVERY_PORT;
    std::string interfaceName;
    CLI::Option* targetOption = nullptr;
    CLI::Option* addressOption = nullptr;

    void AddTo(CLI::App& command) {
        targetOption = command.add_option("--target", target, "Where requests go")
                           ->option_text("ADDR[:PORT] [255.255.255.255:5050]");
        addressOption =
            command
                .add_option("--address", address,
                            "Send straight to this one recorder (a unicast,\nfor a recorder on another "
                            "subnet); not with --target")
                ->option_text("A[:PORT] [5050]");
        command.add_option("--bind-port", bindPort, "Port replies are taken in on; 0 takes any free port")
            ->option_text("PORT [5050]");
        command
            .add_option("--interface", interfaceName,
                        "Send through this network interface only\n(with --address: to that address "
                        "on its link)")
            ->option_text("NAME [every one]");
    }

    DiscoveryEndpoint Parse() const {
        DiscoveryEndpoint endpoint;
        if (addressOption->count() > 0) {
            // Both name where every request goes; taking one over the other would send somewhere
            // the technician did not mean.
            if (targetOption->count() > 0) {
                throw UsageError{"--address and --target both say where requests go: give one of them"};
            }
            std::tie(endpoint.target, endpoint.targetPort) = EndpointOption("--address", address);
            if (!IsOneHost(endpoint.target)) {
                throw UsageError{"--address " + address +
                                 ": not the address of one recorder (without --address the search is "
                                 "broadcast)"};
            }
        } else {
            std::tie(endpoint.target, endpoint.targetPort) = EndpointOption("--target", target);
        }
        endpoint.bindPort = bindPort;
        // Only an interface that is up, can broadcast and has an address carries the requests;
        // another name would leave every request unsent.
        if (!interfaceName.empty() && !findInterface(broadcastInterfaces(), interfaceName)) {
            std::string names;
            for (const BroadcastInterface& i : broadcastInterfaces()) {
                names += (names.empty() ? "" : ", ") + i.name;
            }
            throw UsageError{"--interface " + interfaceName +
                             ": no interface of that name is up and able to broadcast (those that are: " +
                             (names.empty() ? "none" : names) + ")"};
        }
        endpoint.interfaceName = interfaceName;
        return endpoint;
    }
};

// The password of a command that logs in, or a usage error saying why there is none.
std::string ReadPassword(const cli::PasswordOptions& options, const std::string& user) {
    if (options.ArgumentGiven()) {
        throw UsageError{cli::kPasswordArgumentRefused};
    }
    const cli::PasswordReading reading = cli::ReadPassword(options.source, "Password for " + user + ": ");
    if (!reading.ok) {
        throw UsageError{reading.error};
    }
    return reading.password;
}

// The options of assign as given.
struct AssignCommandLine {
    EndpointOptions endpoint;
    std::vector<std::string> macs;
    std::string firstIp, planFile, mask, gateway, user, format = "table";
    double timeout = 5, scanTime = 3;
    cli::PasswordOptions password;
    CLI::Option* macOption = nullptr;
    CLI::Option* firstOption = nullptr;
    CLI::Option* planOption = nullptr;

    CLI::App* command = nullptr;

    void AddTo(CLI::App& app, const CLI::IsMember& formats) {
        command = app.add_subcommand("assign", "Give many recorders new addresses in one run");
        endpoint.AddTo(*command);
        macOption = command->add_option("--mac", macs, "A recorder to number (repeat, in numbering order)")
                        ->option_text("MAC ...");
        firstOption = command
                          ->add_option("--first-ip", firstIp,
                                       "Address of the first --mac recorder;\n"
                                       "addresses in use are passed over")
                          ->option_text("A");
        planOption = command
                         ->add_option("--plan", planFile,
                                      "CSV file with the header mac,ip,mask,gateway\n"
                                      "(blank mask, gateway: the options')")
                         ->option_text("FILE");
        command->add_option("--mask", mask, "Subnet mask of the new addresses")->option_text("M");
        command->add_option("--gateway", gateway, "Default gateway of the new addresses")->option_text("G");
        command->add_option("--user", user, "User name to log in with")->option_text("NAME")->required();
        password.AddTo(*command);
        command->add_option("--timeout", timeout, "Limit for each recorder: its login and answer")
            ->option_text("SECONDS [5]")
            ->check(CLI::Range(0.05, 3600.0));
        command->add_option("--scan-time", scanTime, "How long to collect answers to the search first")
            ->option_text("SECONDS [3]")
            ->check(CLI::Range(0.05, 3600.0));
        command->add_option("--format", format, "table, csv or json")
            ->option_text("FORMAT [table]")
            ->check(formats);
    }

    int Run() const { return Assign(Parse()); }

    AssignOptions Parse() const {
        AssignOptions options;
        options.endpoint = endpoint.Parse();
        options.timeout = Milliseconds(timeout);
        options.scanTime = Milliseconds(scanTime);
        options.format = kFormats.at(format);
        options.mask = mask.empty() ? 0 : Ipv4Option("--mask", mask);
        options.gateway = gateway.empty() ? 0 : Ipv4Option("--gateway", gateway);
        const bool byMac = macOption->count() > 0 || firstOption->count() > 0;
        if (byMac == (planOption->count() > 0)) {
            throw UsageError{"give either --mac with --first-ip, or --plan"};
        }
        if (byMac) {
            if (macs.empty() || firstIp.empty()) {
                throw UsageError{"--mac and --first-ip go together"};
            }
            if (options.mask == 0 || options.gateway == 0) {
                throw UsageError{"--first-ip needs --mask and --gateway"};
            }
            options.macs = macs;
            options.firstAddress = Ipv4Option("--first-ip", firstIp);
        } else {
            std::ifstream in(planFile, std::ios::binary);
            if (!in) {
                throw UsageError{"--plan " + planFile + ": cannot be read"};
            }
            options.plan = ReadPlan(in, planFile);
            if (options.plan.empty()) {
                throw UsageError{"--plan " + planFile + ": names no recorder"};
            }
        }
        if (user.empty()) {
            throw UsageError{"User name can not be null!"};
        }
        options.user = user;
        options.password = ReadPassword(password, user);
        return options;
    }
};

// The options of scan as given.
struct ScanCommandLine {
    EndpointOptions endpoint;
    double timeout = 3;
    std::string format = "table";
    CLI::App* command = nullptr;

    void AddTo(CLI::App& app, const CLI::IsMember& formats) {
        command = app.add_subcommand("scan", "List the recorders that answer a search");
        endpoint.AddTo(*command);
        command->add_option("--timeout", timeout, "How long to collect answers")
            ->option_text("SECONDS [3]")
            ->check(CLI::Range(0.05, 3600.0));
        command->add_option("--format", format, "table, csv or json")
            ->option_text("FORMAT [table]")
            ->check(formats);
    }

    int Run() const {
        ScanOptions options;
        options.endpoint = endpoint.Parse();
        options.timeout = Milliseconds(timeout);
        options.format = kFormats.at(format);
        return ExitCode(Scan(options));
    }
};

// The options of set-ip as given.
struct SetIpCommandLine {
    EndpointOptions endpoint;
    double timeout = 5;
    std::string mac, user, ip, mask, gateway;
    cli::PasswordOptions password;
    CLI::App* command = nullptr;

    void AddTo(CLI::App& app) {
        command = app.add_subcommand("set-ip", "Change a recorder's address, mask and gateway");
        endpoint.AddTo(*command);
        command->add_option("--mac", mac, "The recorder's MAC address, as scan lists it")
            ->option_text("MAC")
            ->required();
        command->add_option("--user", user, "User name to log in with")->option_text("NAME")->required();
        password.AddTo(*command);
        command->add_option("--ip", ip, "New IP address")->option_text("A")->required();
        command->add_option("--mask", mask, "New subnet mask")->option_text("M")->required();
        command->add_option("--gateway", gateway, "New default gateway")->option_text("G")->required();
        command->add_option("--timeout", timeout, "Limit of the whole command: search, login and answer")
            ->option_text("SECONDS [5]")
            ->check(CLI::Range(0.05, 3600.0));
    }

    int Run() const {
        SetIpOptions options;
        options.endpoint = endpoint.Parse();
        options.timeout = Milliseconds(timeout);
        options.mac = mac;
        options.address = Ipv4Option("--ip", ip);
        options.mask = Ipv4Option("--mask", mask);
        options.gateway = Ipv4Option("--gateway", gateway);
        if (user.empty()) {
            throw UsageError{"User name can not be null!"};
        }
        if (const char* refusal = ModifyIpRefusal(options.address, options.mask, options.gateway)) {
            throw UsageError{refusal};
        }
        options.user = user;
        options.password = ReadPassword(password, user);
        return ExitCode(SetIp(options));
    }
};

// The options of register as given.
struct RegisterCommandLine {
    RegisterOptions reg;
    std::string ip;
    cli::PasswordOptions password;
    CLI::App* command = nullptr;

    void AddTo(CLI::App& app) {
        command = app.add_subcommand("register", "Enter a recorder in the client's data file");
        command->add_option("--data", reg.dataFile, "The client's data file (Data.xml)")
            ->option_text("FILE")
            ->required();
        command->add_option("--ip", ip, "The recorder's IP address")->option_text("A")->required();
        command->add_option("--port", reg.port, "The recorder's port")
            ->option_text("P")
            ->required()
            ->check(CLI::Range(1u, 65535u));
        command->add_option("--name", reg.name, "Device name, stored as given")
            ->option_text("NAME")
            ->required();
        command->add_option("--user", reg.user, "User name the client logs in with")
            ->option_text("NAME")
            ->required();
        password.AddTo(*command);
        command->add_option("--channels", reg.channels, "Total channels, 1 to 16")
            ->option_text("N")
            ->required();
        command->add_option("--org", reg.orgId, "Organisation id (0, the top level, when not given)")
            ->option_text("ID [0]");
        command
            ->add_option("--camera-types", reg.cameraTypes,
                         "Camera type of each channel from the first:\n0 normal camera, 1 speed dome [all 0]")
            ->option_text("T,T,...")
            ->delimiter(',')
            ->allow_extra_args(false);
    }

    // The record is refused before the password is asked for, and again with it.
    int Run() {
        reg.host = formatIpv4(Ipv4Option("--ip", ip));
        if (std::string refusal = RegisterRefusal(reg); !refusal.empty()) {
            throw UsageError{refusal};
        }
        reg.password = ReadPassword(password, reg.user);
        if (std::string refusal = RegisterRefusal(reg); !refusal.empty()) {
            throw UsageError{refusal};
        }
        return ExitCode(Register(reg));
    }
};

// The options of devices as given.
struct DevicesCommandLine {
    std::string data, format = "table";
    CLI::App* command = nullptr;

    void AddTo(CLI::App& app, const CLI::IsMember& formats) {
        command = app.add_subcommand("devices", "List the devices a data file holds (never their passwords)");
        command->add_option("--data", data, "The client's data file (Data.xml)")
            ->option_text("FILE")
            ->required();
        command->add_option("--format", format, "table, csv or json")
            ->option_text("FORMAT [table]")
            ->check(formats);
    }

    int Run() const { return ExitCode(Devices(data, kFormats.at(format))); }
};

} // namespace

int main(int argc, char** argv) {
    CLI::App app(kDescription, "pellory-cli");
    app.footer(std::string(kExitStatuses) + kExamples);
    app.set_version_flag("--version", "pellory-cli " KST_VERSION);
    app.require_subcommand(1);
    app.get_formatter()->column_width(40);
    const auto format = CLI::IsMember({"table", "csv", "json"});
    // Added in the order the help lists them.
    ScanCommandLine scan;
    scan.AddTo(app, format);
    SetIpCommandLine setIp;
    setIp.AddTo(app);
    AssignCommandLine assign;
    assign.AddTo(app, format);
    RegisterCommandLine registerCommand;
    registerCommand.AddTo(app);
    DevicesCommandLine devices;
    devices.AddTo(app, format);

    if (const auto status = cli::ParseCommandLine(app, argc, argv, ExitCode(PelloryStatus::Usage))) {
        return *status;
    }

    try {
        if (*scan.command) {
            return scan.Run();
        }
        if (*setIp.command) {
            return setIp.Run();
        }
        if (*assign.command) {
            return assign.Run();
        }
        if (*registerCommand.command) {
            return registerCommand.Run();
        }
        if (*devices.command) {
            return devices.Run();
        }
    } catch (const UsageError& e) {
        return Refuse(e.text);
    } catch (const std::exception& e) {
        std::cerr << "pellory-cli: " << e.what() << "\n";
        return ExitCode(PelloryStatus::Internal);
    }
    return ExitCode(PelloryStatus::Usage);
}
