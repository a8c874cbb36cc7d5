// What the tests of the Kestrion windows share: a fixture that keeps the settings, the window
// registry and the tray of each test to itself and records message boxes instead of showing
// them, a window that logs the texts the session gives its controls, and the simulated
// recorder on a free loopback port.
#pragma once

#include "tests/upgrade/TestFiles.h"

#include "desktop/testing/MessageBoxRecorder.h"
#include "simulator/RecorderSim.h"
#include "upgrade/LoginDlg.h"
#include "upgrade/UpgradeDlg.h"

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The main window, with a log of what the session told it, in order: the lines of a RecordingView
// for control texts ("text <id> <text>") and "progress <percent>".
class LoggingUpgradeDlg : public CUpgradeDlg {
public:
    using CUpgradeDlg::CUpgradeDlg;

    void SetControlText(int id, const std::string& text) override;
    void SetProgress(int percent) override;

    std::vector<std::string> Log() const;

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_log;
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A shown main window with this command line (the program alone unless given).
    std::unique_ptr<LoggingUpgradeDlg> OpenWindow(QStringList arguments = {QStringLiteral("kestrion")});

    // The simulated recorder on a free loopback port; upgrades get their verdict soon.
    void StartSim(const std::function<void(sim::SimOptions&)>& tweak = {});
    // Types the recorder's address and port into the window's boxes.
    void TypeRecorderAddress(CUpgradeDlg& window);
    // Presses Login and answers the login dialog; returns once the dialog has closed.
    void Login(CUpgradeDlg& window, const QString& name = QStringLiteral("admin"),
               const QString& password = QStringLiteral("admin"));

    // Presses Open files and answers the file dialog with these names in folder.
    void OpenFiles(CUpgradeDlg& window, const QString& folder, const QStringList& names);

    // The stored value, or an invalid QVariant.
    static QVariant StoredSetting(const char* name);
    static void StoreSetting(const char* name, const QVariant& value);

    TempDir m_dir;
    desktop::MessageBoxRecorder m_boxes;
    std::unique_ptr<sim::RecorderSim> m_sim;
};

// The texts of the recorded boxes, as "caption|text".
QStringList BoxLines(const desktop::MessageBoxRecorder& boxes);
