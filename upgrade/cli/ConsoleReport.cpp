#include "upgrade/cli/ConsoleReport.h"

#include "support/cli/TextTable.h"

namespace {
// The two progress bars: the stream, then the recorder's own progress.
constexpr const char* kSendingLabel = "Sending ";
constexpr const char* kRecorderLabel = "Recorder";
} // namespace

CConsoleReport::CConsoleReport(cli::Console& console, std::string prefix)
    : m_console(console), m_prefix(std::move(prefix)) {}

// The window's messages name files as they were given: a line feed in a name stays visible.
void CConsoleReport::Line(const std::string& text) {
    m_console.Line(m_prefix + cli::Printable(text));
}

void CConsoleReport::ErrorLine(const std::string& text) {
    m_console.ErrorLine(m_prefix + cli::Printable(text));
}

void CConsoleReport::Progress(RecorderPhase phase, int percent, int64_t) {
    if (phase == RecorderPhase::Burning) {
        m_console.Progress(m_prefix + kRecorderLabel, percent, 1);
    } else {
        m_console.Progress(m_prefix + kSendingLabel, percent, 10);
    }
}

void CConsoleReport::ProgressEnded() {
    m_console.EndProgress(m_prefix + kSendingLabel);
    m_console.EndProgress(m_prefix + kRecorderLabel);
}

UpgradeOutcome UpgradeRecorder(const UpgradeRequest& request, cli::Console& console,
                               const std::string& prefix, UpgradeStopper& stopper) {
    CConsoleReport report(console, prefix);
    const RecorderOutcome ran = RunRecorderUpgrade(request, report, stopper);
    UpgradeOutcome outcome;
    outcome.took = ran.took;
    if (ran.result) {
        outcome.status = StatusOf(ran.result->ending);
        outcome.lastPercent = ran.result->lastPercent;
        outcome.bytesSent = ran.result->bytesSent;
    } else {
        console.ErrorLine(prefix + "kestrion-cli: the upgrade ended without a result");
    }

    const std::string recorder = request.recorder.Text();
    switch (outcome.status) {
    case KestrionStatus::Success:
        console.Line(prefix + "Upgrade of " + recorder + " succeeded.");
        break;
    case KestrionStatus::NoVerdict:
        console.ErrorLine(prefix + "No verdict from " + recorder + " within the wait.");
        break;
    case KestrionStatus::RecorderError:
        console.ErrorLine(prefix + "The recorder " + recorder + " answered \"error\".");
        break;
    case KestrionStatus::Interrupted:
        console.ErrorLine(prefix + "Upgrade of " + recorder + " interrupted.");
        break;
    default:
        break;
    }
    return outcome;
}
