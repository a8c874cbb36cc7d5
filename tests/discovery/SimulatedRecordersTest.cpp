// The main window against the simulated recorders: in-process for the commands, and the
// recorder-sim program itself for the list.

#include "clientstore/ClientDataFile.h"
#include "clientstore/ClientStore.h"
#include "discovery/DeviceManagementDialog.h"
#include "discovery/DiscoveryDialog.h"
#include "discovery/ModifyIpDialog.h"
#include "discovery/ValidateDialog.h"
#include "tests/discovery/GuiTestSupport.h"
#include "upgrade/BatchUpgradeDlg.h"

#include "simulator/RecorderSim.h"
#include "simulator/SimProcess.h"

#include "desktop/ListViewControl.h"
#include "desktop/testing/MessageBoxRecorder.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace desktop;
using namespace std::chrono_literals;

namespace {

sim::SimOptions simOptions(unsigned count) {
    sim::SimOptions options;
    options.tcpPort = 0;
    options.udpPort = 0;
    options.discovery.count = count;
    return options;
}

std::unique_ptr<DiscoveryDialog> openWindow(std::uint16_t udpPort, bool showAdd = false) {
    DiscoveryDialog::Options options;
    options.engine = DiscoveryEngineConfig{kLoopback, udpPort, 0, 20s};
    options.showAddButton = showAdd;
    auto window = std::make_unique<DiscoveryDialog>(options);
    window->show();
    return window;
}

bool waitRows(const DiscoveryDialog& window, int rows) {
    return QTest::qWaitFor([&] { return window.deviceList()->itemCount() == rows; }, 20000);
}

QStringList rowTexts(const DiscoveryDialog& window, int row) {
    QStringList texts;
    for (int column = 0; column < 6; ++column) {
        texts << window.deviceList()->itemText(row, column);
    }
    return texts;
}

std::function<void(ValidateDialog&)> credentials(const QString& user, const QString& password) {
    return [user, password](ValidateDialog& validate) {
        validate.setItemText(ValidateDialog::IDC_USERNAME, user);
        validate.setItemText(ValidateDialog::IDC_PASSWORD, password);
        press(validate, IDOK);
    };
}

// Runs Modify IP on the selected row until the login has ended and the script is done.
void modifyIp(DiscoveryDialog& window, DialogScript& script) {
    QSignalSpy ended(&window, &DiscoveryDialog::loginEnded);
    press(window, DiscoveryDialog::IDC_MODIFY_IP);
    EXPECT_TRUE(ended.count() > 0 || ended.wait(25000));
    EXPECT_TRUE(script.waitDone());
}

} // namespace

TEST(PelloryWithSimulatedRecorders, TheProgramsRecordersAreListedNumberedFromOne) {
    sim::SimProcess recorders({"--count", "4"});
    auto window = openWindow(recorders.udpPort());
    ASSERT_TRUE(waitRows(*window, 4));
    for (int row = 0; row < 4; ++row) {
        const QString n = QString::number(row + 1);
        EXPECT_EQ(rowTexts(*window, row),
                  QStringList({n, "127.0.0." + n, QString::number(recorders.tcpPort() + row), "255.0.0.0",
                               "127.0.0.254", "02:53:49:4D:00:0" + n}));
    }
}

TEST(PelloryWithSimulatedRecorders, ModifyIpIsAdoptedAndShownAfterRefresh) {
    MessageBoxRecorder boxes;
    sim::RecorderSim recorders(simOptions(3));
    recorders.start();
    auto window = openWindow(recorders.udpPort());
    ASSERT_TRUE(waitRows(*window, 3));
    window->deviceList()->selectItem(1);

    DialogScript refused;
    refused.then<ValidateDialog>(credentials("admin", "wrong"));
    modifyIp(*window, refused);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, QStringLiteral("Invalid password!"));

    DialogScript accepted;
    accepted.then<ValidateDialog>(credentials("admin", "admin"))
        .then<ModifyIpDialog>([](ModifyIpDialog& modify) {
            EXPECT_EQ(modify.itemText(ModifyIpDialog::IDC_IPADDRESS), QStringLiteral("127.0.0.2"));
            EXPECT_EQ(modify.itemText(ModifyIpDialog::IDC_SUBNET_MASK), QStringLiteral("255.0.0.0"));
            EXPECT_EQ(modify.itemText(ModifyIpDialog::IDC_GATEWAY), QStringLiteral("127.0.0.254"));
            modify.setItemText(ModifyIpDialog::IDC_IPADDRESS, QStringLiteral("127.0.0.66"));
            modify.setItemText(ModifyIpDialog::IDC_SUBNET_MASK, QStringLiteral("255.255.255.0"));
            modify.setItemText(ModifyIpDialog::IDC_GATEWAY, QStringLiteral("127.0.0.1"));
            press(modify, IDOK);
        });
    modifyIp(*window, accepted);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->statusLine().isEmpty(); }, 20000));
    EXPECT_EQ(window->statusLine(), QStringLiteral("Modified IP address successfully!"));
    EXPECT_EQ(window->deviceList()->itemText(1, 1), QStringLiteral("127.0.0.2"));

    press(*window, DiscoveryDialog::IDC_REFRESH);
    EXPECT_TRUE(window->statusLine().isEmpty());
    ASSERT_TRUE(waitRows(*window, 3));
    EXPECT_EQ(rowTexts(*window, 1).mid(0, 5),
              QStringList({"2", "127.0.0.66", QString::number(recorders.tcpPort() + 1), "255.255.255.0",
                           "127.0.0.1"}));
    EXPECT_EQ(boxes.count(), 1u);
    EXPECT_TRUE(recorders.state().faults.empty());
}

