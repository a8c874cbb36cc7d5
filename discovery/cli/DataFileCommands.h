// register and devices: the registration dialogs' record, checks, messages and single save, and
// a listing of what a client data file holds.
#pragma once

#include "discovery/cli/NetworkCommands.h"
#include "discovery/cli/PelloryStatus.h"

#include <cstdint>
#include <string>
#include <vector>

struct RegisterOptions {
    std::string dataFile;
    std::string host; // dotted IPv4, as the window's list shows it
    std::uint32_t port = 0;
    std::string name; // stored as given (blanks at the ends trimmed), without a row counter
    std::string user;
    std::string password;
    int channels = 8;
    std::uint32_t orgId = 0;
    std::vector<int> cameraTypes; // one per channel from the first; the rest are normal cameras
};

// The registration's refusal of the options, as this tool words it (the dialogs' texts), or
// empty when they pass. Trims the name as the dialog does.
std::string RegisterRefusal(RegisterOptions& options);

PelloryStatus Register(const RegisterOptions& options);

PelloryStatus Devices(const std::string& dataFile, ListFormat format);
