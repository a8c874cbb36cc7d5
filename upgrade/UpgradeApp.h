// The application object: at start it looks for a running window of the upgrade tool and, when
// one answers, asks it to come forward and ends; otherwise it runs the main window until the
// window's modal loop ends. "kestrion --batch FILE" runs the batch upgrade window instead, with
// the recorders of a list pellory-cli scan wrote (csv or json).
#pragma once

#include "upgrade/UpgradeSession.h"

#include <QStringList>

class CBatchUpgradeDlg;
class CUpgradeDlg;

class CUpgradeApp {
public:
    // arguments: the command line, the program first (QCoreApplication::arguments()).
    explicit CUpgradeApp(QStringList arguments, SessionTimings timings = {});

    // The program's start-up and life; returns the exit status.
    int InitInstance();

    // The main window while it runs, else null.
    CUpgradeDlg* MainWindow() const { return m_pMainWnd; }
    // The batch window while it runs, else null.
    CBatchUpgradeDlg* BatchWindow() const { return m_pBatchWnd; }
    // Whether the last InitInstance found a running window and handed over to it.
    bool HandedOver() const { return m_bHandedOver; }

private:
    int RunBatch();

    QStringList m_arguments;
    SessionTimings m_timings;
    CUpgradeDlg* m_pMainWnd = nullptr;
    CBatchUpgradeDlg* m_pBatchWnd = nullptr;
    bool m_bHandedOver = false;
};
