#include "upgrade/VerdictTexts.h"

const char* SuccessText(UpgradeKind kind) {
    switch (kind) {
    case KIND_BIOS:
        return "BIOS Upgrade success,Device will reboot!...";
    case KIND_WEB:
        return "WEB Upgrade success,Device will reboot!...";
    case KIND_BOOT:
        return "BOOT Upgrade success,Device will reboot!...";
    default:
        return nullptr;
    }
}

const char* UpgradeFailedText(UpgradeKind kind) {
    switch (kind) {
    case KIND_BIOS:
        return "BIOS Upgrade Failed!";
    case KIND_BOOT:
        return "BOOT Upgrade Failed!";
    default:
        return nullptr;
    }
}

const char* DataFailedText(UpgradeKind kind) {
    switch (kind) {
    case KIND_BIOS:
        return "Send bios data Failed!";
    case KIND_WEB:
        return "Send web data Failed!";
    case KIND_BOOT:
        return "Send boot data Failed!";
    case KIND_FONT:
        return "Send font data Failed!";
    case KIND_LOGO:
        return "Send logo data Failed!";
    case KIND_EXE:
        break;
    }
    return "Send exe data Failed!";
}
