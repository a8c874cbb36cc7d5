#include "upgrade/cli/RecorderUpgrade.h"

#include "upgrade/UpgradeIds.h"
#include "upgrade/cli/CliUpgradeView.h"

#include <cstdio>
#include <optional>

void UpgradeStopper::Add(CCliUpgradeView* view) {
    std::lock_guard lock(m_lock);
    m_views.insert(view);
    if (m_stopped) {
        view->RequestStop();
    }
}

void UpgradeStopper::Remove(CCliUpgradeView* view) {
    std::lock_guard lock(m_lock);
    m_views.erase(view);
}

void UpgradeStopper::StopAll() {
    std::lock_guard lock(m_lock);
    m_stopped = true;
    for (CCliUpgradeView* view : m_views) {
        view->RequestStop();
    }
}

bool UpgradeStopper::Stopped() const {
    std::lock_guard lock(m_lock);
    return m_stopped;
}

const char* ButtonName(int button) {
    switch (button) {
    case IDC_BIOS:
        return "Bios";
    case IDC_WEB:
        return "Web";
    case IDC_BOOT:
        return "Boot";
    case IDC_BOTH:
        return "Both";
    case IDC_FONT:
        return "Font";
    case IDC_LOGO:
        return "Logo";
    case IDC_EXE:
        return "EXE";
    default:
        return "none";
    }
}

const char* ButtonContent(int button) {
    switch (button) {
    case IDC_BIOS:
        return "BIOS image";
    case IDC_WEB:
        return "web pages";
    case IDC_BOOT:
        return "boot image";
    case IDC_BOTH:
        return "large boot image";
    case IDC_FONT:
        return "font";
    case IDC_LOGO:
        return "logo bitmaps";
    case IDC_EXE:
        return "program file";
    default:
        return "refused";
    }
}

FileChoice ClassifyChoice(const std::vector<std::string>& files, cli::Console& console, bool quiet) {
    CCliUpgradeView view(console, "", UpgradeForm{});
    view.SetQuiet(quiet);
    view.SetChosenFiles(files);
    CUpgradeSession session(view);
    const Classification classified = session.ChooseFiles();
    FileChoice result;
    result.button = classified.button;
    result.status = classified.Recognised() ? KestrionStatus::Success : KestrionStatus::FileRefused;
    result.announcedLength = session.State().m_nFileLength;
    return result;
}

namespace {

// Keeps a view in the stopper's list while it works.
class StopperEntry {
public:
    StopperEntry(UpgradeStopper& stopper, CCliUpgradeView* view) : m_stopper(stopper), m_view(view) {
        m_stopper.Add(view);
    }
    ~StopperEntry() { m_stopper.Remove(m_view); }
    StopperEntry(const StopperEntry&) = delete;
    StopperEntry& operator=(const StopperEntry&) = delete;

private:
    UpgradeStopper& m_stopper;
    CCliUpgradeView* m_view;
};

// The ending the front end decides itself: the login was not answered in time.
UpgradeResult EndedHere(UpgradeEnding ending) {
    UpgradeResult result;
    result.ending = ending;
    return result;
}

// Logs in as the window's Login button and dialog do; the ending when the login failed.
std::optional<UpgradeResult> LogIn(const UpgradeRequest& request, CUpgradeSession& session,
                                   CCliUpgradeView& view, cli::Console& console, const std::string& prefix) {
    console.Line(prefix + "Logging in to " + request.recorder.Text() + " as " + request.user + "...");
    session.OnLoginButton();
    if (view.StopRequested()) {
        return EndedHere(UpgradeEnding::Stopped);
    }
    if (const auto failed = view.LastResult()) {
        return failed;
    }
    if (view.LoginTimedOut()) {
        char wait[32];
        std::snprintf(wait, sizeof wait, "%.1f", static_cast<double>(request.loginWait.count()) / 1000.0);
        console.ErrorLine(prefix + "No answer to the login within " + wait + " s.");
        return EndedHere(UpgradeEnding::NoLoginReply);
    }
    console.Line(prefix + "Logged in.");
    return std::nullopt;
}

// The upgrade's ending; none when the session delivered none (which would be a fault of ours).
std::optional<UpgradeResult> RunSession(const UpgradeRequest& request, CCliUpgradeView& view,
                                        cli::Console& console, const std::string& prefix) {
    CUpgradeSession session(view, request.timings);
    // Whatever happens below, a running worker is told to stop and waited for before the session
    // goes; the view keeps serving it meanwhile, as the window would.
    struct Ending {
        CUpgradeSession& session;
        ~Ending() {
            session.RequestStop();
            while (!session.WaitUntilStopped(std::chrono::seconds(1))) {
            }
        }
    } ending{session};

    const Classification choice = session.ChooseFiles();
    if (!choice.Recognised()) {
        return EndedHere(UpgradeEnding::FileRefused);
    }
    if (auto failed = LogIn(request, session, view, console, prefix)) {
        return failed;
    }

    const int button = choice.button;
    console.Line(prefix + "Upgrading the " + ButtonContent(button) + " (" + ButtonName(button) + ")...");
    if (button == IDC_WEB || button == IDC_LOGO) {
        console.Line(prefix + "Building the " + (button == IDC_WEB ? "web" : "logo") + " package...");
    }
    view.BeginUpgrade();
    session.OnUpgradeButton(button);
    if (!view.WaitForUpgradeEnd([&session] { return !session.IsBusy(); })) {
        return EndedHere(UpgradeEnding::Stopped);
    }
    while (!session.WaitUntilIdle(std::chrono::seconds(1))) {
    }
    return view.LastResult();
}

} // namespace

UpgradeOutcome UpgradeRecorder(const UpgradeRequest& request, cli::Console& console,
                               const std::string& prefix, UpgradeStopper& stopper) {
    const auto started = std::chrono::steady_clock::now();
    UpgradeForm boxes;
    boxes.m_strIP = request.recorder.host;
    boxes.m_nPort = request.recorder.port;
    CCliUpgradeView view(console, prefix, boxes);
    view.SetChosenFiles(request.files);
    view.SetCredentials(request.user, request.password, request.loginWait);
    StopperEntry entry(stopper, &view);

    UpgradeOutcome outcome;
    if (const auto result = RunSession(request, view, console, prefix)) {
        outcome.status = StatusOf(result->ending);
        outcome.lastPercent = result->lastPercent;
        outcome.bytesSent = result->bytesSent;
    } else {
        console.ErrorLine(prefix + "kestrion-cli: the upgrade ended without a result");
        outcome.status = KestrionStatus::Internal;
    }
    view.EndProgress();
    outcome.took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);

    switch (outcome.status) {
    case KestrionStatus::Success:
        console.Line(prefix + "Upgrade of " + request.recorder.Text() + " succeeded.");
        break;
    case KestrionStatus::NoVerdict:
        console.ErrorLine(prefix + "No verdict from " + request.recorder.Text() + " within the wait.");
        break;
    case KestrionStatus::RecorderError:
        console.ErrorLine(prefix + "The recorder " + request.recorder.Text() + " answered \"error\".");
        break;
    case KestrionStatus::Interrupted:
        console.ErrorLine(prefix + "Upgrade of " + request.recorder.Text() + " interrupted.");
        break;
    default:
        break;
    }
    return outcome;
}
