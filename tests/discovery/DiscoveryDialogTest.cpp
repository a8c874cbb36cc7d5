// The main window against recorders played on loopback by a fake that the test steers: rows,
// refresh, stale rows, the parts of Modify IP the simulated recorders cannot play (a login that
// goes unanswered, results outside the tables), the busy state of a login wait, the web page.
// Every login and modify outcome is played by the simulated recorders in SimulatedRecordersTest.

#include "discovery/DiscoveryDialog.h"
#include "discovery/ModifyIpDialog.h"
#include "discovery/ValidateDialog.h"
#include "tests/discovery/GuiTestSupport.h"

#include "desktop/Browser.h"
#include "desktop/DialogUnits.h"
#include "desktop/ListViewControl.h"
#include "desktop/SettingsStore.h"
#include "desktop/testing/MessageBoxRecorder.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace desktop;
using namespace std::chrono_literals;

namespace {

const std::vector<FakeDevice> kThreeRecorders = {
    {0xC0A8016C, 37777, 0xFFFFFF00, 0xC0A80101, "00:11:22:33:44:01"}, // 192.168.1.108
    {0xC0A8016D, 37778, 0xFFFF0000, 0xC0A80001, "00:11:22:33:44:02"}, // 192.168.1.109
    {0x0A000005, 80, 0xFF000000, 0x0A0000FE, "00:11:22:33:44:03"},    // 10.0.0.5
};

class DiscoveryDialogTest : public ::testing::Test {
protected:
    void SetUp() override { network.setDevices(kThreeRecorders); }

    std::unique_ptr<DiscoveryDialog> openWindow(std::chrono::milliseconds loginWait = 10s,
                                                bool showAdd = false) {
        DiscoveryDialog::Options options;
        options.engine = DiscoveryEngineConfig{kLoopback, network.port(), 0, loginWait};
        options.showAddButton = showAdd;
        auto dialog = std::make_unique<DiscoveryDialog>(options);
        dialog->show();
        return dialog;
    }

    // Opens the window and waits until the rows of the first search are listed.
    // Modify IP was refused with one "Prompt" box: no dialog opened and no login went out.
    void expectPromptOnly(const DialogScript& script, const QString& text) {
        ASSERT_EQ(boxes.count(), 1u);
        EXPECT_EQ(boxes.last().text, text);
        EXPECT_EQ(boxes.last().caption, QStringLiteral("Prompt"));
        EXPECT_TRUE(script.unexpected().empty());
        EXPECT_TRUE(network.requests(DISC_LOGIN).empty());
    }

    std::unique_ptr<DiscoveryDialog> openWithRows(std::size_t rows = 3,
                                                  std::chrono::milliseconds loginWait = 10s) {
        auto dialog = openWindow(loginWait);
        EXPECT_TRUE(waitRows(*dialog, rows));
        return dialog;
    }

    static bool waitRows(const DiscoveryDialog& dialog, std::size_t rows) {
        return QTest::qWaitFor([&] { return dialog.deviceList()->itemCount() == int(rows); }, 10000);
    }

    static QStringList rowTexts(const DiscoveryDialog& dialog, int row) {
        QStringList texts;
        for (int column = 0; column < 6; ++column) {
            texts << dialog.deviceList()->itemText(row, column);
        }
        return texts;
    }

    // As the mouse makes one: a click, then the second press that the system turns into a double
    // click, then its release.
    static void doubleClick(ListViewControl* list, QPoint at) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }

    // Types the credentials into the Validate dialog and presses OK.
    static std::function<void(ValidateDialog&)> credentials(const QString& user, const QString& password) {
        return [user, password](ValidateDialog& validate) {
            validate.itemAs<QLineEdit>(ValidateDialog::IDC_USERNAME)->setText(user);
            validate.itemAs<QLineEdit>(ValidateDialog::IDC_PASSWORD)->setText(password);
            validate.itemAs<QPushButton>(IDOK)->click();
        };
    }

    // Runs Modify IP up to the end of the login; the script answers the dialogs.
    static void modifyIp(DiscoveryDialog& dialog, DialogScript& script) {
        QSignalSpy ended(&dialog, &DiscoveryDialog::loginEnded);
        press(dialog, DiscoveryDialog::IDC_MODIFY_IP);
        EXPECT_TRUE(ended.count() > 0 || ended.wait(15000));
        EXPECT_TRUE(script.waitDone());
    }

    FakeNetwork network;
    MessageBoxRecorder boxes;
};

} // namespace

