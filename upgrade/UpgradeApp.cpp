#include "upgrade/UpgradeApp.h"

#include "desktop/SingleInstance.h"
#include "upgrade/UpgradeDlg.h"

CUpgradeApp::CUpgradeApp(QStringList arguments, SessionTimings timings)
    : m_arguments(std::move(arguments)), m_timings(timings) {}

int CUpgradeApp::InitInstance() {
    m_bHandedOver = desktop::bringForwardWindow(QString::fromUtf8(kRunningWindowTitle));
    if (m_bHandedOver) {
        return 0;
    }
    CUpgradeDlg dialog(m_arguments, m_timings);
    m_pMainWnd = &dialog;
    dialog.doModal();
    m_pMainWnd = nullptr;
    return 0;
}
