// The main window of the upgrade tool: address, port and file boxes, the Login, Mac and upgrade
// buttons, the status line and the progress bar, with its tray icon, its stored settings and the
// hidden key sequence that reveals the MAC controls. The work behind the buttons is the upgrade
// session's; the window shows what the session tells it through CUpgradeView.
//
// Threads: the session calls the view from the window's thread, from its worker and from the
// connection's receive thread. Calls from the other threads are carried out on the window's
// thread while the caller waits (desktop::callOnGuiThread); the window's thread never waits for
// them, except at the very end, after it has told the session to stop and released every caller
// that was still waiting.
#pragma once

#include "desktop/TemplateDialog.h"
#include "upgrade/LoginDlg.h"
#include "upgrade/UpgradeIds.h"
#include "upgrade/UpgradeSession.h"
#include "upgrade/UpgradeView.h"

#include <QPointer>
#include <QStringList>

#include <memory>

namespace desktop {
class InstanceServer;
class KeySequenceFilter;
class TrayIcon;
} // namespace desktop

// The main window's caption. A start of the program looks for a window of the other title (the
// one the tray tip shows), so a running copy of this program never stops a second one.
inline constexpr char kMainWindowCaption[] = "Upgrade Tool Ver1.17";
inline constexpr char kRunningWindowTitle[] = "DVR Upgrade Tool Ver1.11";
inline constexpr char kTrayTip[] = "DVR Upgrade Tool Ver1.11";
inline constexpr char kAboutMenuText[] = "&About Orlent...";

// The stored settings and the port used when none is stored.
inline constexpr char kSettingIP[] = "UpgradeIP";
inline constexpr char kSettingPort[] = "UpgradePort";
inline constexpr uint32_t kDefaultPort = 37777;

// Template of the main window (dialog 102), for the window and its tests.
const desktop::DialogTemplate& UpgradeDlgTemplate();

// The Open files filter ("name|patterns|...||") as the file dialog's name filters. Patterns
// match without regard to letter case, as they do on the recorder technician's usual system:
// FIRMWARE.BIN is an upgrade file like firmware.bin.
QStringList FileDialogFilters(const std::string& filter);

class CUpgradeDlg : public desktop::TemplateDialog, public CUpgradeView {
    Q_OBJECT
public:
    // arguments: the program's command line, the program first. timings: the session's limits.
    explicit CUpgradeDlg(QStringList arguments = {}, SessionTimings timings = {}, QWidget* parent = nullptr);
    // Removes the tray icon and ends the session: a running upgrade stops, the connection is
    // released, and every thread of the session has ended when this returns.
    ~CUpgradeDlg() override;

    CUpgradeSession& Session() { return *m_session; }
    desktop::TrayIcon* Tray() const { return m_pTray; }
    // The open login dialog, or null.
    CLoginDlg* LoginDialog() const { return m_pLoginDlg; }

    // Writes the address box and the port to the stored settings; failures are silent.
    void SaveSettings();
    // Show: visible, restored from minimized and in front.
    void ShowWindow();
    // The commands of the tray menu and of the window's menu.
    void OnCommandId(int id);

    // --- CUpgradeView: callable from any thread
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
    // The window has shown every ending in its messages already.
    void UpgradeEnded(const UpgradeResult&) override {}

    void done(int result) override;

protected:
    void onInitDialog() override;
    void doDataExchange(desktop::DataExchange& exchange) override;
    void onCommand(int id) override;
    // Esc ends the program without saving the settings.
    void onCancel() override;
    // Caption button, window menu Close, Alt+F4: hide to the tray and save the settings.
    void onClose() override;

    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void AddTrayIcon();
    void HandleCommandLine();
    void LoadSettings();
    void RevealMacControls();
    void ShowAboutBox();
    void HideToTray();
    // Stops the session and releases every thread waiting for the window; idempotent.
    void StopSession();

    QStringList m_arguments;
    std::unique_ptr<CUpgradeSession> m_session;
    // The form that doDataExchange moves: the one TakeForm or RefreshForm was handed, else the
    // session's.
    UpgradeForm* m_pExchangeForm = nullptr;
    desktop::TrayIcon* m_pTray = nullptr;
    desktop::InstanceServer* m_pInstance = nullptr;
    desktop::KeySequenceFilter* m_pKeys = nullptr;
    QPointer<CLoginDlg> m_pLoginDlg;
    bool m_bStopped = false;
};