TEST_F(DiscoveryDialogTest, WindowHasTheTemplateGeometryColumnsAndStyles) {
    auto dialog = openWindow();
    const DialogBaseUnits units = dialog->baseUnits();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Pellory"));
    EXPECT_EQ(dialog->size(), QSize(dluToPixelsX(420, units), dluToPixelsY(271, units)));
    EXPECT_TRUE(dialog->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(dialog->windowIcon().isNull());
    EXPECT_EQ(dialog->item(DiscoveryDialog::IDC_DEVICE_LIST)->geometry(), dialog->toPixels(7, 4, 403, 234));
    EXPECT_EQ(dialog->item(DiscoveryDialog::IDC_STATUS)->geometry(), dialog->toPixels(7, 245, 208, 14));
    EXPECT_EQ(dialog->itemText(DiscoveryDialog::IDC_MODIFY_IP), QStringLiteral("Modify IP"));
    EXPECT_EQ(dialog->itemText(DiscoveryDialog::IDC_REFRESH), QStringLiteral("Refresh"));
    EXPECT_EQ(dialog->itemText(DiscoveryDialog::IDC_ADD), QStringLiteral("Add"));
    EXPECT_FALSE(dialog->isItemShown(DiscoveryDialog::IDC_ADD));
    EXPECT_TRUE(dialog->statusLine().isEmpty());

    const ListViewControl* list = dialog->deviceList();
    const QStringList headings = {"No.",         "IP Address",      "Port Number",
                                  "Subnet Mask", "Default Gateway", "Mac Address "};
    const int widths[] = {30, 120, 90, 120, 120, 150};
    ASSERT_EQ(list->columnCount(), 6);
    for (int column = 0; column < 6; ++column) {
        EXPECT_EQ(list->horizontalHeaderItem(column)->text(), headings[column]);
        // The last column stretches to the list's right edge.
        if (column < 5) {
            EXPECT_EQ(list->columnWidth(column), widths[column]);
        } else {
            EXPECT_GE(list->columnWidth(column), widths[column]);
        }
        EXPECT_TRUE(list->horizontalHeaderItem(column)->textAlignment() & Qt::AlignLeft);
    }
    EXPECT_TRUE(list->showGrid());
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);

    // Red text on the window's own background colour.
    const auto* status = dialog->itemAs<QLabel>(DiscoveryDialog::IDC_STATUS);
    EXPECT_EQ(status->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_FALSE(status->autoFillBackground());
    const QImage image = dialog->grab().toImage();
    EXPECT_EQ(image.pixelColor(dialog->toPixels(2, 262, 1, 1).topLeft()), QColor(198, 206, 225));
}

TEST_F(DiscoveryDialogTest, RegisterOptionShowsTheAddButton) {
    auto dialog = openWindow(10s, true);
    EXPECT_TRUE(dialog->isItemShown(DiscoveryDialog::IDC_ADD));
    EXPECT_EQ(dialog->item(DiscoveryDialog::IDC_ADD)->geometry(), dialog->toPixels(236, 245, 50, 14));
}

TEST_F(DiscoveryDialogTest, RowsAppearNumberedFromOneWithEveryColumn) {
    auto dialog = openWithRows();
    EXPECT_EQ(network.requests(DISC_SEARCH).size(), 1u);
    EXPECT_EQ(rowTexts(*dialog, 0), QStringList({"1", "192.168.1.108", "37777", "255.255.255.0",
                                                 "192.168.1.1", "00:11:22:33:44:01"}));
    EXPECT_EQ(rowTexts(*dialog, 1), QStringList({"2", "192.168.1.109", "37778", "255.255.0.0", "192.168.0.1",
                                                 "00:11:22:33:44:02"}));
    EXPECT_EQ(rowTexts(*dialog, 2),
              QStringList({"3", "10.0.0.5", "80", "255.0.0.0", "10.0.0.254", "00:11:22:33:44:03"}));
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(dialog->engineRow(row), std::size_t(row));
    }
    // The newest row is the selected row and the selection mark.
    EXPECT_EQ(dialog->deviceList()->selectionMark(), 2);
    EXPECT_EQ(dialog->deviceList()->selectedRows(), std::vector<int>{2});
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(DiscoveryDialogTest, RefreshEmptiesTheListAndRefillsItFromOne) {
    auto dialog = openWithRows();
    dialog->statusText("Cannot Set!");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->statusLine().isEmpty(); }));

    // Two recorders are gone, one is new.
    network.setDevices({kThreeRecorders[2], {0x0A000009, 81, 0xFF000000, 0x0A0000FE, "00:11:22:33:44:09"}});
    const std::uint64_t before = dialog->engine().generation();
    press(*dialog, DiscoveryDialog::IDC_REFRESH);
    EXPECT_EQ(dialog->deviceList()->itemCount(), 0);
    EXPECT_TRUE(dialog->statusLine().isEmpty());
    EXPECT_EQ(dialog->engine().generation(), before + 1);

    ASSERT_TRUE(waitRows(*dialog, 2));
    EXPECT_EQ(network.requests(DISC_SEARCH).size(), 2u);
    EXPECT_EQ(rowTexts(*dialog, 0).mid(0, 3), QStringList({"1", "10.0.0.5", "80"}));
    EXPECT_EQ(rowTexts(*dialog, 1).mid(0, 3), QStringList({"2", "10.0.0.9", "81"}));
    EXPECT_EQ(dialog->engineRow(1), std::size_t(1));
}

