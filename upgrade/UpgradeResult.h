// How an upgrade, a login or a MAC command ended, as a value: front ends decide on this and never
// on the text of a message. The window shows its messages and may ignore the value; the
// command-line tool turns it into an exit status and a JSON field.
#pragma once

#include <cstdint>
#include <string>

enum class UpgradeEnding {
    Success,            // "right", or a progress report of 100 or more
    LoginRefused,       // the recorder refused the name or password
    NoLoginReply,       // the recorder did not answer the login (decided by the front end's wait)
    ConnectFailed,      // no connection to the recorder
    FileRefused,        // the chosen files cannot be sent (unreadable, of no known kind, ...)
    PackageFailed,      // the web or logo package was not built, so there is nothing to open
    SendFailed,         // a packet did not go out, or a file was not sent whole
    RecorderError,      // the recorder answered "error"
    NoVerdict,          // neither success nor "error" within the verdict wait
    Stopped,            // the session was ended (window closed, program stopped) before the end
    NoConnectionObject, // the connection object could not be made
};

// The word for an ending in reports meant for scripts ("success", "recorder-error", ...).
const char* EndingWord(UpgradeEnding ending);

struct UpgradeResult {
    UpgradeEnding ending = UpgradeEnding::Stopped;
    // The recorder's last progress report (as reported, before it is shown as at most 100); -1
    // when none came during this upgrade.
    int lastPercent = -1;
    // File bytes that went out in this upgrade, over all its files.
    int64_t bytesSent = 0;
    // The message shown for this ending, empty when none was; for display only.
    std::string message;
};
