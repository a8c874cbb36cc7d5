// The window's recorder list as a technician uses it, against recorders played on loopback: heading
// clicks that sort, rows that arrive while sorted, commands that act on the recorder shown whatever
// the order, and the list's context menu (web page, copies, export). The menu is driven for real:
// opened by a context-menu event, its entry chosen with the keyboard.

#include "discovery/DiscoveryDialog.h"
#include "discovery/ModifyIpDialog.h"
#include "discovery/ValidateDialog.h"
#include "tests/discovery/GuiTestSupport.h"
#include "upgrade/BatchUpgradeDlg.h"

#include "desktop/Browser.h"
#include "desktop/ListViewControl.h"
#include "desktop/testing/MessageBoxRecorder.h"
#include "tests/common/CsvText.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using namespace desktop;
using namespace std::chrono_literals;

namespace {

// Found in this order; sorted by address as numbers the order is 2, 0, 1, not 0, 1, 2 as text.
const std::vector<FakeDevice> kRecorders = {
    {0x0A00000A, 37777, 0xFF000000, 0x0A0000FE, "00:11:22:33:44:01"}, // 10.0.0.10
    {0xC0A8016C, 80, 0xFFFFFF00, 0xC0A80101, "00:11:22:33:44:02"},    // 192.168.1.108
    // A MAC text that needs quoting, starts like a formula and holds a byte beyond ASCII.
    {0x0A000009, 8000, 0xFF000000, 0x0A0000FE, "=1+2,\"x\"\xE9"}, // 10.0.0.9
};

const QString kStatus = QStringLiteral("Modify IP address succeeded!");

// Reads the export back as a spreadsheet would, with CR LF between records.
std::vector<QStringList> parseCsv(const QString& text) {
    const CsvText csv = ParseCsv(text.toStdString(), "\r\n");
    EXPECT_TRUE(csv.endsWithLineEnd) << "the last line has no CR LF";
    std::vector<QStringList> rows;
    for (const auto& record : csv.records) {
        QStringList row;
        for (const std::string& field : record) {
            row << QString::fromStdString(field);
        }
        rows.push_back(row);
    }
    return rows;
}

class DiscoveryDialogListTest : public ::testing::Test {
protected:
    void SetUp() override {
        network.setDevices(kRecorders);
        previousOpener = setUrlOpener([this](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override { setUrlOpener(previousOpener); }

    // Opens the window, waits for the three recorders and puts a text on the status line that
    // nothing in the list may change.
    // Without a chooser of its own the window asks with its save dialog.
    std::unique_ptr<DiscoveryDialog> openWithRows(bool ownChooser = true,
                                                  std::chrono::milliseconds loginWait = 10s) {
        DiscoveryDialog::Options options;
        options.engine = DiscoveryEngineConfig{kLoopback, network.port(), 0, loginWait};
        if (ownChooser) {
            options.chooseExportPath = [this](QWidget*, const QString& suggested) {
                suggestions.push_back(suggested);
                return exportPath;
            };
        }
        auto dialog = std::make_unique<DiscoveryDialog>(options);
        dialog->show();
        EXPECT_TRUE(waitRows(*dialog, 3));
        dialog->statusText(kStatus.toStdString());
        EXPECT_TRUE(QTest::qWaitFor([&] { return dialog->statusLine() == kStatus; }));
        return dialog;
    }

    static bool waitRows(const DiscoveryDialog& dialog, int rows) {
        return QTest::qWaitFor([&] { return dialog.deviceList()->itemCount() == rows; }, 10000);
    }

    static void clickHeading(DiscoveryDialog& dialog, int column) {
        QHeaderView* header = dialog.deviceList()->horizontalHeader();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }

    // Each row as "No. address", top to bottom.
    static QStringList shown(const DiscoveryDialog& dialog) {
        QStringList rows;
        for (int row = 0; row < dialog.deviceList()->itemCount(); ++row) {
            rows << dialog.deviceList()->itemText(row, DiscoveryDialog::ColumnNumber) + " " +
                        dialog.deviceList()->itemText(row, DiscoveryDialog::ColumnAddress);
        }
        return rows;
    }

    static QPoint cellCentre(const DiscoveryDialog& dialog, int row) {
        const ListViewControl* list = dialog.deviceList();
        return list->visualItemRect(list->item(row, DiscoveryDialog::ColumnPort)).center();
    }

    // The menu's entries as "text" or "text (off)".
    static QStringList entries(QMenu& menu) {
        QStringList texts;
        for (const QAction* action : menu.actions()) {
            if (!action->isSeparator()) {
                texts << action->text() + (action->isEnabled() ? "" : " (off)");
            }
        }
        return texts;
    }

    QString readExport() const {
        QFile file(exportPath);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return QString::fromUtf8(file.readAll());
    }

    FakeNetwork network;
    MessageBoxRecorder boxes;
    QTemporaryDir dir;
    QString exportPath;
    std::vector<QString> suggestions;
    std::vector<QUrl> opened;
    UrlOpener previousOpener;
};

} // namespace

TEST_F(DiscoveryDialogListTest, HeadingsSortAddressesAndPortsAsNumbersAndNoGivesTheOrderFound) {
    auto dialog = openWithRows();
    EXPECT_EQ(shown(*dialog), QStringList({"1 10.0.0.10", "2 192.168.1.108", "3 10.0.0.9"}));

    clickHeading(*dialog, DiscoveryDialog::ColumnAddress);
    EXPECT_EQ(shown(*dialog), QStringList({"3 10.0.0.9", "1 10.0.0.10", "2 192.168.1.108"}));
    // Each row still names its own recorder in the engine's table.
    EXPECT_EQ(dialog->engineRow(0), std::size_t(2));
    EXPECT_EQ(dialog->engineRow(1), std::size_t(0));
    EXPECT_EQ(dialog->engineRow(2), std::size_t(1));
    clickHeading(*dialog, DiscoveryDialog::ColumnAddress);
    EXPECT_EQ(shown(*dialog), QStringList({"2 192.168.1.108", "1 10.0.0.10", "3 10.0.0.9"}));

    clickHeading(*dialog, DiscoveryDialog::ColumnPort); // 80, 8000, 37777
    EXPECT_EQ(shown(*dialog), QStringList({"2 192.168.1.108", "3 10.0.0.9", "1 10.0.0.10"}));
    clickHeading(*dialog, DiscoveryDialog::ColumnNumber);
    EXPECT_EQ(shown(*dialog), QStringList({"1 10.0.0.10", "2 192.168.1.108", "3 10.0.0.9"}));
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(dialog->engineRow(row), std::size_t(row));
    }
    EXPECT_EQ(dialog->statusLine(), kStatus);
}

TEST_F(DiscoveryDialogListTest, ARowFoundWhileSortedGoesToItsPlaceAndIsSelected) {
    auto dialog = openWithRows();
    clickHeading(*dialog, DiscoveryDialog::ColumnAddress);
    const FakeDevice late{0x0A000032, 81, 0xFF000000, 0x0A0000FE, "00:11:22:33:44:50"}; // 10.0.0.50
    network.recorder().sendTo(
        dialog->engine().localPort(),
        buildSearchReply(FakeNetwork::recordOf(late), DeviceIdentity::fromText(late.mac)));
    ASSERT_TRUE(waitRows(*dialog, 4));
    EXPECT_EQ(shown(*dialog), QStringList({"3 10.0.0.9", "1 10.0.0.10", "4 10.0.0.50", "2 192.168.1.108"}));
    EXPECT_EQ(dialog->deviceList()->selectionMark(), 2);
    EXPECT_EQ(dialog->deviceList()->selectedRows(), std::vector<int>{2});
    EXPECT_EQ(dialog->engineRow(2), std::size_t(3));

    // Back to the order found: the late row comes last, and stays selected.
    clickHeading(*dialog, DiscoveryDialog::ColumnNumber);
    EXPECT_EQ(shown(*dialog), QStringList({"1 10.0.0.10", "2 192.168.1.108", "3 10.0.0.9", "4 10.0.0.50"}));
    EXPECT_EQ(dialog->deviceList()->selectionMark(), 3);
}

TEST_F(DiscoveryDialogListTest, ALateRowLeavesTheRowTheTechnicianPickedSelected) {
    auto dialog = openWithRows();
    QTest::mouseClick(dialog->deviceList()->viewport(), Qt::LeftButton, {}, cellCentre(*dialog, 0));
    ASSERT_EQ(dialog->deviceList()->selectionMark(), 0);
    const FakeDevice late{0x0A000032, 81, 0xFF000000, 0x0A0000FE, "00:11:22:33:44:50"}; // 10.0.0.50
    network.recorder().sendTo(
        dialog->engine().localPort(),
        buildSearchReply(FakeNetwork::recordOf(late), DeviceIdentity::fromText(late.mac)));
    ASSERT_TRUE(waitRows(*dialog, 4));
    EXPECT_EQ(dialog->deviceList()->selectionMark(), 0);
    EXPECT_EQ(dialog->deviceList()->selectedRows(), std::vector<int>{0});
}

TEST_F(DiscoveryDialogListTest, ModifyIpAfterSortingActsOnTheRecorderShown) {
    auto dialog = openWithRows();
    clickHeading(*dialog, DiscoveryDialog::ColumnAddress);
    // The top row is now 10.0.0.9, the third recorder found.
    QTest::mouseClick(dialog->deviceList()->viewport(), Qt::LeftButton, {}, cellCentre(*dialog, 0));
    ASSERT_EQ(dialog->deviceList()->selectionMark(), 0);

    QString shownAddress;
    DialogScript script;
    script
        .then<ValidateDialog>([](ValidateDialog& validate) {
            validate.itemAs<QLineEdit>(ValidateDialog::IDC_USERNAME)->setText("admin");
            validate.itemAs<QPushButton>(IDOK)->click();
        })
        .then<ModifyIpDialog>([&](ModifyIpDialog& modify) {
            shownAddress = modify.itemText(ModifyIpDialog::IDC_IPADDRESS);
            modify.setItemText(ModifyIpDialog::IDC_IPADDRESS, QStringLiteral("10.0.0.99"));
            modify.itemAs<QPushButton>(IDOK)->click();
        });
    QSignalSpy ended(dialog.get(), &DiscoveryDialog::loginEnded);
    dialog->itemAs<QPushButton>(DiscoveryDialog::IDC_MODIFY_IP)->click();
    ASSERT_TRUE(ended.count() > 0 || ended.wait(15000));
    ASSERT_TRUE(script.waitDone());
    EXPECT_EQ(shownAddress, QStringLiteral("10.0.0.9"));

    const auto login = readLoginRequest(network.requests(DISC_LOGIN).at(0));
    ASSERT_TRUE(login);
    EXPECT_EQ(login->identity, DeviceIdentity::fromText(kRecorders[2].mac));
    ASSERT_TRUE(network.recorder().waitRequests(3)); // search, login, modify
    const auto modify = readModifyIpRequest(network.requests(DISC_MODIFY_IP).at(0));
    ASSERT_TRUE(modify);
    EXPECT_EQ(modify->identity, DeviceIdentity::fromText(kRecorders[2].mac));
    EXPECT_EQ(modify->record.address(), 0x0A000063u);
    EXPECT_EQ(dialog->engine().rowRecord(2)->address(), 0x0A000063u);
    EXPECT_EQ(dialog->engine().rowRecord(0)->address(), kRecorders[0].address);
}

TEST_F(DiscoveryDialogListTest, WebPageFromTheMenuAndByDoubleClickOpensTheRecorderShown) {
    auto dialog = openWithRows();
    clickHeading(*dialog, DiscoveryDialog::ColumnAddress);
    clickHeading(*dialog, DiscoveryDialog::ColumnAddress); // descending: 192.168.1.108, 10.0.0.10, 10.0.0.9

    // A right click on a row acts on that row and makes it the selection.
    withListMenu(*dialog, cellCentre(*dialog, 2), choose(DiscoveryDialog::kOpenWebPageText));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl(QStringLiteral("http://10.0.0.9")));
    EXPECT_EQ(dialog->deviceList()->selectionMark(), 2);