TEST_F(DiscoveryDialogTest, NoticeOfAnEarlierGenerationIsDropped) {
    auto dialog = openWithRows();
    network.setDevices({});
    press(*dialog, DiscoveryDialog::IDC_REFRESH);
    ASSERT_TRUE(network.recorder().waitRequests(2));

    // A row found before the refresh, whose notice was still on its way, and one found after.
    dialog->deviceAdded(DeviceAddedNotice{0, 3, "10.1.1.1", 1, "255.0.0.0", "10.0.0.1", "stale"});
    const std::uint64_t current = dialog->engine().generation();
    dialog->deviceAdded(DeviceAddedNotice{current, 0, "10.2.2.2", 2, "255.0.0.0", "10.0.0.1", "fresh"});
    // Both notices were queued in order: once the second is listed, the first has been handled.
    ASSERT_TRUE(waitRows(*dialog, 1));
    EXPECT_EQ(dialog->deviceList()->itemCount(), 1);
    EXPECT_EQ(rowTexts(*dialog, 0), QStringList({"1", "10.2.2.2", "2", "255.0.0.0", "10.0.0.1", "fresh"}));
}

TEST_F(DiscoveryDialogTest, ModifyIpWithAnEmptyListAsksForARecorder) {
    network.setDevices({});
    auto dialog = openWindow();
    ASSERT_TRUE(network.recorder().waitRequests(1));
    DialogScript script; // no dialog may open
    press(*dialog, DiscoveryDialog::IDC_MODIFY_IP);
    expectPromptOnly(script, QStringLiteral("Pleae select one device at least."));
}

TEST_F(DiscoveryDialogTest, ModifyIpWithSeveralRowsSelectedAsksForOne) {
    auto dialog = openWithRows();
    dialog->deviceList()->selectAll();
    ASSERT_GT(dialog->deviceList()->selectedRows().size(), 1u);
    DialogScript script; // no dialog may open
    press(*dialog, DiscoveryDialog::IDC_MODIFY_IP);
    expectPromptOnly(script, QStringLiteral("Please select only one device to modify its IP."));
}

TEST_F(DiscoveryDialogTest, ModifyResultsOtherThanTheFourLeaveTheStatusAlone) {
    auto dialog = openWithRows();
    // Result 1, then 2 and 5, which change nothing, then a new recorder: its row shows that the
    // datagrams before it have been handled.
    network.setModifyAnswer(
        {buildModifyIpReply(1), buildModifyIpReply(2), buildModifyIpReply(5),
         buildSearchReply(FakeNetwork::recordOf({0x0A000007, 7, 0xFF000000, 0x0A0000FE, "m"}),
                          DeviceIdentity::fromText("00:11:22:33:44:07"))});
    DialogScript script;
    script.then<ValidateDialog>(credentials("admin", "admin"))
        .then<ModifyIpDialog>([](ModifyIpDialog& modify) { modify.itemAs<QPushButton>(IDOK)->click(); });
    modifyIp(*dialog, script);
    ASSERT_TRUE(waitRows(*dialog, 4));
    EXPECT_EQ(dialog->statusLine(), QStringLiteral("Failed to modify IP address!"));
}

