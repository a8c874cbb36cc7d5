// Numbers shared by the upgrade session and every window that shows it: the dialog templates,
// their control ids, the buttons a message box can return, and the program's fixed texts that
// more than one of them needs. The session addresses controls only through these ids.
#pragma once

#include <array>

// Dialog templates.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_UPGRADE_DIALOG = 102;
inline constexpr int IDD_LOGIN = 133;

// Buttons a message box or a dialog ends with.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

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

// Window commands and private messages.
inline constexpr int IDM_ABOUTBOX = 16;    // system menu "&About Orlent..."
inline constexpr int ID_TRAY_SHOW = 1124;  // tray menu "Show"
inline constexpr int ID_TRAY_ABOUT = 1125; // tray menu "About"
inline constexpr int ID_TRAY_EXIT = 1126;  // tray menu "Exit"
inline constexpr unsigned WM_TRAY_NOTIFY = 1127;
// Ends the login dialog with IDOK once the recorder accepted the login.
inline constexpr unsigned WM_LOGIN_OK = 3579;

// Caption of a plain message box: the program's name.
inline constexpr const char* kProgramName = "Kestrion";

// Filter of the Open files dialog, in the "name|patterns|...||" form: the upgrade file
// patterns, then all files.
inline constexpr const char* kOpenFilesFilter =
    "Upgrade File(*.bin;*.hzk;*.bmp;*.exe;*.mi; *.cab; *.htm; *.jpg)|*.bin;*.hzk;*.bmp;*.exe;*.mi; *.cab; "
    "*.htm; *.jpg|All Files|*.*||";
