// The application object: at start it looks for a running window of the upgrade tool and, when
// one answers, asks it to come forward and ends; otherwise it runs the main window until the
// window's modal loop ends.
#pragma once

#include "upgrade/UpgradeSession.h"

#include <QStringList>

class CUpgradeDlg;

class CUpgradeApp {
public:
    // arguments: the command line, the program first (QCoreApplication::arguments()).
    explicit CUpgradeApp(QStringList arguments, SessionTimings timings = {});

    // The program's start-up and life; returns the exit status.
    int InitInstance();

    // The main window while it runs, else null.
    CUpgradeDlg* MainWindow() const { return m_pMainWnd; }
    // Whether the last InitInstance found a running window and handed over to it.
    bool HandedOver() const { return m_bHandedOver; }

private:
    QStringList m_arguments;
    SessionTimings m_timings;
    CUpgradeDlg* m_pMainWnd = nullptr;
    bool m_bHandedOver = false;
};
