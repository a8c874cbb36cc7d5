// The upgrade session's view when no window shows it: one recorder's upgrade driven by a program
// (the command line, a row of the batch window). Control texts, message boxes and the progress
// bar become the report's lines, phases and progress; the Open files dialog "chooses" the files
// given, and the login dialog "types" the credentials given. Boxes are plain values.
//
// Threads: the session calls it from the thread that runs the session (for this view the thread
// working on one recorder), from its worker and from the connection's receive thread. Nothing here
// waits for another thread except the login dialog, which runs on the session's own thread as the
// window's does.
#pragma once

#include "upgrade/RecorderUpgradeReport.h"
#include "upgrade/UpgradeState.h"
#include "upgrade/UpgradeView.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class CRecorderUpgradeView final : public CUpgradeView {
public:
    struct Shown {
        std::string text;
        std::string caption;
        MessageIcon icon;
    };

    // `boxes` are the values of the address, port, file names and MAC boxes.
    CRecorderUpgradeView(CRecorderUpgradeReport& report, UpgradeForm boxes);

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

    // --- what the driver sets up before it presses a button

    // The files the Open files dialog "chooses".
    void SetChosenFiles(std::vector<std::string> files);
    // What the login dialog "types", and how long it waits for the recorder's answer.
    void SetCredentials(std::string user, std::string password, std::chrono::milliseconds wait);
    // Messages are still recorded but not reported (a dry classification).
    void SetQuiet(bool quiet);
    // The session's state, read for the bytes sent; it must outlive the upgrade.
    void Follow(const CUpgradeState& state);

    // --- what the driver reads afterwards

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

    // Ends this view's progress.
    void EndProgress();

    // Wakes every wait of this view for good (a signal arrived, Stop was pressed).
    void RequestStop();
    // The same unless the files are all sent: a recorder that burns its flash is left to finish
    // (a recorder cut off while it writes may not start again). True when stopped. While
    // `stopSending` is set, it decides: it stops the session unless the last end packet is
    // already going out, and says whether it did.
    bool RequestStopUnlessBurning();
    void SetSendingStop(std::function<bool()> stopSending);
    bool StopRequested() const;

private:
    CRecorderUpgradeReport& m_report;
    const CUpgradeState* m_state = nullptr;

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

    std::function<bool()> m_stopSending;
    bool m_upgrading = false;
    bool m_fileSent = false;
    bool m_upgradeEnded = false;
    int m_lastRecorderPercent = -1;
};
