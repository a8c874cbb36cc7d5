// Exit statuses of kestrion-cli, one for each kind of failure, so that a script can tell them
// apart. The manual page and --help list them; keep the three in step.
#pragma once

#include "upgrade/UpgradeResult.h"

enum class KestrionStatus : int {
    Success = 0,
    Internal = 1,       // an unexpected failure inside the tool
    Usage = 2,          // bad options or arguments; nothing was sent and no file changed
    FileRefused = 3,    // not an upgrade file, files of different kinds, too many, unreadable
    PackageFailed = 4,  // the web or logo package could not be built
    ConnectFailed = 5,  // "Connect ... failed!": no connection to the recorder
    LoginRefused = 6,   // "Login failed!"
    NoLoginReply = 7,   // the recorder did not answer the login in time
    SendFailed = 8,     // "Send data error" or "Send Data Error", or a file not sent whole
    NoVerdict = 9,      // the recorder gave no verdict within the wait
    RecorderError = 10, // the recorder answered "error" and gave no success after it
    MixedFailures = 11, // several recorders failed in different ways (the table tells which)
    Interrupted = 130,  // stopped by a signal; the program ends with 128 + its number
};

inline int ExitCode(KestrionStatus status) {
    return static_cast<int>(status);
}

// A few words for the summary table.
inline const char* StatusWords(KestrionStatus status) {
    switch (status) {
    case KestrionStatus::Success:
        return "upgraded";
    case KestrionStatus::Internal:
        return "internal failure";
    case KestrionStatus::Usage:
        return "usage error";
    case KestrionStatus::FileRefused:
        return "file refused";
    case KestrionStatus::PackageFailed:
        return "package not built";
    case KestrionStatus::ConnectFailed:
        return "cannot connect";
    case KestrionStatus::LoginRefused:
        return "login refused";
    case KestrionStatus::NoLoginReply:
        return "no login reply";
    case KestrionStatus::SendFailed:
        return "send failed";
    case KestrionStatus::NoVerdict:
        return "no verdict in time";
    case KestrionStatus::RecorderError:
        return "recorder answered error";
    case KestrionStatus::MixedFailures:
        return "several failures";
    case KestrionStatus::Interrupted:
        return "interrupted";
    }
    return "unknown";
}

// The word for a status in the JSON report: stable for scripts.
inline const char* StatusWord(KestrionStatus status) {
    switch (status) {
    case KestrionStatus::Success:
        return "success";
    case KestrionStatus::Internal:
        return "internal";
    case KestrionStatus::Usage:
        return "usage";
    case KestrionStatus::FileRefused:
        return "file-refused";
    case KestrionStatus::PackageFailed:
        return "package-failed";
    case KestrionStatus::ConnectFailed:
        return "connect-failed";
    case KestrionStatus::LoginRefused:
        return "login-refused";
    case KestrionStatus::NoLoginReply:
        return "no-login-reply";
    case KestrionStatus::SendFailed:
        return "send-failed";
    case KestrionStatus::NoVerdict:
        return "no-verdict";
    case KestrionStatus::RecorderError:
        return "recorder-error";
    case KestrionStatus::MixedFailures:
        return "mixed-failures";
    case KestrionStatus::Interrupted:
        return "interrupted";
    }
    return "unknown";
}

// The exit status of an ending. The only place an ending becomes a status: what a message says
// never enters into it.
inline KestrionStatus StatusOf(UpgradeEnding ending) {
    switch (ending) {
    case UpgradeEnding::Success:
        return KestrionStatus::Success;
    case UpgradeEnding::LoginRefused:
        return KestrionStatus::LoginRefused;
    case UpgradeEnding::NoLoginReply:
        return KestrionStatus::NoLoginReply;
    case UpgradeEnding::ConnectFailed:
        return KestrionStatus::ConnectFailed;
    case UpgradeEnding::FileRefused:
        return KestrionStatus::FileRefused;
    case UpgradeEnding::PackageFailed:
        return KestrionStatus::PackageFailed;
    case UpgradeEnding::SendFailed:
        return KestrionStatus::SendFailed;
    case UpgradeEnding::RecorderError:
        return KestrionStatus::RecorderError;
    case UpgradeEnding::NoVerdict:
        return KestrionStatus::NoVerdict;
    case UpgradeEnding::Stopped:
        return KestrionStatus::Interrupted;
    case UpgradeEnding::NoConnectionObject:
        return KestrionStatus::Internal;
    }
    return KestrionStatus::Internal;
}
