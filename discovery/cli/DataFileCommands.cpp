#include "discovery/cli/DataFileCommands.h"

#include "clientstore/ClientDataFile.h"
#include "clientstore/ClientStore.h"
#include "clientstore/DeviceRegistration.h"
#include "discovery/cli/PrintError.h"
#include "support/cli/TextTable.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <iostream>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

// Why the data file cannot be used, or empty. A missing file is a new, empty one when
// `mayBeNew`; its folder must exist all the same.
std::string DataFileProblem(const std::string& path, bool mayBeNew) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found) {
        if (!mayBeNew) {
            return path + ": no such file";
        }
        fs::path folder = fs::path(path).parent_path();
        if (folder.empty()) {
            folder = ".";
        }
        if (!fs::is_directory(folder, error)) {
            return "the folder of " + path + " does not exist";
        }
        return {};
    }
    if (error) {
        return path + ": " + error.message();
    }
    if (status.type() != fs::file_type::regular) {
        return path + " is not a file";
    }
    return {};
}

// Opens the process-wide data file at `path` (for reading only, or to change it); empty when it
// can be used, else why not.
std::string LoadDataFile(const std::string& path, bool readOnly) {
    ClientDataFile::setPath(path);
    ClientDataFile::setReadOnly(readOnly);
    ClientDataFile* file = ClientDataFile::instance();
    if (!file->loadedWhole()) {
        return "the data file " + path + " cannot be used: " + file->loadError() + "; it is left as it is";
    }
    return {};
}

DeviceSettings SettingsOf(const RegisterOptions& options) {
    DeviceSettings settings;
    settings.name = options.name;
    settings.userName = options.user;
    settings.password = options.password;
    settings.channelCount = options.channels;
    settings.orgId = options.orgId;
    settings.cameraTypes.assign(options.cameraTypes.begin(), options.cameraTypes.end());
    return settings;
}

// The refusal as this tool says it: the window's text, with the option at fault or the limit.
std::string Described(const RegistrationRefusal& refusal) {
    if (refusal.field == RegistrationField::CameraTypes) {
        return "--camera-types: " + refusal.text;
    }
    return refusal.detail.empty() ? refusal.text : refusal.text + " (" + refusal.detail + ")";
}

// The devices of the file in its order.
std::vector<DeviceRecord> ReadDevices(ClientDataFile& file) {
    const int count = file.deviceCount();
    std::vector<DeviceRecord> records(static_cast<std::size_t>(count));
    if (count > 0) {
        file.getDevices(records.data(), static_cast<int>(records.size() * sizeof(DeviceRecord)));
    }
    // Only the DEV children are devices; the others (text, comments) left their slots empty.
    XmlNodeRef devinfo = file.section("DEVINFO");
    std::vector<DeviceRecord> devices;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const XmlNodeRef child = devinfo.child(i);
        if (child.kind() == NodeElement && child.name() == "DEV") {
            devices.push_back(records[i]);
        }
    }
    return devices;
}

void PrintDevicesAsText(const std::vector<DeviceRecord>& devices, ListFormat format) {
    const cli::TextRow headings = {"Id",           "Device Name", "Host", "Port", "Total Channel",
                                   "Organization", "User Name"};
    std::vector<cli::TextRow> rows;
    for (const DeviceRecord& d : devices) {
        rows.push_back({std::to_string(d.id), std::string(fieldText(d.name)), std::string(fieldText(d.host)),
                        std::to_string(d.port), std::to_string(d.channelCount), std::to_string(d.orgId),
                        std::string(fieldText(d.username))});
    }
    if (format == ListFormat::Table) {
        std::cout << cli::FormatTable(headings, rows);
    } else {
        std::cout << cli::CsvRecord(headings);
        for (const auto& row : rows) {
            std::cout << cli::CsvRecord(row);
        }
    }
}

void PrintDevicesAsJson(const std::vector<DeviceRecord>& devices) {
    // Never the password: the listing is for reading and passing on, the file keeps it.
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const DeviceRecord& d : devices) {
        list.push_back({{"id", d.id},
                        {"name", std::string(fieldText(d.name))},
                        {"host", std::string(fieldText(d.host))},
                        {"port", d.port},
                        {"channels", d.channelCount},
                        {"orgId", d.orgId},
                        {"username", std::string(fieldText(d.username))}});
    }
    std::cout << list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
}

} // namespace

std::string RegisterRefusal(RegisterOptions& options) {
    DeviceSettings settings = SettingsOf(options);
    const auto refusal = checkDeviceSettings(settings);
    options.name = settings.name;
    return refusal ? Described(*refusal) : std::string();
}

PelloryStatus Register(const RegisterOptions& options) {
    if (const std::string problem = DataFileProblem(options.dataFile, true); !problem.empty()) {
        PrintError(problem);
        return PelloryStatus::DataFileUnusable;
    }
    if (const std::string problem = LoadDataFile(options.dataFile, false); !problem.empty()) {
        PrintError(problem);
        ClientDataFile::release();
        return PelloryStatus::DataFileUnusable;
    }
    // Released whatever happens below, without saving, as the window does when it closes.
    struct Release {
        ~Release() { ClientStore::release(); }
    } release;
    ClientStore* store = ClientStore::instance();
    store->setMessageFunction([](const std::string& text) { PrintError(text); });
    store->load();

    const RegistrationResult result = registerDevices(SettingsOf(options), {{options.host, options.port}});
    switch (result.outcome) {
    case RegistrationOutcome::Registered:
        break;
    case RegistrationOutcome::Invalid:
        PrintError(Described(*result.refusal));
        return PelloryStatus::Usage;
    case RegistrationOutcome::UnknownOrganisation:
        // The store refuses such a device without a word; here the user must hear of it.
        PrintError("the data file has no organisation " + std::to_string(options.orgId));
        return PelloryStatus::DeviceRefused;
    case RegistrationOutcome::StoreRefused:
        return PelloryStatus::DeviceRefused; // the store has said why
    case RegistrationOutcome::LostDevice:
        PrintError("the device was stored under an id the store does not know; nothing was saved");
        return PelloryStatus::Internal;
    case RegistrationOutcome::SaveFailed:
        PrintError("The data file " + options.dataFile + " could not be saved! (" +
                   ClientDataFile::instance()->saveError() + ")");
        return PelloryStatus::SaveFailed;
    }
    std::cout << "Registered \"" << options.name << "\" (" << options.host << ":" << options.port << ", "
              << options.channels << " channels) as device " << result.ids.front() << " in "
              << options.dataFile << "." << std::endl;
    return PelloryStatus::Success;
}

PelloryStatus Devices(const std::string& dataFile, ListFormat format) {
    if (const std::string problem = DataFileProblem(dataFile, false); !problem.empty()) {
        PrintError(problem);
        return PelloryStatus::DataFileUnusable;
    }
    struct Release {
        ~Release() { ClientDataFile::release(); }
    } release;
    if (const std::string problem = LoadDataFile(dataFile, true); !problem.empty()) {
        PrintError(problem);
        return PelloryStatus::DataFileUnusable;
    }
    const std::vector<DeviceRecord> devices = ReadDevices(*ClientDataFile::instance());
    if (format == ListFormat::Json) {
        PrintDevicesAsJson(devices);
    } else {
        PrintDevicesAsText(devices, format);
    }
    std::cout.flush();
    return PelloryStatus::Success;
}
