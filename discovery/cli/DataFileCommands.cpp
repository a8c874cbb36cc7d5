#include "discovery/cli/DataFileCommands.h"

#include "clientstore/ClientDataFile.h"
#include "clientstore/ClientStore.h"
#include "support/cli/TextTable.h"

#include <nlohmann/json.hpp>

#include <array>
#include <filesystem>
#include <iostream>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

constexpr int kMostChannels = 16;

void Error(const std::string& text) {
    std::cout.flush();
    std::cerr << "pellory-cli: " << text << std::endl;
}

std::string Trimmed(const std::string& text) {
    const char* const blanks = " \t\r\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

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

} // namespace

std::string RegisterRefusal(RegisterOptions& options) {
    options.name = Trimmed(options.name);
    if (options.name.empty()) {
        return "Device Name is invalid!";
    }
    if (options.channels < 1 || options.channels > kMostChannels) {
        return "The channel's number must be between 1 and 16!";
    }
    // Each text field of the record holds 63 bytes; a longer text would be stored cut short,
    // and a device registered under a name or credentials other than those given is no use.
    const std::pair<const char*, const std::string*> texts[] = {
        {"device name", &options.name}, {"user name", &options.user}, {"password", &options.password}};
    for (const auto& [what, text] : texts) {
        if (text->size() >= kRecordTextSize) {
            return std::string("the ") + what + " is longer than " + std::to_string(kRecordTextSize - 1) +
                   " bytes";
        }
    }
    // The password is stored enciphered; the other texts are stored as written.
    for (const auto& [what, text] : {texts[0], texts[1]}) {
        const std::string_view why = ClientDataFile::whyNotStorable(*text);
        if (!why.empty()) {
            return std::string("the ") + what + " cannot be stored in the data file: it " + std::string(why);
        }
    }
    if (options.cameraTypes.size() > static_cast<std::size_t>(options.channels)) {
        return "--camera-types gives " + std::to_string(options.cameraTypes.size()) + " types for " +
               std::to_string(options.channels) + " channels";
    }
    for (int type : options.cameraTypes) {
        if (type != 0 && type != 1) {
            return "--camera-types: each type is 0 (normal camera) or 1 (speed dome)";
        }
    }
    return {};
}

PelloryStatus Register(const RegisterOptions& options) {
    if (const std::string problem = DataFileProblem(options.dataFile, true); !problem.empty()) {
        Error(problem);
        return PelloryStatus::DataFileUnusable;
    }
    if (const std::string problem = LoadDataFile(options.dataFile, false); !problem.empty()) {
        Error(problem);
        ClientDataFile::release();
        return PelloryStatus::DataFileUnusable;
    }
    // Released whatever happens below, without saving, as the window does when it closes.
    struct Release {
        ~Release() { ClientStore::release(); }
    } release;
    ClientStore* store = ClientStore::instance();
    store->setMessageFunction([](const std::string& text) { Error(text); });
    store->load();
    if (store->organisations().find(options.orgId) == store->organisations().end()) {
        // The store refuses such a device without a word; here the user must hear of it.
        Error("the data file has no organisation " + std::to_string(options.orgId));
        return PelloryStatus::DeviceRefused;
    }

    DeviceRecord record{};
    copyToField(record.name, options.name);
    copyToField(record.host, options.host);
    copyToField(record.username, options.user);
    copyToField(record.password, options.password);
    record.channelCount = options.channels;
    record.port = options.port;
    record.orgId = options.orgId;

    const std::uint32_t id = store->addDevice(record);
    if (id == 0) {
        return PelloryStatus::DeviceRefused; // the store has said why
    }
    if (store->devices().find(id) == store->devices().end()) {
        Error("the device was stored under an id the store does not know; nothing was saved");
        return PelloryStatus::Internal;
    }
    std::array<std::int32_t, kMostChannels> types{};
    for (std::size_t i = 0; i < options.cameraTypes.size(); ++i) {
        types[i] = options.cameraTypes[i];
    }
    ClientDataFile* file = ClientDataFile::instance();
    file->setCameraTypes(id, types.data(), options.channels);
    if (!file->save()) {
        Error("The data file " + options.dataFile + " could not be saved! (" + file->saveError() + ")");
        return PelloryStatus::SaveFailed;
    }
    std::cout << "Registered \"" << options.name << "\" (" << options.host << ":" << options.port << ", "
              << options.channels << " channels) as device " << id << " in " << options.dataFile << "."
              << std::endl;
    return PelloryStatus::Success;
}

PelloryStatus Devices(const std::string& dataFile, ListFormat format) {
    if (const std::string problem = DataFileProblem(dataFile, false); !problem.empty()) {
        Error(problem);
        return PelloryStatus::DataFileUnusable;
    }
    struct Release {
        ~Release() { ClientDataFile::release(); }
    } release;
    if (const std::string problem = LoadDataFile(dataFile, true); !problem.empty()) {
        Error(problem);
        return PelloryStatus::DataFileUnusable;
    }
    ClientDataFile* file = ClientDataFile::instance();
    const int count = file->deviceCount();
    std::vector<DeviceRecord> records(static_cast<std::size_t>(count));
    if (count > 0) {
        file->getDevices(records.data(), static_cast<int>(records.size() * sizeof(DeviceRecord)));
    }
    // Only the DEV children are devices; the others (text, comments) left their slots empty.
    XmlNodeRef devinfo = file->section("DEVINFO");
    std::vector<const DeviceRecord*> devices;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const XmlNodeRef child = devinfo.child(i);
        if (child.kind() == NodeElement && child.name() == "DEV") {
            devices.push_back(&records[i]);
        }
    }

    switch (format) {
    case ListFormat::Table:
    case ListFormat::Csv: {
        const cli::TextRow headings = {"Id",           "Device Name", "Host", "Port", "Total Channel",
                                       "Organization", "User Name"};
        std::vector<cli::TextRow> rows;
        for (const DeviceRecord* d : devices) {
            rows.push_back({std::to_string(d->id), std::string(fieldText(d->name)),
                            std::string(fieldText(d->host)), std::to_string(d->port),
                            std::to_string(d->channelCount), std::to_string(d->orgId),
                            std::string(fieldText(d->username))});
        }
        if (format == ListFormat::Table) {
            std::cout << cli::FormatTable(headings, rows);
        } else {
            std::cout << cli::CsvRecord(headings);
            for (const auto& row : rows) {
                std::cout << cli::CsvRecord(row);
            }
        }
        break;
    }
    case ListFormat::Json: {
        // Never the password: the listing is for reading and passing on, the file keeps it.
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const DeviceRecord* d : devices) {
            list.push_back({{"id", d->id},
                            {"name", std::string(fieldText(d->name))},
                            {"host", std::string(fieldText(d->host))},
                            {"port", d->port},
                            {"channels", d->channelCount},
                            {"orgId", d->orgId},
                            {"username", std::string(fieldText(d->username))}});
        }
        std::cout << list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
        break;
    }
    }
    std::cout.flush();
    return PelloryStatus::Success;
}
