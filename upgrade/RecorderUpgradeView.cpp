#include "upgrade/RecorderUpgradeView.h"

#include "upgrade/FileClassifier.h"
#include "upgrade/UpgradeIds.h"
#include "upgrade/UpgradeSession.h"

CRecorderUpgradeView::CRecorderUpgradeView(CRecorderUpgradeReport& report, UpgradeForm boxes)
    : m_report(report), m_boxes(std::move(boxes)) {}

void CRecorderUpgradeView::EndProgress() {
    m_report.ProgressEnded();
}

// ---- CUpgradeView

void CRecorderUpgradeView::SetControlText(int id, const std::string& text) {
    bool print = false;
    bool burning = false;
    {
        std::lock_guard lock(m_lock);
        if (id != IDC_STATUS) {
            return; // the Login button's caption: the login's outcome is told by the driver
        }
        if (text == kFileSentStatus && m_upgrading && !m_stop) {
            burning = m_fileSent = true;
        }
        // The idle label is no news.
        print = text != kIdleStatus && !m_quiet;
    }
    if (text == kIdleStatus || text == kFileSentStatus) {
        EndProgress();
    }
    if (burning) {
        m_report.Phase(RecorderPhase::Burning);
    }
    if (print) {
        m_report.Line(text);
    }
}

void CRecorderUpgradeView::EnableControl(int, bool) {
    // The classifier's choice reaches the command line as its typed result.
}

void CRecorderUpgradeView::SetProgress(int percent) {
    RecorderPhase phase = RecorderPhase::Sending;
    {
        std::lock_guard lock(m_lock);
        if (m_quiet || !m_upgrading || m_upgradeEnded) {
            return;
        }
        if (m_fileSent) {
            // Each report sets the bar to 0 and then to its percent; the 0 is no report.
            if (percent == 0 && m_lastRecorderPercent >= 0) {
                return;
            }
            m_lastRecorderPercent = percent;
            phase = RecorderPhase::Burning;
        }
    }
    const int64_t sent = m_state != nullptr ? m_state->m_nUpgradeBytesSent.load() : 0;
    m_report.Progress(phase, percent, sent);
}

bool CRecorderUpgradeView::TakeForm(UpgradeForm& form) {
    std::lock_guard lock(m_lock);
    form = m_boxes;
    return true;
}

void CRecorderUpgradeView::RefreshForm(const UpgradeForm& form) {
    std::lock_guard lock(m_lock);
    m_boxes = form;
}

int CRecorderUpgradeView::MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) {
    bool print;
    {
        std::lock_guard lock(m_lock);
        m_messages.push_back({text, caption, icon});
        print = !m_quiet;
    }
    if (print) {
        const std::string line = caption + ": " + text;
        if (caption == "Complete") {
            m_report.Line(line);
        } else {
            m_report.ErrorLine(line);
        }
    }
    return IDOK;
}

bool CRecorderUpgradeView::AskOpenFiles(std::vector<std::string>& paths) {
    std::lock_guard lock(m_lock);
    if (m_chosenFiles.empty()) {
        return false;
    }
    paths = m_chosenFiles;
    return true;
}

int CRecorderUpgradeView::RunLoginDialog(const LoginHandler& onOk) {
    std::string user, password;
    std::chrono::milliseconds wait;
    {
        std::lock_guard lock(m_lock);
        m_loginOpen = true;
        m_loginEnded = m_loginFailed = m_loginTimedOut = false;
        user = m_user;
        password = m_password;
        wait = m_loginWait;
    }
    // OK pressed once: a failure to connect or send is shown before this returns; the verdict
    // comes later from the receive thread.
    m_report.Phase(RecorderPhase::Connecting);
    onOk(user, password);
    if (!LastResult()) {
        m_report.Phase(RecorderPhase::LoggingIn);
    }

    std::unique_lock lock(m_lock);
    const bool answered =
        m_changed.wait_for(lock, wait, [this] { return m_loginEnded || m_loginFailed || m_stop; });
    m_loginOpen = false;
    m_loginTimedOut = !answered;
    return m_loginEnded && !m_loginFailed ? IDOK : IDCANCEL;
}

