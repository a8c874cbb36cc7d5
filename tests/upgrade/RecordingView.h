// A view for tests of the upgrade session: it logs every call as one line of text, keeps the state
// a window would show (control texts, enabled controls, progress, boxes), and answers the dialogs
// from a script. Safe to call from any thread; tests wait on it for a line to appear.
#pragma once

#include "upgrade/UpgradeIds.h"
#include "upgrade/UpgradeView.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class RecordingView final : public CUpgradeView {
public:
    // Lines as logged:
    //   text <id> <text>           enable <id> 0|1          progress <percent>
    //   take                       refresh <ip>|<port>|<file text>|<mac>
    //   box <caption>|<icon>|<text>   (icon: exclamation, error, information)
    //   open-files <filter>        login-dialog             login-ok <user>|<password>
    //   end-login                  close
    //   ended <word>|<last percent>|<bytes sent>
    static std::string Box(const std::string& caption, MessageIcon icon, const std::string& text);
    static std::string Plain(const std::string& text) {
        return Box(kProgramName, MessageIcon::Exclamation, text);
    }
    // The lines of a control's text and state, named by the control rather than its number.
    static std::string Text(int id, const std::string& text);
    static std::string Status(const std::string& text) { return Text(IDC_STATUS, text); }
    static std::string Enabled(int id) { return Enable(id, true); }
    static std::string Disabled(int id) { return Enable(id, false); }

    // The boxes as the user left them; TakeForm copies them into the session's form.
    UpgradeForm boxes;
    // TakeForm's result (a box with an invalid number).
    bool takeResult = true;

    // Answer of the next open-file dialogs: the chosen paths, or nothing for Cancel.
    std::optional<std::vector<std::string>> openFilesAnswer;

    // How the login dialog behaves: the texts it hands to the session on OK (none: the user
    // cancels without pressing OK), and whether it then waits for EndLoginDialog (the real dialog
    // stays open) or is cancelled at once after OK.
    std::optional<std::pair<std::string, std::string>> loginAnswer;
    bool loginWaitsForEnd = true;
    std::chrono::milliseconds loginWaitLimit{10000};

    // Called inside MessageBox (on the caller's thread) before it returns, with the text shown.
    std::function<void(const std::string& text)> onMessageBox;
    // Called inside SetProgress (on the caller's thread) before it returns, with the percent.
    std::function<void(int percent)> onProgress;
    // Whether progress lines are logged: a long transfer would log one per percent change.
    bool logProgress = true;

    // --- CUpgradeView
    void SetControlText(int id, const std::string& text) override;
    void EnableControl(int id, bool enable) override;
    void SetProgress(int percent) override;
    bool TakeForm(UpgradeForm& form) override;
    void RefreshForm(const UpgradeForm& form) override;
    int MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;
    bool AskOpenFiles(std::vector<std::string>& paths) override;
    int RunLoginDialog(const LoginHandler& onOk) override;
    void EndLoginDialog() override;
    void RequestClose() override;
    void UpgradeEnded(const UpgradeResult& result) override;

    // --- inspection
    // Every ending delivered so far, in order.
    std::vector<UpgradeResult> Results() const;
    std::vector<std::string> Calls() const;
    // Lines logged since `mark` (a value of Mark()).
    std::vector<std::string> CallsSince(size_t mark) const;
    size_t Mark() const;
    void ClearCalls();
    // Only the lines that start with `prefix`, e.g. "box ".
    std::vector<std::string> CallsStartingWith(const std::string& prefix) const;
    std::vector<int> ProgressValues() const;
    bool IsEnabled(int id) const;
    std::string TextOf(int id) const;
    // The upgrade buttons that are enabled now.
    std::vector<int> EnabledUpgradeButtons() const;
    // Waits until some line logged since `mark` equals `line`; false after `limit`.
    bool WaitFor(const std::string& line, size_t mark = 0,
                 std::chrono::milliseconds limit = std::chrono::seconds(20)) const;

private:
    static std::string Enable(int id, bool enable);
    void Log(std::string line);

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_calls;
    std::vector<int> m_progress;
    std::map<int, bool> m_enabled;
    std::map<int, std::string> m_texts;
    std::vector<UpgradeResult> m_results;
    bool m_loginEnded = false;
};
