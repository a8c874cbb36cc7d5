#include "upgrade/UpgradeResult.h"

const char* EndingWord(UpgradeEnding ending) {
    switch (ending) {
    case UpgradeEnding::Success:
        return "success";
    case UpgradeEnding::LoginRefused:
        return "login-refused";
    case UpgradeEnding::NoLoginReply:
        return "no-login-reply";
    case UpgradeEnding::ConnectFailed:
        return "connect-failed";
    case UpgradeEnding::FileRefused:
        return "file-refused";
    case UpgradeEnding::PackageFailed:
        return "package-failed";
    case UpgradeEnding::SendFailed:
        return "send-failed";
    case UpgradeEnding::RecorderError:
        return "recorder-error";
    case UpgradeEnding::NoVerdict:
        return "no-verdict";
    case UpgradeEnding::Stopped:
        return "stopped";
    case UpgradeEnding::NoConnectionObject:
        return "no-connection-object";
    }
    return "unknown";
}