void CRecorderUpgradeView::EndLoginDialog() {
    std::lock_guard lock(m_lock);
    if (m_loginOpen) {
        m_loginEnded = true;
        m_changed.notify_all();
    }
}

void CRecorderUpgradeView::RequestClose() {
    // The window hides itself; without a window there is nothing to hide. The ending follows.
}

void CRecorderUpgradeView::UpgradeEnded(const UpgradeResult& result) {
    std::lock_guard lock(m_lock);
    m_result = result;
    if (m_loginOpen) {
        m_loginFailed = true; // an ending while the login dialog is open is the login's
    }
    if (m_upgrading) {
        m_upgradeEnded = true;
    }
    m_changed.notify_all();
}

// ---- the driver's side

void CRecorderUpgradeView::SetChosenFiles(std::vector<std::string> files) {
    std::lock_guard lock(m_lock);
    m_chosenFiles = std::move(files);
}

void CRecorderUpgradeView::SetCredentials(std::string user, std::string password,
                                          std::chrono::milliseconds wait) {
    std::lock_guard lock(m_lock);
    m_user = std::move(user);
    m_password = std::move(password);
    m_loginWait = wait;
}

void CRecorderUpgradeView::SetQuiet(bool quiet) {
    std::lock_guard lock(m_lock);
    m_quiet = quiet;
}

std::optional<UpgradeResult> CRecorderUpgradeView::LastResult() const {
    std::lock_guard lock(m_lock);
    return m_result;
}

std::vector<CRecorderUpgradeView::Shown> CRecorderUpgradeView::Messages() const {
    std::lock_guard lock(m_lock);
    return m_messages;
}

bool CRecorderUpgradeView::LoginTimedOut() const {
    std::lock_guard lock(m_lock);
    return m_loginTimedOut;
}

void CRecorderUpgradeView::Follow(const CUpgradeState& state) {
    std::lock_guard lock(m_lock);
    m_state = &state;
}

void CRecorderUpgradeView::BeginUpgrade() {
    {
        std::lock_guard lock(m_lock);
        m_upgrading = true;
        m_result.reset();
        m_fileSent = false;
        m_upgradeEnded = false;
        m_lastRecorderPercent = -1;
    }
    m_report.Phase(RecorderPhase::Sending);
}

bool CRecorderUpgradeView::WaitForUpgradeEnd(const std::function<bool()>& idle) {
    std::unique_lock lock(m_lock);
    // Every upgrade that started ends with its ending; one that never started leaves the
    // session idle, which is seen at the first look.
    m_changed.wait(lock, [&] { return m_stop || m_upgradeEnded || idle(); });
    return !m_stop;
}

void CRecorderUpgradeView::RequestStop() {
    std::lock_guard lock(m_lock);
    m_stop = true;
    m_changed.notify_all();
}

bool CRecorderUpgradeView::RequestStopUnlessBurning() {
    std::lock_guard lock(m_lock);
    // Asked under the lock, so that the session cannot go while it answers. A stop that comes
    // after the last byte but before the session says so is the session's to refuse: the
    // recorder burns on, and the upgrade follows it to its verdict.
    if (!m_fileSent && !m_stop && (!m_stopSending || m_stopSending())) {
        m_stop = true;
        m_changed.notify_all();
    }
    return m_stop;
}

void CRecorderUpgradeView::SetSendingStop(std::function<bool()> stopSending) {
    std::lock_guard lock(m_lock);
    m_stopSending = std::move(stopSending);
}

bool CRecorderUpgradeView::StopRequested() const {
    std::lock_guard lock(m_lock);
    return m_stop;
}