    withListMenu(*dialog, cellCentre(*dialog, 0), choose(DiscoveryDialog::kOpenWebPageText));
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1], QUrl(QStringLiteral("http://192.168.1.108")));

    ListViewControl* list = dialog->deviceList();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cellCentre(*dialog, 1));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cellCentre(*dialog, 1));
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, cellCentre(*dialog, 1));
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[2], QUrl(QStringLiteral("http://10.0.0.10")));
    EXPECT_EQ(dialog->statusLine(), kStatus);
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(DiscoveryDialogListTest, CopiesPutTheRowsAddressAndMacOnTheClipboard) {
    auto dialog = openWithRows();
    clickHeading(*dialog, DiscoveryDialog::ColumnAddress); // 10.0.0.9, 10.0.0.10, 192.168.1.108
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("before"));

    withListMenu(*dialog, cellCentre(*dialog, 1), choose(DiscoveryDialog::kCopyAddressText));
    EXPECT_EQ(clipboard->text(), QStringLiteral("10.0.0.10"));
    withListMenu(*dialog, cellCentre(*dialog, 0), choose(DiscoveryDialog::kCopyMacText));
    EXPECT_EQ(clipboard->text(), QString::fromLatin1("=1+2,\"x\"\xE9"));

    // The menu key acts on the selection mark.
    dialog->deviceList()->selectItem(2);
    withListMenu(*dialog, QPoint(1, 1), choose(DiscoveryDialog::kCopyMacText), QContextMenuEvent::Keyboard);
    EXPECT_EQ(clipboard->text(), QStringLiteral("00:11:22:33:44:02"));
    EXPECT_EQ(dialog->statusLine(), kStatus);
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(DiscoveryDialogListTest, MenuAwayFromARowOffersOnlyTheExport) {
    auto dialog = openWithRows();
    ListViewControl* list = dialog->deviceList();
    // Upgrade and assigning act on the selected rows, wherever the menu opens.
    const QStringList onRow = {"Open web page",  "Copy address", "Copy MAC address",
                               "Export list...", "Upgrade...",   "Assign addresses..."};
    const QStringList offRow = {"Open web page (off)", "Copy address (off)", "Copy MAC address (off)",
                                "Export list...",      "Upgrade...",         "Assign addresses..."};
    const QStringList emptyList = {"Open web page (off)", "Copy address (off)", "Copy MAC address (off)",
                                   "Export list...",      "Upgrade... (off)",   "Assign addresses... (off)"};
    QStringList seen;
    const auto look = [&](QMenu& menu) {
        seen = entries(menu);
        menu.close();
    };
    withListMenu(*dialog, cellCentre(*dialog, 1), look);
    EXPECT_EQ(seen, onRow);
    // Below the last row.
    withListMenu(*dialog, QPoint(10, list->viewport()->height() - 3), look);
    EXPECT_EQ(seen, offRow);
    // The selection stays where it was.
    EXPECT_EQ(list->selectionMark(), 1);

    // An empty list, from the keyboard.
    network.setDevices({});
    dialog->itemAs<QPushButton>(DiscoveryDialog::IDC_REFRESH)->click();
    ASSERT_EQ(list->itemCount(), 0);
    withListMenu(*dialog, QPoint(1, 1), look, QContextMenuEvent::Keyboard);
    EXPECT_EQ(seen, emptyList);
    EXPECT_TRUE(opened.empty());
}