TEST_F(DiscoveryDialogTest, CancelInEitherDialogEndsTheCommand) {
    auto dialog = openWithRows();
    DialogScript cancelValidate;
    cancelValidate.then<ValidateDialog>(
        [](ValidateDialog& validate) { validate.itemAs<QPushButton>(IDCANCEL)->click(); });
    press(*dialog, DiscoveryDialog::IDC_MODIFY_IP);
    EXPECT_TRUE(cancelValidate.done());
    EXPECT_FALSE(dialog->isBusy());
    EXPECT_TRUE(network.requests(DISC_LOGIN).empty());

    DialogScript cancelModify;
    cancelModify.then<ValidateDialog>(credentials("admin", "admin"))
        .then<ModifyIpDialog>([](ModifyIpDialog& m) { m.itemAs<QPushButton>(IDCANCEL)->click(); });
    modifyIp(*dialog, cancelModify);
    EXPECT_EQ(network.requests(DISC_LOGIN).size(), 1u);
    // The recorder's record is untouched: a second Modify IP shows the same values.
    EXPECT_EQ(dialog->engine().rowRecord(2)->address(), kThreeRecorders[2].address);
    EXPECT_TRUE(network.requests(DISC_MODIFY_IP).empty());
}

TEST_F(DiscoveryDialogTest, SecondModifyIpStartsFromTheValuesSentFirst) {
    auto dialog = openWithRows();
    network.setModifyAnswer({buildModifyIpReply(1)}); // refused, yet the values stay
    DialogScript first;
    first.then<ValidateDialog>(credentials("admin", "admin")).then<ModifyIpDialog>([](ModifyIpDialog& m) {
        m.setItemText(ModifyIpDialog::IDC_IPADDRESS, QStringLiteral("10.0.0.77"));
        m.itemAs<QPushButton>(IDOK)->click();
    });
    modifyIp(*dialog, first);

    QString shown;
    DialogScript second;
    second.then<ValidateDialog>(credentials("admin", "admin")).then<ModifyIpDialog>([&](ModifyIpDialog& m) {
        shown = m.itemText(ModifyIpDialog::IDC_IPADDRESS);
        m.itemAs<QPushButton>(IDCANCEL)->click();
    });
    modifyIp(*dialog, second);
    EXPECT_EQ(shown, QStringLiteral("10.0.0.77"));
    EXPECT_EQ(dialog->deviceList()->itemText(2, 1), QStringLiteral("10.0.0.5"));
}

TEST_F(DiscoveryDialogTest, ARowFoundWhileTypingCredentialsBecomesTheOneActedOn) {
    auto dialog = openWithRows();
    const FakeDevice late{0x0A000009, 9, 0xFF000000, 0x0A0000FE, "00:11:22:33:44:09"};
    DialogScript script;
    script.then<ValidateDialog>([&](ValidateDialog& validate) {
        network.recorder().sendTo(
            dialog->engine().localPort(),
            buildSearchReply(FakeNetwork::recordOf(late), DeviceIdentity::fromText(late.mac)));
        // The row is listed while the dialog is still open and becomes the selection mark.
        EXPECT_TRUE(QTest::qWaitFor([&] { return dialog->deviceList()->itemCount() == 4; }));
        EXPECT_EQ(dialog->deviceList()->selectionMark(), 3);
        credentials("admin", "admin")(validate);
    });
    network.setLoginAnswer(std::make_pair(1, 0));
    modifyIp(*dialog, script);
    const auto login = readLoginRequest(network.requests(DISC_LOGIN).at(0));
    ASSERT_TRUE(login);
    EXPECT_EQ(login->identity, DeviceIdentity::fromText(late.mac));
}

TEST_F(DiscoveryDialogTest, LoginTimeOutShowsOuvertimeAndTheWindowTakesNoCommandMeanwhile) {
    network.setLoginAnswer(std::nullopt);
    auto dialog = openWithRows(3, 300ms);
    DialogScript script;
    script.then<ValidateDialog>(credentials("admin", "admin"));
    QSignalSpy ended(dialog.get(), &DiscoveryDialog::loginEnded);
    press(*dialog, DiscoveryDialog::IDC_MODIFY_IP);

    // Waiting: busy cursor, and Refresh, Modify IP and closing are refused.
    ASSERT_TRUE(dialog->isBusy());
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    press(*dialog, DiscoveryDialog::IDC_REFRESH);
    press(*dialog, DiscoveryDialog::IDC_MODIFY_IP);
    dialog->close();
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_EQ(dialog->deviceList()->itemCount(), 3);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(network.requests(DISC_SEARCH).size(), 1u);

    ASSERT_TRUE(ended.wait(10000));
    EXPECT_FALSE(dialog->isBusy());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(network.requests(DISC_LOGIN).size(), 1u);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, QStringLiteral("It is ouvertime."));
    EXPECT_EQ(boxes.last().caption, applicationName());
    EXPECT_TRUE(script.unexpected().empty());

    // The window takes commands again.
    press(*dialog, DiscoveryDialog::IDC_REFRESH);
    EXPECT_EQ(dialog->deviceList()->itemCount(), 0);
    EXPECT_TRUE(waitRows(*dialog, 3));
}

