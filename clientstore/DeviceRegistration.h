// Registering recorders in the client's data file: the settings a technician gives (in the
// Device Management dialog or on pellory-cli's command line), the check that refuses them with
// the field at fault and the text to show, and the operation that adds the devices and saves the
// file once. The front ends only present a refusal: the window focuses the field and shows the
// text in a message box, the command line prints it and exits with its status.
#pragma once

#include "clientstore/ClientRecords.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The most a record's text field holds, in bytes (the field keeps one more for its terminator).
inline constexpr std::size_t kMaxRecordTextBytes = kRecordTextSize - 1;
// The most a device name holds when the window appends its row counter (one digit) to it.
inline constexpr std::size_t kMaxNumberedNameBytes = kMaxRecordTextBytes - 1;
inline constexpr std::int32_t kFewestChannels = 1;
inline constexpr std::int32_t kMostChannels = 16;

// Camera type codes of a video channel.
inline constexpr std::int32_t kNormalCamera = 0;
inline constexpr std::int32_t kSpeedDome = 1;

// The settings of the devices about to be registered, as typed.
struct DeviceSettings {
    std::string name;     // UTF-8; checkDeviceSettings trims blanks from both ends
    std::string userName; // UTF-8, stored as typed
    std::string password; // stored enciphered, as typed
    std::int32_t channelCount = 8;
    std::uint32_t orgId = 0;
    // The camera type of each channel from the first; channels without one are normal cameras.
    std::vector<std::int32_t> cameraTypes;
    // The window stores the name followed by the row counter (Gate becomes Gate1); the command
    // line stores it as given.
    bool numbered = false;
};

// What a refusal points at: the dialog field to focus, the option to name.
enum class RegistrationField { DeviceName, UserName, Password, ChannelCount, CameraTypes, Host };

struct RegistrationRefusal {
    RegistrationField field;
    std::string text;   // the message, complete in itself ("Device Name is invalid!")
    std::string detail; // what a tool may add for a script's reader ("longer than 63 bytes"), or empty
};

// Trims the name and checks the settings in the order the dialog's OK does: the name is not
// empty, the channel count is 1 to 16, each text fits its record field (the name with room for
// the counter of the last of `recorders` when numbered), the file can hold the name and user name
// as written, and the camera types are one per channel at most, each a known code.
std::optional<RegistrationRefusal> checkDeviceSettings(DeviceSettings& settings, std::size_t recorders = 1);

// Blanks (as a text box's trimming knows them, Unicode spaces included) cut from both ends.
std::string trimBlanks(std::string_view text);

// A recorder to register, where the search found it.
struct RecorderAddress {
    std::string host; // dotted IPv4, as the window's list shows it
    std::uint32_t port = 0;
};

enum class RegistrationOutcome {
    Registered,          // at least one device was added and the file saved
    Invalid,             // the settings were refused; nothing was touched
    UnknownOrganisation, // the store has no organisation orgId; nothing was touched
    StoreRefused,        // the store refused every device, each with its own message; nothing saved
    LostDevice,          // a device was stored under an id the store does not know; nothing saved
    SaveFailed,          // ClientDataFile::saveError() says why; the file is as it was
};

struct RegistrationResult {
    RegistrationOutcome outcome = RegistrationOutcome::Invalid;
    std::optional<RegistrationRefusal> refusal; // with Invalid
    std::vector<std::uint32_t> ids;             // the devices added, in the order of the recorders
};

// Registers each recorder with the settings through the process-wide ClientStore (loaded by the
// caller): the settings are checked, each device is added with its camera types, a device the
// store refuses is passed over, and the data file is saved once when any device was added.
RegistrationResult registerDevices(const DeviceSettings& settings,
                                   const std::vector<RecorderAddress>& recorders);
