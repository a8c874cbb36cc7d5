#include "upgrade/RecorderUpgrade.h"

#include "upgrade/RecorderUpgradeView.h"
#include "upgrade/UpgradeBatch.h"
#include "upgrade/UpgradeIds.h"

#include <cstdio>
#include <optional>

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

FileChoice ClassifyChoice(const std::vector<std::string>& files, CRecorderUpgradeReport& report, bool quiet) {
    CRecorderUpgradeView view(report, UpgradeForm{});
    view.SetQuiet(quiet);
    view.SetChosenFiles(files);
    CUpgradeSession session(view);
    const Classification classified = session.ChooseFiles();
    FileChoice result;
    result.button = classified.Recognised() ? classified.button : 0;
    result.announcedLength = session.State().m_nFileLength;
    result.messages = view.Messages();
    return result;
}

namespace {

// Keeps a view in the stopper's list while it works.
class StopperEntry {
public:
    StopperEntry(UpgradeStopper& stopper, CRecorderUpgradeView* view) : m_stopper(stopper), m_view(view) {
        m_stopper.Add(view);
    }
    ~StopperEntry() { m_stopper.Remove(m_view); }
    StopperEntry(const StopperEntry&) = delete;
    StopperEntry& operator=(const StopperEntry&) = delete;

private:
    UpgradeStopper& m_stopper;
    CRecorderUpgradeView* m_view;
};

// The ending the front end decides itself: the login was not answered in time.
UpgradeResult EndedHere(UpgradeEnding ending) {
    UpgradeResult result;
    result.ending = ending;
    return result;
}

// The files refused before anything goes out, with the line that says why.
UpgradeResult Refused(CRecorderUpgradeReport& report, const std::string& why) {
    report.ErrorLine(why + ": not sent.");
    UpgradeResult result = EndedHere(UpgradeEnding::FileRefused);
    result.message = why + ": not sent.";
    return result;
}

// A recorder whose turn comes after the files were changed gets none of them.
std::optional<UpgradeResult> FilesAsStamped(const UpgradeRequest& request, CRecorderUpgradeReport& report) {
    const std::string changed = ChangedSinceStamped(request.stamps);
    if (changed.empty()) {
        return std::nullopt;
    }
    return Refused(report, changed);
}

// Logs in as the window's Login button and dialog do; the ending when the login failed.
std::optional<UpgradeResult> LogIn(const UpgradeRequest& request, CUpgradeSession& session,
                                   CRecorderUpgradeView& view, CRecorderUpgradeReport& report) {
    report.Line("Logging in to " + request.recorder.Text() + " as " + request.user + "...");
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
        report.ErrorLine(std::string("No answer to the login within ") + wait + " s.");
        return EndedHere(UpgradeEnding::NoLoginReply);
    }
    report.Line("Logged in.");
    return std::nullopt;
}

// Tells a running worker to stop and waits until it has ended.
void StopAndWait(CUpgradeSession& session) {
    session.RequestStop();
    while (!session.WaitUntilStopped(std::chrono::seconds(1))) {
    }
}

// A stopped upgrade's ending once its worker has ended: the worker's own, which counts what went
// out before the stop.
UpgradeResult StoppedEnding(CUpgradeSession& session, CRecorderUpgradeView& view) {
    StopAndWait(session);
    const auto ended = view.LastResult();
    return ended ? *ended : EndedHere(UpgradeEnding::Stopped);
}

// The upgrade's ending; none when the session delivered none (which would be a fault of ours).
std::optional<UpgradeResult> RunSession(const UpgradeRequest& request, CRecorderUpgradeView& view,
                                        CRecorderUpgradeReport& report) {
    CUpgradeSession session(view, request.timings);
    view.Follow(session.State());
    // Whatever happens below, a running worker is told to stop and waited for before the session
    // goes; the view keeps serving it meanwhile, as the window would.
    view.SetSendingStop([&session] { return session.StopUnlessAllSent(); });
    struct Ending {
        CUpgradeSession& session;
        CRecorderUpgradeView& view;
        ~Ending() {
            view.SetSendingStop({});
            StopAndWait(session);
        }
    } ending{session, view};

    if (auto refused = FilesAsStamped(request, report)) {
        return refused;
    }
    const Classification choice = session.ChooseFiles();
    if (!choice.Recognised()) {
        return EndedHere(UpgradeEnding::FileRefused);
    }
    if (request.button != 0 && choice.button != request.button) {
        return Refused(report, std::string("The files are no longer the ") + ButtonContent(request.button) +
                                   " the batch started with");
    }
    if (auto failed = LogIn(request, session, view, report)) {
        return failed;
    }

    const int button = choice.button;
    report.Line(std::string("Upgrading the ") + ButtonContent(button) + " (" + ButtonName(button) + ")...");
    const bool packaged = button == IDC_WEB || button == IDC_LOGO;
    if (packaged && request.sharedPackage.empty()) {
        report.Line(std::string("Building the ") + (button == IDC_WEB ? "web" : "logo") + " package...");
    }
    view.BeginUpgrade();
    if (packaged && !request.sharedPackage.empty()) {
        session.SendBuiltPackage(button, request.sharedPackage);
    } else {
        session.OnUpgradeButton(button);
    }
    if (!view.WaitForUpgradeEnd([&session] { return !session.IsBusy(); })) {
        return StoppedEnding(session, view);
    }
    while (!session.WaitUntilIdle(std::chrono::seconds(1))) {
    }
    return view.LastResult();
}

} // namespace

RecorderOutcome RunRecorderUpgrade(const UpgradeRequest& request, CRecorderUpgradeReport& report,
                                   UpgradeStopper& stopper) {
    const auto started = std::chrono::steady_clock::now();
    UpgradeForm boxes;
    boxes.m_strIP = request.recorder.host;
    boxes.m_nPort = request.recorder.port;
    CRecorderUpgradeView view(report, boxes);
    view.SetChosenFiles(request.files);
    view.SetCredentials(request.user, request.password, request.loginWait);
    StopperEntry entry(stopper, &view);

    RecorderOutcome outcome;
    outcome.result = RunSession(request, view, report);
    view.EndProgress();
    outcome.took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    return outcome;
}