TEST_F(DiscoveryDialogTest, ClosingDuringALoginWaitNeitherHangsNorLeavesTheBusyCursor) {
    network.setLoginAnswer(std::nullopt);
    auto dialog = openWithRows(3, 60s);
    DialogScript script;
    script.then<ValidateDialog>(credentials("admin", "admin"));
    press(*dialog, DiscoveryDialog::IDC_MODIFY_IP);
    ASSERT_TRUE(dialog->isBusy());
    ASSERT_TRUE(network.recorder().waitRequests(2)); // search and login
    dialog.reset();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    QTest::qWait(0);
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(DiscoveryDialogTest, DoubleClickOpensTheSelectedRecordersAddress) {
    std::vector<QUrl> opened;
    const UrlOpener previous = setUrlOpener([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    auto dialog = openWithRows();
    ListViewControl* list = dialog->deviceList();
    const QRect cell = list->visualItemRect(list->item(0, DiscoveryDialog::ColumnMac));
    doubleClick(list, cell.center());
    ASSERT_EQ(opened.size(), 1u);
    // The address alone, whatever the port column says.
    EXPECT_EQ(opened[0], QUrl(QStringLiteral("http://192.168.1.108")));

    const QRect third = list->visualItemRect(list->item(2, DiscoveryDialog::ColumnNumber));
    doubleClick(list, third.center());
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1], QUrl(QStringLiteral("http://10.0.0.5")));
    setUrlOpener(previous);
}

// The window grows with the technician's screen: the list takes the room, the status line and the
// buttons stay under its left and right edges, the last column stretches, and the size comes back
// at the next start. It never opens below the template's size.
TEST_F(DiscoveryDialogTest, TheWindowResizesAroundTheListAndOpensAgainAtItsLastSize) {
    QTemporaryDir config;
    const QString userConfig = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    SettingsStore::setLocationForTesting(config.path());
    const auto restore = qScopeGuard([&] { SettingsStore::setLocationForTesting(userConfig); });

    auto dialog = openWindow();
    const QSize smallest = dialog->size();
    EXPECT_EQ(dialog->minimumSize(), smallest);
    EXPECT_TRUE(dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
    // Within the offscreen screen's 800 by 600 pixels.
    const int dw = 40;
    const int dh = 60;
    const QSize grown = smallest + QSize(dw, dh);
    dialog->resize(grown);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->size() == grown; }));
    const struct {
        int id;
        QRect placed;
    } controls[] = {
        {DiscoveryDialog::IDC_DEVICE_LIST, dialog->toPixels(7, 4, 403, 234).adjusted(0, 0, dw, dh)},
        {DiscoveryDialog::IDC_STATUS,
         dialog->toPixels(7, 245, 208, 14).translated(0, dh).adjusted(0, 0, dw, 0)},
        {DiscoveryDialog::IDC_ADD, dialog->toPixels(236, 245, 50, 14).translated(dw, dh)},
        {DiscoveryDialog::IDC_MODIFY_IP, dialog->toPixels(290, 245, 50, 14).translated(dw, dh)},
        {DiscoveryDialog::IDC_REFRESH, dialog->toPixels(342, 245, 50, 14).translated(dw, dh)},
    };
    for (const auto& control : controls) {
        EXPECT_EQ(dialog->item(control.id)->geometry(), control.placed) << control.id;
    }
    const QHeaderView* header = dialog->deviceList()->horizontalHeader();
    EXPECT_EQ(header->sectionViewportPosition(5) + header->sectionSize(5), header->viewport()->width());

    dialog->close();
    dialog.reset();
    EXPECT_TRUE(QFile::exists(config.filePath(QStringLiteral("Velmora Software/Pellory.conf"))));
    dialog = openWindow();
    EXPECT_EQ(dialog->size(), grown);
    EXPECT_EQ(dialog->item(DiscoveryDialog::IDC_REFRESH)->geometry(), controls[4].placed);

    // A size below the template's, or far beyond any screen, from an edited settings file.
    dialog.reset();
    SettingsStore settings(QStringLiteral("Pellory"));
    settings.writeUInt32(QStringLiteral("WindowWidth"), 10);
    settings.writeUInt32(QStringLiteral("WindowHeight"), 4000000000u);
    dialog = openWindow();
    EXPECT_EQ(dialog->width(), smallest.width());
    EXPECT_LE(dialog->height(), dialog->screen()->availableSize().height());
    EXPECT_GE(dialog->height(), smallest.height());
}
