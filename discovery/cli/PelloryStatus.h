// Exit statuses of pellory-cli, one for each kind of failure. The manual page and --help list
// them; keep the three in step.
#pragma once

enum class PelloryStatus : int {
    Success = 0,
    Internal = 1,         // an unexpected failure inside the tool
    Usage = 2,            // bad options or arguments; nothing was sent and no file changed
    Network = 3,          // the discovery socket could not be opened, or a request not sent
    NotFound = 4,         // no recorder with that MAC address answered the search
    LoginRefused = 5,     // the recorder refused the login (or answered "already logged in")
    NoLoginReply = 6,     // "It is ouvertime."
    ModifyRefused = 7,    // "Failed to modify IP address!", "Data irregular!", "Cannot Set!"
    NoModifyAnswer = 8,   // no answer to the modify-IP request in time
    DataFileUnusable = 9, // the data file is missing (devices), unreadable, broken or not XML, in
                          // use by another program (register), or its folder missing
    DeviceRefused = 10,   // the data store refused the device (name or address taken, ...)
    SaveFailed = 11,      // the data file could not be saved
    NotAllChanged = 12,   // assign: one recorder or more kept its address (the results say which)
};

inline int ExitCode(PelloryStatus status) {
    return static_cast<int>(status);
}