TEST(PelloryWithSimulatedRecorders, EveryLoginOutcomeAndModifyResult) {
    MessageBoxRecorder boxes;
    const struct {
        std::uint8_t result;
        std::uint8_t reason;
        const char* text; // null: no message
    } logins[] = {
        {1, 0, "Invalid password!"},
        {1, 1, "Invalid account!"},
        {1, 3, "The account has already logged in!"},
        {1, 4, "The account has been locked!"},
        {1, 5, "The account is listed in the restricted sites."},
        {1, 6, "System busying."},
        {1, 7, "Login failed!"},
        {3, 0, "The user has logined."},
        {2, 0, nullptr},
    };
    for (const auto& login : logins) {
        sim::SimOptions options = simOptions(2);
        options.discovery.loginResult = login.result;
        options.discovery.loginReason = login.reason;
        sim::RecorderSim recorders(options);
        recorders.start();
        auto window = openWindow(recorders.udpPort());
        ASSERT_TRUE(waitRows(*window, 2));
        boxes.clear();
        DialogScript script;
        script.then<ValidateDialog>(credentials("admin", "admin"));
        modifyIp(*window, script);
        EXPECT_TRUE(script.unexpected().empty());
        if (login.text == nullptr) {
            EXPECT_EQ(boxes.count(), 0u) << "result " << int(login.result);
        } else {
            ASSERT_EQ(boxes.count(), 1u) << login.text;
            EXPECT_EQ(boxes.last().text, QString::fromUtf8(login.text));
            EXPECT_EQ(boxes.last().caption, applicationName());
        }
        EXPECT_TRUE(recorders.state().modifies.empty());
    }

    const std::pair<std::uint8_t, const char*> modifies[] = {
        {0, "Modified IP address successfully!"},
        {1, "Failed to modify IP address!"},
        {3, "Data irregular!"},
        {4, "Cannot Set!"},
    };
    for (const auto& modify : modifies) {
        const char* text = modify.second;
        sim::SimOptions options = simOptions(1);
        options.discovery.modifyResult = modify.first;
        sim::RecorderSim recorders(options);
        recorders.start();
        auto window = openWindow(recorders.udpPort());
        ASSERT_TRUE(waitRows(*window, 1));
        DialogScript script;
        script.then<ValidateDialog>(credentials("admin", "admin"))
            .then<ModifyIpDialog>([](ModifyIpDialog& m) {
                m.setItemText(ModifyIpDialog::IDC_IPADDRESS, QStringLiteral("127.0.0.9"));
                press(m, IDOK);
            });
        modifyIp(*window, script);
        EXPECT_TRUE(QTest::qWaitFor([&] { return window->statusLine() == QString::fromUtf8(text); }, 20000))
            << text << " / " << window->statusLine().toStdString();
    }
}

TEST(PelloryWithSimulatedRecorders, AFoundRecorderIsRegisteredWithItsAddressAndPort) {
    MessageBoxRecorder boxes;
    QTemporaryDir folder;
    ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("XML")));
    const QString dataFile = folder.filePath(QStringLiteral("XML/Data.xml"));
    ClientDataFile::setPath(dataFile.toStdString());
    sim::RecorderSim recorders(simOptions(3));
    recorders.start();
    {
        auto window = openWindow(recorders.udpPort(), true);
        ASSERT_TRUE(waitRows(*window, 3));
        window->deviceList()->selectItem(2);
        DialogScript script;
        script.then<DeviceManagementDialog>([](DeviceManagementDialog& dialog) {
            dialog.setItemText(DeviceManagementDialog::IDC_DEVICE_NAME, QStringLiteral("Yard"));
            dialog.setItemText(DeviceManagementDialog::IDC_USER_NAME, QStringLiteral("admin"));
            dialog.setItemText(DeviceManagementDialog::IDC_PASSWORD, QStringLiteral("admin"));
            dialog.setItemText(DeviceManagementDialog::IDC_CHANNELS, QStringLiteral("4"));
            press(dialog, IDOK);
        });
        press(*window, DiscoveryDialog::IDC_ADD);
        ASSERT_TRUE(script.waitDone());
    }
    EXPECT_EQ(boxes.count(), 0u);
    QFile file(dataFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray saved = file.readAll();
    EXPECT_TRUE(saved.contains("name=\"Yard1\" host=\"127.0.0.3\" port=\"" +
                               QByteArray::number(recorders.tcpPort() + 2) + "\" cameras=\"4\""))
        << saved.toStdString();
    ClientDataFile::setPath({});
}

