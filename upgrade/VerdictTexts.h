// The messages that tell the recorder's verdict on an upgrade, by the kind of upgrade.
#pragma once

#include "upgrade/UpgradeProtocol.h"

// The success message; null for the kinds whose success shows no message.
const char* SuccessText(UpgradeKind kind);
// The failure message of an "error" or of a wait that ran out; null for the kinds that show none.
const char* UpgradeFailedText(UpgradeKind kind);
// The message of a failure that no progress report came just before.
const char* DataFailedText(UpgradeKind kind);
