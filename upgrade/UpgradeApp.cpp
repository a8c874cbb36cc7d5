#include "upgrade/UpgradeApp.h"

#include "desktop/MessageBox.h"
#include "desktop/SingleInstance.h"
#include "support/VisibleText.h"
#include "upgrade/BatchUpgradeDlg.h"
#include "upgrade/RecorderList.h"
#include "upgrade/UpgradeDlg.h"
#include "upgrade/cli/ExitStatus.h"

namespace {
constexpr const char* kBatchOption = "--batch";
} // namespace

CUpgradeApp::CUpgradeApp(QStringList arguments, SessionTimings timings)
    : m_arguments(std::move(arguments)), m_timings(timings) {}

int CUpgradeApp::InitInstance() {
    if (m_arguments.size() >= 2 && m_arguments[1] == QLatin1String(kBatchOption)) {
        return RunBatch();
    }
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

// A batch that cannot open ends with the command-line tool's status for bad arguments.
int CUpgradeApp::RunBatch() {
    if (m_arguments.size() != 3) {
        desktop::appMessageBox(nullptr, QStringLiteral("Usage: kestrion --batch FILE, with FILE a list that "
                                                       "pellory-cli scan wrote (csv or json)."));
        return ExitCode(KestrionStatus::Usage);
    }
    const std::string path = m_arguments[2].toStdString();
    std::vector<BatchRecorder> recorders;
    try {
        const std::vector<ListedRecorder> listed = ReadRecorderList(path);
        const std::vector<RecorderAddress> addresses = CheckedAddresses(listed, path);
        for (size_t i = 0; i < listed.size(); ++i) {
            recorders.push_back({addresses[i].host, addresses[i].port, listed[i].mac});
        }
    } catch (const RecorderListError& e) {
        desktop::appMessageBox(nullptr, QString::fromStdString(VisibleText(e.what())));
        return ExitCode(KestrionStatus::Usage);
    }
    CBatchUpgradeDlg dialog(std::move(recorders), nullptr, m_timings);
    m_pBatchWnd = &dialog;
    dialog.exec();
    m_pBatchWnd = nullptr;
    return 0;
}