// "Upgrade..." on two of three listed recorders: the batch window upgrades exactly those, each at
// the address and port the list gave.
TEST(PelloryWithSimulatedRecorders, UpgradeOpensTheBatchWindowWithTheSelectedRecorders) {
    sim::SimOptions options = simOptions(3);
    options.upgrade.settle = 20ms;
    options.upgrade.progressInterval = 10ms;
    sim::RecorderSim recorders(options);
    recorders.start();
    auto window = openWindow(recorders.udpPort());
    ASSERT_TRUE(waitRows(*window, 3));
    ListViewControl* list = window->deviceList();
    list->selectItem(-1);
    EXPECT_EQ(window->upgradeSelected(), nullptr) << "nothing selected";
    list->selectItem(0);
    list->selectionModel()->select(list->model()->index(2, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);

    CBatchUpgradeDlg* batch = window->upgradeSelected();
    ASSERT_NE(batch, nullptr);
    ASSERT_EQ(batch->table()->rowCount(), 2);

    QTemporaryDir folder;
    const QString bios = folder.filePath(QStringLiteral("fw.bin"));
    QFile file(bios);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("VX") + QByteArray(5000, 'b'));
    file.close();
    ASSERT_TRUE(batch->chooseFiles({bios}));
    batch->setAccount(QStringLiteral("admin"), QStringLiteral("admin"));
    batch->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !batch->running(); }, 20000));
    for (int r = 0; r < 2; ++r) {
        EXPECT_EQ(batch->table()->item(r, CBatchUpgradeDlg::ColResult)->text(), QStringLiteral("success"))
            << r;
    }
    EXPECT_EQ(recorders.state().upgrades.size(), 2u);
    batch->close();
}

// Pellory's window goes with the batch windows it opened: while one still sends, it asks as the
// batch window itself does, and No keeps both open and the recorder being sent to.
TEST(PelloryWithSimulatedRecorders, ClosingWhileABatchSendsAsksFirstAndNoKeepsBothRunning) {
    MessageBoxRecorder boxes;
    sim::SimOptions options = simOptions(1);
    // A slow link behind a small buffer: the file is still going out when the window closes.
    options.upgrade.linkRate = 500000;
    options.receiveBuffer = 16384;
    options.upgrade.keepData = false;
    sim::RecorderSim recorders(options);
    recorders.start();
    auto window = openWindow(recorders.udpPort());
    ASSERT_TRUE(waitRows(*window, 1));
    window->deviceList()->selectItem(0);
    QPointer<CBatchUpgradeDlg> batch = window->upgradeSelected();
    ASSERT_NE(batch, nullptr);

    QTemporaryDir folder;
    const QString bios = folder.filePath(QStringLiteral("fw.bin"));
    QFile file(bios);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("VX") + QByteArray(16000000, 'b'));
    file.close();
    ASSERT_TRUE(batch->chooseFiles({bios}));
    batch->setAccount(QStringLiteral("admin"), QStringLiteral("admin"));
    batch->start();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return batch->table()
                ->item(0, CBatchUpgradeDlg::ColPhase)
                ->text()
                .startsWith(QStringLiteral("sending "));
        },
        20000));

    const QString question = QString::fromUtf8(CBatchUpgradeDlg::kCloseQuestion);
    boxes.queueAnswer(IDNO);
    window->close();
    EXPECT_TRUE(window->isVisible());
    ASSERT_FALSE(batch.isNull());
    EXPECT_TRUE(batch->isVisible());
    EXPECT_TRUE(batch->running());
    EXPECT_EQ(boxes.texts(), QStringList({question}));

    boxes.queueAnswer(IDYES);
    window->close();
    EXPECT_FALSE(window->isVisible());
    ASSERT_FALSE(batch.isNull());
    EXPECT_FALSE(batch->running());
    EXPECT_EQ(boxes.texts(), QStringList({question, question}));
    EXPECT_EQ(boxes.last().buttons(), MB_YESNO);
    // The row's ending arrives as a queued call.
    ASSERT_TRUE(QTest::qWaitFor([&] { return batch->records()[0].result.has_value(); }, 10000));
    EXPECT_EQ(batch->records()[0].result->ending, UpgradeEnding::Stopped);
}