TEST_F(DiscoveryDialogListTest, ExportWritesTheListAsShownInUtf8WithTheHeadings) {
    auto dialog = openWithRows();
    clickHeading(*dialog, DiscoveryDialog::ColumnAddress);
    exportPath = dir.filePath("recorders.csv");
    withListMenu(*dialog, QPoint(10, dialog->deviceList()->viewport()->height() - 3),
                 choose(DiscoveryDialog::kExportListText));
    ASSERT_EQ(suggestions.size(), 1u);
    EXPECT_TRUE(suggestions[0].endsWith(QStringLiteral(".csv")));

    const QString text = readExport();
    const std::vector<QStringList> rows = parseCsv(text);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], QStringList({"No.", "IP Address", "Port Number", "Subnet Mask", "Default Gateway",
                                    "Mac Address "}));
    // A MAC text that looks like a formula is kept as text, behind an apostrophe; its last byte
    // comes out as UTF-8 é.
    EXPECT_EQ(rows[1], QStringList({"3", "10.0.0.9", "8000", "255.0.0.0", "10.0.0.254",
                                    QString::fromUtf8("'=1+2,\"x\"\u00e9")}));
    EXPECT_EQ(rows[2],
              QStringList({"1", "10.0.0.10", "37777", "255.0.0.0", "10.0.0.254", "00:11:22:33:44:01"}));
    EXPECT_EQ(rows[3],
              QStringList({"2", "192.168.1.108", "80", "255.255.255.0", "192.168.1.1", "00:11:22:33:44:02"}));
    EXPECT_TRUE(text.contains(QStringLiteral("\"'=1+2,\"\"x\"\"\u00e9\"")));

    // The next export is offered the same file again; cancelling writes nothing.
    exportPath.clear();
    withListMenu(*dialog, cellCentre(*dialog, 0), choose(DiscoveryDialog::kExportListText));
    ASSERT_EQ(suggestions.size(), 2u);
    EXPECT_EQ(suggestions[1], dir.filePath("recorders.csv"));
    EXPECT_EQ(dialog->statusLine(), kStatus);
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(DiscoveryDialogListTest, AFailedExportSaysSoAndLeavesTheOldFileAsItWas) {
    auto dialog = openWithRows();
    exportPath = dir.filePath("recorders.csv");
    {
        QFile old(exportPath);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old list\r\n");
    }

    // The disk fills up: no file may grow beyond 16 bytes for the while.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    withListMenu(*dialog, cellCentre(*dialog, 0), choose(DiscoveryDialog::kExportListText));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().caption, QStringLiteral("ERROR"));
    // The reason follows the path.
    EXPECT_EQ(boxes.last().text,
              QStringLiteral("The list could not be saved to %1!\n%2").arg(exportPath, "File too large"));
    EXPECT_EQ(readExport(), QStringLiteral("old list\r\n"));
    // Nothing half-written is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"recorders.csv"}));

    // A folder that does not exist.
    exportPath = dir.filePath("gone/recorders.csv");
    withListMenu(*dialog, cellCentre(*dialog, 0), choose(DiscoveryDialog::kExportListText));
    ASSERT_EQ(boxes.count(), 2u);
    EXPECT_FALSE(QFile::exists(exportPath));
    EXPECT_EQ(dialog->statusLine(), kStatus);
}

