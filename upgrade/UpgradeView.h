// What the upgrade session needs of the window that shows it. The Qt main window implements it,
// and so does the command-line tool; tests implement it with a recorder of calls. The session
// names controls by the ids of UpgradeIds.h and never learns how they are drawn.
#pragma once

#include "upgrade/UpgradeResult.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Icon of a message box. The warning icon and the exclamation mark are one and the same.
enum class MessageIcon { Exclamation, Error, Information };

// The values of the main window's boxes as the session keeps them. The window exchanges them
// with its boxes in this order.
struct UpgradeForm {
    std::string m_strIP;       // address box (IDC_IPADDRESS), dotted IPv4 text
    uint32_t m_nPort = 37777;  // port box (IDC_PORT)
    std::string m_strFileText; // file names box (IDC_FILE_TEXT)
    uint32_t m_dwMacValue = 0; // MAC box (IDC_MAC_VALUE)
};

// Threads: the session calls from the window's own thread, from its worker thread and from the
// connection's receive thread. Every call but EndLoginDialog is synchronous: what it changes is
// on the screen, and a message box has been closed, before the call returns. A call that comes
// from another thread is therefore carried out on the window's thread while the caller waits, so
// the window's thread must not block waiting for the session while such a call may be pending. To
// end the session, either first make waiting calls from other threads return at once (the desktop
// layer's stopGuiCalls) and then destroy it, or call RequestStop and keep serving view calls until
// WaitUntilStopped is true.
class CUpgradeView {
public:
    // Sets the text of a control: a button's caption, or the status line (IDC_STATUS).
    virtual void SetControlText(int id, const std::string& text) = 0;
    // Enables or disables a control.
    virtual void EnableControl(int id, bool enable) = 0;
    // Moves the progress bar (IDC_PROGRESS) to `percent`, 0 to 100.
    virtual void SetProgress(int percent) = 0;

    // Reads the boxes into `form`, in the order of its fields. A port or MAC text that is not an
    // unsigned decimal number shows "Please enter a positive integer." and stops there: that
    // field and the ones after it keep their values, and the result is false.
    virtual bool TakeForm(UpgradeForm& form) = 0;
    // Writes `form` back into the boxes.
    virtual void RefreshForm(const UpgradeForm& form) = 0;

    // Shows a modal message box with one OK button, owned by the main window, and returns the
    // button that closed it (IDOK).
    virtual int MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) = 0;

    // The system's open-file dialog, several files allowed, offering the upgrade files first (the
    // filter is the window's own business). True with the chosen full paths in the dialog's
    // order; false when the user cancels.
    virtual bool AskOpenFiles(std::vector<std::string>& paths) = 0;

    // Runs the login dialog ("User Login": Name, Password, OK, Cancel) modally. Each press of OK
    // hands the two texts, as typed, to `onOk` on the window's thread and leaves OK disabled for
    // good. The dialog ends with IDCANCEL when the user cancels, or with IDOK when EndLoginDialog
    // is called; the result is returned.
    using LoginHandler = std::function<void(const std::string& user, const std::string& password)>;
    virtual int RunLoginDialog(const LoginHandler& onOk) = 0;
    // Ends the login dialog with IDOK if one is open; otherwise nothing. Safe from any thread and
    // never waits: the dialog closes later, on the window's thread.
    virtual void EndLoginDialog() = 0;

    // The request to close the main window (which hides it to the tray).
    virtual void RequestClose() = 0;

    // How an operation ended, once for each: an upgrade (from its worker, just before the session
    // is idle again, or from the window's thread when it never got a worker), a login that
    // failed (connect, send, refusal; an accepted login ends the login dialog instead), and the
    // MAC command. Messages for the ending have been shown before this call. Never waits for
    // the user.
    virtual void UpgradeEnded(const UpgradeResult& result) = 0;

protected:
    ~CUpgradeView() = default;
};
