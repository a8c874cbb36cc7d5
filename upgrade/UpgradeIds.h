// Numbers shared by the upgrade session and every window that shows it: the control ids, the
// buttons a message box can return, and the program's fixed texts that more than one of them
// needs. The session addresses controls only through these ids. What only the windows use (the
// tray, the About menu, the open-file filter) is in upgrade/UpgradeWindowIds.h.
#pragma once

#include "desktop/WinTypes.h"

#include <array>

// Buttons a message box or a dialog ends with: the dialog manager's own numbers (no Qt behind
// them), so that the session, the windows and the command-line view compare the same values.
using desktop::IDCANCEL;
using desktop::IDOK;

// Controls of the main window (IDD_UPGRADE_DIALOG).
inline constexpr int IDC_OPEN_FILES = IDOK; // "Open files", the dialog's default button
inline constexpr int IDC_IPADDRESS = 1001;  // recorder address
inline constexpr int IDC_BIOS = 1003;
inline constexpr int IDC_WEB = 1004;
inline constexpr int IDC_BOOT = 1005;
inline constexpr int IDC_PROGRESS = 1006;  // progress bar, range 0 to 100
inline constexpr int IDC_FILE_TEXT = 1007; // file names box
inline constexpr int IDC_PORT = 1008;      // recorder port, digits only, at most 5 characters
inline constexpr int IDC_STATUS = 1009;    // status line
inline constexpr int IDC_BOTH = 1010;
inline constexpr int IDC_FONT = 1011;
inline constexpr int IDC_LOGO = 1012;
inline constexpr int IDC_MAC_VALUE = 1013; // hidden until the key sequence reveals it
inline constexpr int IDC_MAC = 1014;       // hidden until the key sequence reveals it
inline constexpr int IDC_EXE = 1015;
inline constexpr int IDC_LOGIN = 1019;   // reads "Login" or "Logout"
inline constexpr int IDC_BUTTON3 = 1021; // hidden at start and never shown

// Controls of the login dialog (IDD_LOGIN).
inline constexpr int IDC_LOGIN_NAME = 1020;
inline constexpr int IDC_LOGIN_PASSWORD = 1021;

// The seven upgrade buttons, in the order they stand in the window.
inline constexpr std::array<int, 7> kUpgradeButtons = {IDC_EXE,  IDC_BIOS, IDC_WEB, IDC_BOOT,
                                                       IDC_BOTH, IDC_FONT, IDC_LOGO};

// Caption of a plain message box: the program's name.
inline constexpr const char* kProgramName = "Kestrion";