TEST_F(DiscoveryDialogListTest, TheSaveDialogAsksForTheFileAndAddsTheCsvSuffix) {
    // The save dialog remembers its folders in the user's settings: here in the test's own folder.
    const QString userConfig = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath("config"));
    const auto restore =
        qScopeGuard([&] { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, userConfig); });
    auto dialog = openWithRows(false);
    DialogScript script;
    script.then<QFileDialog>([&](QFileDialog& save) {
        EXPECT_EQ(save.acceptMode(), QFileDialog::AcceptSave);
        // As a user does: to the folder, then the name typed without its suffix.
        save.setDirectory(dir.path());
        auto* name = save.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QStringLiteral("list"));
        static_cast<QDialog&>(save).accept(); // the save dialog's own checks run
    });
    withListMenu(*dialog, cellCentre(*dialog, 0), choose(DiscoveryDialog::kExportListText));
    ASSERT_TRUE(script.waitDone());
    EXPECT_TRUE(script.unexpected().empty());
    exportPath = dir.filePath("list.csv");
    const std::vector<QStringList> rows = parseCsv(readExport());
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[3].value(1), QStringLiteral("10.0.0.9"));
    EXPECT_EQ(boxes.count(), 0u);
    dialog.reset();
    EXPECT_TRUE(QFile::exists(dir.filePath("config/QtProject.conf")));
}

