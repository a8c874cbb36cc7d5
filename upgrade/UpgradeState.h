// The state that the upgrade session and the file classifier share: the chosen files, their
// lengths, the progress counters and the two flags the receive thread sets for the worker.
#pragma once

#include "upgrade/UpgradeProtocol.h"
#include "upgrade/UpgradeView.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

// The kind of upgrade the classifier last recognised; the upgrade buttons send it whatever
// button it is. Process-wide, KIND_BIOS at start.
extern std::atomic<UpgradeKind> g_nUpgradeKind;

// Most files one upgrade can send.
inline constexpr int kMaxUpgradeFiles = 10;

// Lengths are 64-bit: files of more than 2 GiB are classified and sent like any other, and the
// percentages stay right up to 4 GiB.
struct CUpgradeState {
    // Values of the window's boxes. Window thread only.
    UpgradeForm m_form;

    // The chosen files in the order chosen, and how many. Window thread only: an upgrade works
    // on a copy taken when it starts.
    std::array<std::string, kMaxUpgradeFiles> m_strFiles;
    int m_nFileCount = 0;
    // Entry 0 is a temporary package, deleted when the upgrade ends. Window thread only.
    bool m_bDeleteAfterSend = false;
    // Entry 0 is a package made of the chosen files (its own or one shared by several
    // recorders). Window thread only.
    bool m_bSendsPackage = false;

    // Length of the file last examined (classifier) or being sent (worker).
    std::atomic<int64_t> m_nFileLength{0};
    // Bytes of the current file sent, and data packets sent in this upgrade.
    std::atomic<int64_t> m_nBytesSent{0};
    std::atomic<int64_t> m_nChunksSent{0};
    // File bytes sent in this upgrade over all its files.
    std::atomic<int64_t> m_nUpgradeBytesSent{0};

    // The recorder reported completion ("right", or 100 percent).
    std::atomic<bool> m_bUpgradeDone{false};
    // The recorder answered "error" to this upgrade.
    std::atomic<bool> m_bUpgradeError{false};
    // The recorder's last progress report in this upgrade, as reported; -1 when none came.
    std::atomic<int> m_nLastPercent{-1};
    // The most recent packet received was a progress report.
    std::atomic<bool> m_bLastWasProgress{false};
};
