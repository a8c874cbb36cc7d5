// One recorder's upgrade as lines on the terminal: the session's messages and the steps of the
// upgrade behind the recorder's address when there are several, a bar (or plain lines) for the
// stream and then for the recorder's own progress.
#pragma once

#include "support/cli/Console.h"
#include "upgrade/RecorderUpgrade.h"
#include "upgrade/RecorderUpgradeReport.h"
#include "upgrade/cli/ExitStatus.h"

#include <chrono>
#include <string>

class UpgradeStopper;

class CConsoleReport final : public CRecorderUpgradeReport {
public:
    // `prefix` goes in front of every line (the recorder's address when there are several).
    CConsoleReport(cli::Console& console, std::string prefix);

    void Line(const std::string& text) override;
    void ErrorLine(const std::string& text) override;
    void Phase(RecorderPhase) override {}
    void Progress(RecorderPhase phase, int percent, int64_t bytesSent) override;
    void ProgressEnded() override;

private:
    cli::Console& m_console;
    const std::string m_prefix;
};

struct UpgradeOutcome {
    KestrionStatus status = KestrionStatus::Internal;
    std::chrono::milliseconds took{0};
    // The recorder's last progress report (-1: none) and the file bytes sent.
    int lastPercent = -1;
    int64_t bytesSent = 0;
};

// Runs one upgrade to its end on the calling thread, its lines behind `prefix`, and says how it
// ended in a last line.
UpgradeOutcome UpgradeRecorder(const UpgradeRequest& request, cli::Console& console,
                               const std::string& prefix, UpgradeStopper& stopper);
