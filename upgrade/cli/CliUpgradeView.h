// The upgrade session's view for the command line: a second implementation of the interface the
// main window implements. Control texts and message boxes become lines, the progress bar a bar
// on the terminal (plain lines elsewhere), the Open files dialog the files named on the command
// line, and the login dialog the credentials read before the start. Boxes are plain values.
//
// Threads: the session calls it from the thread that runs the session (the "window" thread, which
// for the command line is the thread working on one recorder), from its worker and from the
// connection's receive thread. Nothing here waits for another thread except the login dialog,
// which runs on the session's own thread as the window's does.
#pragma once

#include "support/cli/Console.h"
#include "upgrade/UpgradeView.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class CCliUpgradeView final : public CUpgradeView {
public:
    struct Shown {
        std::string text;
        std::string caption;
        MessageIcon icon;
    };

    // `prefix` goes in front of every line (the recorder's address when there are several);
    // `boxes` are the values of the address, port, file names and MAC boxes.
    CCliUpgradeView(cli::Console& console, std::string prefix, UpgradeForm boxes);

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

    // --- what the command line sets up before it presses a button

    // The files the Open files dialog "chooses".
    void SetChosenFiles(std::vector<std::string> files);
    // What the login dialog "types", and how long it waits for the recorder's answer.
    void SetCredentials(std::string user, std::string password, std::chrono::milliseconds wait);
    // Messages are still recorded but not printed (a dry classification).
    void SetQuiet(bool quiet);

    // --- what the command line reads afterwards

    std::vector<Shown> Messages() const;
    // The last ending the session delivered: a failed login, the MAC command, the upgrade.
    std::optional<UpgradeResult> LastResult() const;
    // Whether the login dialog timed out (no ending, no acceptance).
    bool LoginTimedOut() const;

    // Marks the start of an upgrade: its ending is waited for from here.
    void BeginUpgrade();
    // Waits until the upgrade's ending arrives, `idle` says the session never got busy, or a
    // stop is requested. True unless stopped.
    bool WaitForUpgradeEnd(const std::function<bool()>& idle);

    // Ends this view's progress lines or bar.
    void EndProgress();

    // Wakes every wait of this view for good (a signal arrived).
    void RequestStop();
    bool StopRequested() const;

private:
    void Print(const std::string& text);
    void PrintError(const std::string& text);

    cli::Console& m_console;
    const std::string m_prefix;

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    UpgradeForm m_boxes;
    std::vector<std::string> m_chosenFiles;
    std::vector<Shown> m_messages;
    std::optional<UpgradeResult> m_result;
    bool m_quiet = false;
    bool m_stop = false;

    std::string m_user;
    std::string m_password;
    std::chrono::milliseconds m_loginWait{10000};
    bool m_loginOpen = false;
    bool m_loginEnded = false;
    bool m_loginFailed = false;
    bool m_loginTimedOut = false;

    bool m_upgrading = false;
    bool m_fileSent = false;
    bool m_upgradeEnded = false;
    int m_lastRecorderPercent = -1;
};
