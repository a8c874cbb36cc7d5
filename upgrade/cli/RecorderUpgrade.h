// One recorder's upgrade from the command line, through the same session the window drives:
// choose the files, log in, press the one upgrade button the classifier enabled, follow the
// stream and the recorder's progress, and turn what happened into an exit status.
#pragma once

#include "support/cli/Console.h"
#include "upgrade/UpgradeSession.h"
#include "upgrade/cli/ExitStatus.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class CCliUpgradeView;

struct RecorderAddress {
    std::string host; // dotted IPv4
    uint32_t port = 37777;
    std::string Text() const { return host + ":" + std::to_string(port); }
};

struct UpgradeRequest {
    RecorderAddress recorder;
    std::string user;
    std::string password;
    std::vector<std::string> files;
    SessionTimings timings;
    std::chrono::milliseconds loginWait{10000};
};

struct UpgradeOutcome {
    KestrionStatus status = KestrionStatus::Internal;
    std::chrono::milliseconds took{0};
    // The recorder's last progress report (-1: none) and the file bytes sent.
    int lastPercent = -1;
    int64_t bytesSent = 0;
};

// The views of the upgrades in progress, so that a signal can stop them all.
class UpgradeStopper {
public:
    void Add(CCliUpgradeView* view);
    void Remove(CCliUpgradeView* view);
    // Stops every upgrade in progress and every one that starts later.
    void StopAll();
    bool Stopped() const;

private:
    mutable std::mutex m_lock;
    std::set<CCliUpgradeView*> m_views;
    bool m_stopped = false;
};

// Runs one upgrade to its end on the calling thread, which acts as the session's window thread.
// Lines go to `console`, each behind `prefix`.
UpgradeOutcome UpgradeRecorder(const UpgradeRequest& request, cli::Console& console,
                               const std::string& prefix, UpgradeStopper& stopper);

// The result of classifying the chosen files as the Open files button does.
struct FileChoice {
    int button = 0;              // the one upgrade button enabled, 0 when the files were refused
    KestrionStatus status{};     // Success, or FileRefused
    int64_t announcedLength = 0; // what the start packet will announce
};

// Classifies `files` as one choice, printing the classifier's messages unless `quiet`.
FileChoice ClassifyChoice(const std::vector<std::string>& files, cli::Console& console, bool quiet);

// The button's name as the window labels it ("Bios", "Web", ...) and what it upgrades.
const char* ButtonName(int button);
const char* ButtonContent(int button);