TEST_F(DiscoveryDialogListTest, NoMenuWhileALoginWaits) {
    network.setLoginAnswer(std::nullopt);
    auto dialog = openWithRows(true, 300ms);
    DialogScript script;
    script.then<ValidateDialog>([](ValidateDialog& validate) {
        validate.itemAs<QLineEdit>(ValidateDialog::IDC_USERNAME)->setText("admin");
        validate.itemAs<QPushButton>(IDOK)->click();
    });
    QSignalSpy ended(dialog.get(), &DiscoveryDialog::loginEnded);
    dialog->itemAs<QPushButton>(DiscoveryDialog::IDC_MODIFY_IP)->click();
    ASSERT_TRUE(dialog->isBusy());

    bool shown = false;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            shown = true;
            popup->close();
        }
    });
    poll.start();
    const QPoint at = cellCentre(*dialog, 0);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, dialog->deviceList()->viewport()->mapToGlobal(at));
    QApplication::sendEvent(dialog->deviceList()->viewport(), &event);
    EXPECT_FALSE(shown);
    EXPECT_EQ(dialog->deviceList()->selectionMark(), 2); // the row the login is for

    ASSERT_TRUE(ended.wait(10000));
    EXPECT_EQ(boxes.last().text, QStringLiteral("It is ouvertime."));
}

