// Numbers and texts that only the upgrade tool's windows use: their dialog templates, the tray
// and About commands, and the filter of the Open files dialog. The session and the command-line
// tool never see them.
#pragma once

#include "upgrade/UpgradeIds.h"

// Dialog templates.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_UPGRADE_DIALOG = 102;
inline constexpr int IDD_LOGIN = 133;

// Window commands and private messages.
inline constexpr int IDM_ABOUTBOX = 16;    // system menu "&About Orlent..."
inline constexpr int ID_TRAY_SHOW = 1124;  // tray menu "Show"
inline constexpr int ID_TRAY_ABOUT = 1125; // tray menu "About"
inline constexpr int ID_TRAY_EXIT = 1126;  // tray menu "Exit"
inline constexpr unsigned WM_TRAY_NOTIFY = 1127;
// Ends the login dialog with IDOK once the recorder accepted the login.
inline constexpr unsigned WM_LOGIN_OK = 3579;

// Filter of the Open files dialog, in the "name|patterns|...||" form: the upgrade file
// patterns, then all files.
inline constexpr const char* kOpenFilesFilter =
    "Upgrade File(*.bin;*.hzk;*.bmp;*.exe;*.mi; *.cab; *.htm; *.jpg)|*.bin;*.hzk;*.bmp;*.exe;*.mi; *.cab; "
    "*.htm; *.jpg|All Files|*.*||";
