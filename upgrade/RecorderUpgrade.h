// One recorder's upgrade driven to its end without a window, as the command line and each row of
// the batch window run it: choose the files, log in, press the one upgrade button the classifier
// enabled, follow the stream and the recorder's progress, and return the typed ending.
#pragma once

#include "upgrade/FileStamp.h"
#include "upgrade/RecorderUpgradeReport.h"
#include "upgrade/RecorderUpgradeView.h"
#include "upgrade/UpgradeResult.h"
#include "upgrade/UpgradeSession.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class UpgradeStopper;

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
    // A web or logo package built once from `files` for every recorder; empty: each upgrade
    // builds its own, as the button does.
    std::string sharedPackage;
    // The files as they were when the batch started, and the upgrade button their choice enabled
    // then; empty and 0: taken as they are now, as a single upgrade does.
    std::vector<FileStamp> stamps;
    int button = 0;
};

struct RecorderOutcome {
    // None when the session delivered no ending, which would be a fault of ours.
    std::optional<UpgradeResult> result;
    std::chrono::milliseconds took{0};
};

// Runs one upgrade to its end on the calling thread, which acts as the session's window thread.
// While it runs, `stopper` can stop it.
RecorderOutcome RunRecorderUpgrade(const UpgradeRequest& request, CRecorderUpgradeReport& report,
                                   UpgradeStopper& stopper);

// The result of classifying the chosen files as the Open files button does.
struct FileChoice {
    int button = 0;              // the one upgrade button enabled, 0 when the files were refused
    int64_t announcedLength = 0; // what the start packet will announce
    // The classifier's messages, as the window would have shown them.
    using Message = CRecorderUpgradeView::Shown;
    std::vector<Message> messages;
};

// Classifies `files` as one choice; the classifier's messages also go to `report` unless
// `quiet`.
FileChoice ClassifyChoice(const std::vector<std::string>& files, CRecorderUpgradeReport& report, bool quiet);

// The button's name as the window labels it ("Bios", "Web", ...) and what it upgrades.
const char* ButtonName(int button);
const char* ButtonContent(int button);
