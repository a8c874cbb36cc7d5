#include "clientstore/DeviceRegistration.h"

#include "clientstore/ClientDataFile.h"
#include "clientstore/ClientStore.h"

#include <algorithm>
#include <array>

namespace {

// The blanks a text box trims, as UTF-8: the ASCII white space, NEL, the no-break space and
// the other Unicode space, line and paragraph separators.
constexpr std::string_view kBlanks[] = {
    "\t",           "\n",           "\v",           "\f",           "\r",           " ",
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",
    "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
    "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
    "\xE3\x80\x80",
};

// The length of the blank that `text` begins with (or, `atEnd`, ends with); 0 for none.
std::size_t blankAt(std::string_view text, bool atEnd) {
    for (const std::string_view blank : kBlanks) {
        if (atEnd ? text.ends_with(blank) : text.starts_with(blank)) {
            return blank.size();
        }
    }
    return 0;
}

std::size_t decimalDigits(std::size_t n) {
    std::size_t digits = 1;
    for (; n >= 10; n /= 10) {
        ++digits;
    }
    return digits;
}

RegistrationRefusal refuse(RegistrationField field, std::string text, std::string detail = {}) {
    return RegistrationRefusal{field, std::move(text), std::move(detail)};
}

// Each text must fit its record field whole: a device stored under a name or credentials cut
// short could not be found or logged in to.
std::optional<RegistrationRefusal> tooLong(const DeviceSettings& settings, std::size_t recorders) {
    const std::size_t nameRoom =
        settings.numbered ? kMaxRecordTextBytes - decimalDigits(std::max<std::size_t>(recorders, 1))
                          : kMaxRecordTextBytes;
    const struct {
        RegistrationField field;
        const std::string& text;
        std::size_t room;
        const char* message;
    } texts[] = {
        {RegistrationField::DeviceName, settings.name, nameRoom, "Device Name is too long!"},
        {RegistrationField::UserName, settings.userName, kMaxRecordTextBytes, "User Name is too long!"},
        {RegistrationField::Password, settings.password, kMaxRecordTextBytes, "Password is too long!"},
    };
    for (const auto& t : texts) {
        if (t.text.size() > t.room) {
            return refuse(t.field, t.message, "longer than " + std::to_string(t.room) + " bytes");
        }
    }
    return std::nullopt;
}

// The name and user name are written as they are; the password is enciphered.
std::optional<RegistrationRefusal> unstorable(const DeviceSettings& settings) {
    const std::pair<RegistrationField, const std::string&> texts[] = {
        {RegistrationField::DeviceName, settings.name}, {RegistrationField::UserName, settings.userName}};
    for (const auto& [field, text] : texts) {
        if (const std::string_view why = ClientDataFile::whyNotStorable(text); !why.empty()) {
            const char* label = field == RegistrationField::DeviceName ? "Device Name" : "User Name";
            return refuse(field, std::string(label) + " cannot be stored in the data file: it " +
                                     std::string(why) + ".");
        }
    }
    return std::nullopt;
}

std::optional<RegistrationRefusal> badCameraTypes(const DeviceSettings& settings) {
    const std::size_t given = settings.cameraTypes.size();
    if (given > static_cast<std::size_t>(settings.channelCount)) {
        return refuse(RegistrationField::CameraTypes,
                      "Too many camera types: " + std::to_string(given) + " types for " +
                          std::to_string(settings.channelCount) + " channels");
    }
    for (const std::int32_t type : settings.cameraTypes) {
        if (type != kNormalCamera && type != kSpeedDome) {
            return refuse(RegistrationField::CameraTypes,
                          "Unknown camera type " + std::to_string(type) +
                              ": each type is 0 (normal camera) or 1 (speed dome)");
        }
    }
    return std::nullopt;
}

} // namespace

std::string trimBlanks(std::string_view text) {
    while (const std::size_t n = blankAt(text, false)) {
        text.remove_prefix(n);
    }
    while (const std::size_t n = blankAt(text, true)) {
        text.remove_suffix(n);
    }
    return std::string(text);
}

std::optional<RegistrationRefusal> checkDeviceSettings(DeviceSettings& settings, std::size_t recorders) {
    settings.name = trimBlanks(settings.name);
    if (settings.name.empty()) {
        return refuse(RegistrationField::DeviceName, "Device Name is invalid!");
    }
    if (settings.channelCount < kFewestChannels || settings.channelCount > kMostChannels) {
        return refuse(RegistrationField::ChannelCount, "The channel's number must be between 1 and 16!");
    }
    if (auto refusal = tooLong(settings, recorders)) {
        return refusal;
    }
    if (auto refusal = unstorable(settings)) {
        return refusal;
    }
    return badCameraTypes(settings);
}

namespace {

DeviceRecord recordFor(const DeviceSettings& settings, const RecorderAddress& recorder, std::size_t counter) {
    DeviceRecord record{};
    copyToField(record.name, settings.numbered ? settings.name + std::to_string(counter) : settings.name);
    copyToField(record.host, recorder.host);
    copyToField(record.username, settings.userName);
    copyToField(record.password, settings.password);
    record.channelCount = settings.channelCount;
    record.port = recorder.port;
    record.orgId = settings.orgId;
    return record;
}

} // namespace

RegistrationResult registerDevices(const DeviceSettings& given,
                                   const std::vector<RecorderAddress>& recorders) {
    RegistrationResult result;
    DeviceSettings settings = given;
    if ((result.refusal = checkDeviceSettings(settings, recorders.size()))) {
        result.outcome = RegistrationOutcome::Invalid;
        return result;
    }
    ClientStore* store = ClientStore::instance();
    // The store refuses such a device without a word; the caller decides whether to tell.
    if (store->organisations().find(settings.orgId) == store->organisations().end()) {
        result.outcome = RegistrationOutcome::UnknownOrganisation;
        return result;
    }
    std::array<std::int32_t, kMostChannels> types{};
    std::copy(settings.cameraTypes.begin(), settings.cameraTypes.end(), types.begin());

    ClientDataFile* file = ClientDataFile::instance();
    std::size_t counter = 1;
    for (const RecorderAddress& recorder : recorders) {
        // A device the store refuses has been explained by the store itself.
        const std::uint32_t id = store->addDevice(recordFor(settings, recorder, counter++));
        if (id == 0) {
            continue;
        }
        if (store->devices().find(id) == store->devices().end()) {
            result.outcome = RegistrationOutcome::LostDevice;
            return result;
        }
        file->setCameraTypes(id, types.data(), settings.channelCount);
        result.ids.push_back(id);
    }
    // Nothing added leaves the file as it was; a save that fails must not pass for done.
    if (result.ids.empty()) {
        result.outcome = RegistrationOutcome::StoreRefused;
    } else {
        result.outcome = file->save() ? RegistrationOutcome::Registered : RegistrationOutcome::SaveFailed;
    }
    return result;
}
