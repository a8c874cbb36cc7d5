#include "tests/upgrade/WindowTestKit.h"

#include "desktop/SettingsStore.h"
#include "desktop/SingleInstance.h"
#include "desktop/TrayIcon.h"
#include "tests/common/LoopbackSim.h"
#include "tests/upgrade/RecordingView.h"
#include "upgrade/UpgradeIds.h"
#include "upgrade/UpgradeState.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QSettings>
#include <QTimer>

#include <filesystem>

using namespace std::chrono_literals;

void LoggingUpgradeDlg::SetControlText(int id, const std::string& text) {
    {
        std::lock_guard lock(m_lock);
        m_log.push_back(RecordingView::Text(id, text));
    }
    CUpgradeDlg::SetControlText(id, text);
}

void LoggingUpgradeDlg::SetProgress(int percent) {
    {
        std::lock_guard lock(m_lock);
        m_log.push_back("progress " + std::to_string(percent));
    }
    CUpgradeDlg::SetProgress(percent);
}

std::vector<std::string> LoggingUpgradeDlg::Log() const {
    std::lock_guard lock(m_lock);
    return m_log;
}

void WindowTest::SetUp() {
    QCoreApplication::setApplicationName(QString::fromUtf8(kProgramName));
    std::filesystem::create_directories(m_dir / "settings");
    std::filesystem::create_directories(m_dir / "run");
    desktop::SettingsStore::setLocationForTesting(QString::fromStdString(m_dir / "settings"));
    desktop::setInstanceFolderForTesting(QString::fromStdString(m_dir / "run"));
    desktop::TrayIcon::setAvailableForTesting(true);
    g_nUpgradeKind = KIND_BIOS;
}

void WindowTest::TearDown() {
    if (m_sim) {
        m_sim->stop();
    }
    desktop::TrayIcon::setAvailableForTesting(std::nullopt);
    desktop::setInstanceFolderForTesting({});
    g_nUpgradeKind = KIND_BIOS;
}

std::unique_ptr<LoggingUpgradeDlg> WindowTest::OpenWindow(QStringList arguments) {
    auto window = std::make_unique<LoggingUpgradeDlg>(std::move(arguments));
    window->show();
    return window;
}

void WindowTest::StartSim(const std::function<void(sim::SimOptions&)>& tweak) {
    sim::SimOptions options = LoopbackSimOptions();
    options.upgrade.progressStep = 25;
    options.upgrade.progressInterval = 20ms;
    if (tweak) {
        tweak(options);
    }
    m_sim = std::make_unique<sim::RecorderSim>(options);
    m_sim->start();
}

void WindowTest::TypeRecorderAddress(CUpgradeDlg& window) {
    window.setItemText(IDC_IPADDRESS, QStringLiteral("127.0.0.1"));
    window.setItemText(IDC_PORT, QString::number(m_sim->tcpPort()));
}

void WindowTest::Login(CUpgradeDlg& window, const QString& name, const QString& password) {
    // The login dialog runs its own loop inside the press of Login: the timer answers it from
    // there, and cancels it if the recorder never accepts.
    QTimer answer;
    answer.setInterval(5);
    QElapsedTimer since;
    since.start();
    bool pressed = false;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        CLoginDlg* dialog = window.LoginDialog();
        if (dialog == nullptr || !dialog->isVisible()) {
            return;
        }
        if (!pressed) {
            pressed = true;
            dialog->setItemText(IDC_LOGIN_NAME, name);
            dialog->setItemText(IDC_LOGIN_PASSWORD, password);
            dialog->itemAs<QAbstractButton>(desktop::IDOK)->click();
        } else if (since.elapsed() > 20000) {
            ADD_FAILURE() << "the login dialog did not close";
            dialog->endDialog(desktop::IDCANCEL);
        }
    });
    answer.start();
    window.itemAs<QAbstractButton>(IDC_LOGIN)->click();
    EXPECT_TRUE(pressed) << "no login dialog opened";
}

void WindowTest::OpenFiles(CUpgradeDlg& window, const QString& folder, const QStringList& names) {
    QTimer answer;
    answer.setInterval(10);
    bool answered = false;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            return;
        }
        answer.stop();
        answered = true;
        dialog->setDirectory(folder);
        QStringList quoted;
        for (const QString& name : names) {
            quoted << QLatin1Char('"') + name + QLatin1Char('"');
        }
        // Typed into the name box, as a user picks several files by keyboard.
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(quoted.join(QLatin1Char(' ')));
        static_cast<QDialog*>(dialog)->accept(); // public as a QDialog
    });
    answer.start();
    window.itemAs<QAbstractButton>(IDC_OPEN_FILES)->click();
    EXPECT_TRUE(answered) << "no file dialog opened";
}

QVariant WindowTest::StoredSetting(const char* name) {
    return QSettings(QStringLiteral("Velmora Software"), QStringLiteral("Zantrel"))
        .value(QString::fromUtf8(name));
}

void WindowTest::StoreSetting(const char* name, const QVariant& value) {
    QSettings settings(QStringLiteral("Velmora Software"), QStringLiteral("Zantrel"));
    settings.setValue(QString::fromUtf8(name), value);
}

QStringList BoxLines(const desktop::MessageBoxRecorder& boxes) {
    QStringList lines;
    for (const auto& entry : boxes.entries()) {
        lines << entry.caption + QLatin1Char('|') + entry.text;
    }
    return lines;
}
