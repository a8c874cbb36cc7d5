#include "upgrade/UpgradeState.h"

std::atomic<UpgradeKind> g_nUpgradeKind{KIND_BIOS};
