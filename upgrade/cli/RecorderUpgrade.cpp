#include "upgrade/cli/RecorderUpgrade.h"

#include "upgrade/UpgradeIds.h"
#include "upgrade/cli/CliUpgradeView.h"
#include "upgrade/cli/ReplyTap.h"

#include <cstdio>

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

Classification ClassifyChoice(const std::vector<std::string>& files, cli::Console& console, bool quiet) {
    CCliUpgradeView view(console, "", UpgradeForm{});
    view.SetQuiet(quiet);
    view.SetChosenFiles(files);
    CUpgradeSession session(view);
    session.ChooseFiles();
    Classification result;
    result.button = view.EnabledUpgradeButton();
    result.status = view.FailureShown();
    if (result.button == 0 && result.status == KestrionStatus::Success) {
        result.status = KestrionStatus::FileRefused;
    }
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

KestrionStatus RunSession(const UpgradeRequest& request, CCliUpgradeView& view, CReplyTap& tap,
                          cli::Console& console, const std::string& prefix) {
    CUpgradeSession session(view, request.timings, tap);
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

    session.ChooseFiles();
    const int button = view.EnabledUpgradeButton();
    if (button == 0) {
        const KestrionStatus failure = view.FailureShown();
        return failure == KestrionStatus::Success ? KestrionStatus::FileRefused : failure;
    }

    console.Line(prefix + "Logging in to " + request.recorder.Text() + " as " + request.user + "...");
    session.OnLoginButton();
    if (view.StopRequested()) {
        return KestrionStatus::Interrupted;
    }
    if (view.FailureShown() != KestrionStatus::Success) {
        return view.FailureShown();
    }
    if (view.LoginTimedOut()) {
        char wait[32];
        std::snprintf(wait, sizeof wait, "%.1f", static_cast<double>(request.loginWait.count()) / 1000.0);
        console.ErrorLine(prefix + "No answer to the login within " + wait + " s.");
        return KestrionStatus::NoLoginReply;
    }
    console.Line(prefix + "Logged in.");

    const bool isPackage = button == IDC_WEB || button == IDC_LOGO;
    console.Line(prefix + "Upgrading the " + ButtonContent(button) + " (" + ButtonName(button) + ")...");
    if (isPackage) {
        console.Line(prefix + "Building the " + (button == IDC_WEB ? "web" : "logo") + " package...");
    }
    tap.ResetVerdict();
    view.BeginUpgrade(isPackage);
    session.OnUpgradeButton(button);
    if (!view.WaitForUpgradeEnd([&session] { return !session.IsBusy(); })) {
        return KestrionStatus::Interrupted;
    }
    while (!session.WaitUntilIdle(std::chrono::seconds(1))) {
    }

    const KestrionStatus failure = view.FailureShown();
    if (failure != KestrionStatus::Success) {
        return failure;
    }
    const CReplyTap::Verdict verdict = tap.CurrentVerdict();
    if (verdict.done) {
        return KestrionStatus::Success;
    }
    return verdict.errorWord ? KestrionStatus::RecorderError : KestrionStatus::NoVerdict;
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
    CReplyTap tap;
    StopperEntry entry(stopper, &view);

    UpgradeOutcome outcome;
    outcome.status = RunSession(request, view, tap, console, prefix);
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
