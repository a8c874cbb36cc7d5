#include "upgrade/cli/CliUpgradeView.h"

#include "support/cli/TextTable.h"
#include "upgrade/FileClassifier.h"
#include "upgrade/UpgradeIds.h"
#include "upgrade/UpgradeSession.h"

#include <algorithm>

namespace {
// The two progress bars: the stream, then the recorder's own progress.
constexpr const char* kSendingLabel = "Sending ";
constexpr const char* kRecorderLabel = "Recorder";
} // namespace

CCliUpgradeView::CCliUpgradeView(cli::Console& console, std::string prefix, UpgradeForm boxes)
    : m_console(console), m_prefix(std::move(prefix)), m_boxes(std::move(boxes)) {}

void CCliUpgradeView::EndProgress() {
    m_console.EndProgress(m_prefix + kSendingLabel);
    m_console.EndProgress(m_prefix + kRecorderLabel);
}

// The window's messages name files as they were given: a line feed in a name stays visible.
void CCliUpgradeView::Print(const std::string& text) {
    m_console.Line(m_prefix + cli::Printable(text));
}

void CCliUpgradeView::PrintError(const std::string& text) {
    m_console.ErrorLine(m_prefix + cli::Printable(text));
}

// ---- CUpgradeView

void CCliUpgradeView::SetControlText(int id, const std::string& text) {
    bool print = false;
    {
        std::lock_guard lock(m_lock);
        if (id != IDC_STATUS) {
            return; // the Login button's caption: the login's outcome is printed by the caller
        }
        if (text == kFileSentStatus && m_upgrading) {
            m_fileSent = true;
        }
        // The idle label is not news on a terminal.
        print = text != kIdleStatus && !m_quiet;
    }
    if (text == kIdleStatus || text == kFileSentStatus) {
        EndProgress();
    }
    if (print) {
        Print(text);
    }
}

void CCliUpgradeView::EnableControl(int, bool) {
    // The classifier's choice reaches the command line as its typed result.
}

void CCliUpgradeView::SetProgress(int percent) {
    std::string label;
    int step = 10;
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
            label = kRecorderLabel;
            step = 1;
        } else {
            label = kSendingLabel;
        }
    }
    m_console.Progress(m_prefix + label, percent, step);
}

bool CCliUpgradeView::TakeForm(UpgradeForm& form) {
    std::lock_guard lock(m_lock);
    form = m_boxes;
    return true;
}

void CCliUpgradeView::RefreshForm(const UpgradeForm& form) {
    std::lock_guard lock(m_lock);
    m_boxes = form;
}

int CCliUpgradeView::MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) {
    bool print;
    {
        std::lock_guard lock(m_lock);
        m_messages.push_back({text, caption, icon});
        print = !m_quiet;
    }
    if (print) {
        const std::string line = caption + ": " + text;
        if (caption == "Complete") {
            Print(line);
        } else {
            PrintError(line);
        }
    }
    return IDOK;
}

bool CCliUpgradeView::AskOpenFiles(std::vector<std::string>& paths) {
    std::lock_guard lock(m_lock);
    if (m_chosenFiles.empty()) {
        return false;
    }
    paths = m_chosenFiles;
    return true;
}

int CCliUpgradeView::RunLoginDialog(const LoginHandler& onOk) {
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
    onOk(user, password);

    std::unique_lock lock(m_lock);
    const bool answered =
        m_changed.wait_for(lock, wait, [this] { return m_loginEnded || m_loginFailed || m_stop; });
    m_loginOpen = false;
    m_loginTimedOut = !answered;
    return m_loginEnded && !m_loginFailed ? IDOK : IDCANCEL;
}

void CCliUpgradeView::EndLoginDialog() {
    std::lock_guard lock(m_lock);
    if (m_loginOpen) {
        m_loginEnded = true;
        m_changed.notify_all();
    }
}

void CCliUpgradeView::RequestClose() {
    // The window hides itself; the command line has nothing to hide. The ending follows.
}

void CCliUpgradeView::UpgradeEnded(const UpgradeResult& result) {
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

// ---- the command line's side

void CCliUpgradeView::SetChosenFiles(std::vector<std::string> files) {
    std::lock_guard lock(m_lock);
    m_chosenFiles = std::move(files);
}

void CCliUpgradeView::SetCredentials(std::string user, std::string password, std::chrono::milliseconds wait) {
    std::lock_guard lock(m_lock);
    m_user = std::move(user);
    m_password = std::move(password);
    m_loginWait = wait;
}

void CCliUpgradeView::SetQuiet(bool quiet) {
    std::lock_guard lock(m_lock);
    m_quiet = quiet;
}

std::optional<UpgradeResult> CCliUpgradeView::LastResult() const {
    std::lock_guard lock(m_lock);
    return m_result;
}

std::vector<CCliUpgradeView::Shown> CCliUpgradeView::Messages() const {
    std::lock_guard lock(m_lock);
    return m_messages;
}

bool CCliUpgradeView::LoginTimedOut() const {
    std::lock_guard lock(m_lock);
    return m_loginTimedOut;
}

void CCliUpgradeView::BeginUpgrade() {
    std::lock_guard lock(m_lock);
    m_upgrading = true;
    m_result.reset();
    m_fileSent = false;
    m_upgradeEnded = false;
    m_lastRecorderPercent = -1;
}

bool CCliUpgradeView::WaitForUpgradeEnd(const std::function<bool()>& idle) {
    std::unique_lock lock(m_lock);
    // Every upgrade that started ends with its ending; one that never started leaves the
    // session idle, which is seen at the first look.
    m_changed.wait(lock, [&] { return m_stop || m_upgradeEnded || idle(); });
    return !m_stop;
}

void CCliUpgradeView::RequestStop() {
    std::lock_guard lock(m_lock);
    m_stop = true;
    m_changed.notify_all();
}

bool CCliUpgradeView::StopRequested() const {
    std::lock_guard lock(m_lock);
    return m_stop;
}