TEST_F(DiscoveryDialogListTest, UpgradeFromTheMenuOpensTheBatchWindowWithTheSelectedRecorders) {
    auto dialog = openWithRows();
    ListViewControl* list = dialog->deviceList();
    list->selectItem(0);
    list->selectionModel()->select(list->model()->index(2, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    withListMenu(*dialog, QPoint(1, 1), choose(DiscoveryDialog::kUpgradeText), QContextMenuEvent::Keyboard);

    const auto windows = dialog->findChildren<CBatchUpgradeDlg*>();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_TRUE(windows[0]->isVisible());
    std::vector<std::string> rows;
    for (const BatchRecord& r : windows[0]->records()) {
        rows.push_back(r.address + " " + std::to_string(r.port) + " " + r.mac);
    }
    // The MAC's bytes come through as the recorder sent them.
    EXPECT_EQ(rows, (std::vector<std::string>{"10.0.0.10 37777 00:11:22:33:44:01",
                                              "10.0.0.9 8000 =1+2,\"x\"\xE9"}));
    EXPECT_EQ(boxes.count(), 0u);
    windows[0]->close();
}

// Two units with one factory address are two rows, but only one of them would take both upgrades.
TEST_F(DiscoveryDialogListTest, UpgradeRefusesTwoSelectedRecordersAtOneAddress) {
    std::vector<FakeDevice> twins = kRecorders;
    twins[1] = kRecorders[0];
    twins[1].mac = "00:11:22:33:44:99";
    network.setDevices(twins);
    auto dialog = openWithRows();
    ListViewControl* list = dialog->deviceList();
    list->selectItem(0);
    list->selectionModel()->select(list->model()->index(1, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(dialog->upgradeSelected(), nullptr);
    EXPECT_TRUE(dialog->findChildren<CBatchUpgradeDlg*>().empty());
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text,
              QStringLiteral("More than one selected recorder answers at 10.0.0.10:37777. Give "
                             "each its own address (Modify IP) before upgrading them."));
}
