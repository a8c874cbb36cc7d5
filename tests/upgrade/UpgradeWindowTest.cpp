// The Kestrion main window without a recorder: its template, its state at start, the command
// line, the hidden key sequence, the form values, the settings on close, Esc and Exit, the
// window without a tray, the tray menu, and the file dialog's filter.
#include "tests/upgrade/WindowTestKit.h"

#include "desktop/TrayIcon.h"
#include "upgrade/AboutDlg.h"
#include "upgrade/UpgradeWindowIds.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gmock/gmock.h>

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

namespace {

struct Expected {
    int id;
    desktop::ControlKind kind;
    const char* text;
    int x, y, w, h;
};

using K = desktop::ControlKind;

// Written out from the window's table, control by control.
const Expected kMainWindow[] = {
    {1, K::DefPushButton, "Open files", 9, 9, 49, 14},
    {1007, K::Edit, "", 64, 9, 175, 14},
    {1001, K::IpAddress, "", 9, 28, 74, 14},
    {1008, K::Edit, "", 86, 28, 33, 14},
    {1013, K::Edit, "", 122, 28, 31, 14},
    {1014, K::PushButton, "Mac", 160, 28, 37, 14},
    {1019, K::PushButton, "Login", 202, 28, 37, 14},
    {1009, K::Static, "Current progress", 10, 44, 176, 8},
    {1021, K::PushButton, "Button3", 202, 44, 37, 10},
    {1006, K::Progress, "", 9, 56, 230, 14},
    {1015, K::PushButton, "EXE", 9, 73, 32, 14},
    {1003, K::PushButton, "Bios", 42, 73, 32, 14},
    {1004, K::PushButton, "Web", 75, 73, 32, 14},
    {1005, K::PushButton, "Boot", 108, 73, 32, 14},
    {1010, K::PushButton, "Both", 141, 73, 32, 14},
    {1011, K::PushButton, "Font", 174, 73, 32, 14},
    {1012, K::PushButton, "Logo", 207, 73, 32, 14},
    {desktop::kNoId, K::GroupBox, "", 2, 0, 240, 90},
};

const int kUpgradeButtonIds[] = {1015, 1003, 1004, 1005, 1010, 1011, 1012};

std::vector<int> EnabledUpgradeButtons(const CUpgradeDlg& window) {
    std::vector<int> enabled;
    for (int id : kUpgradeButtonIds) {
        if (window.isItemEnabled(id)) {
            enabled.push_back(id);
        }
    }
    return enabled;
}

} // namespace

// ---- templates

TEST(UpgradeDlgTemplate, EveryControlStandsAtItsPlaceInDialogUnits) {
    const desktop::DialogTemplate& dialog = UpgradeDlgTemplate();
    EXPECT_EQ(dialog.id, 102);
    EXPECT_STREQ(dialog.caption, "Upgrade Tool Ver1.17");
    EXPECT_EQ(dialog.width, 246);
    EXPECT_EQ(dialog.height, 93);
    EXPECT_TRUE(dialog.minimizeBox);
    EXPECT_STREQ(dialog.fontFamily, "MS Sans Serif");
    EXPECT_EQ(dialog.pointSize, 8);
    ASSERT_EQ(dialog.controls.size(), std::size(kMainWindow));
    for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
        const desktop::ControlTemplate& c = dialog.controls[i];
        const Expected& e = kMainWindow[i];
        SCOPED_TRACE(testing::Message() << "control " << e.id << " " << e.text);
        EXPECT_EQ(c.id, e.id);
        EXPECT_EQ(c.kind, e.kind);
        EXPECT_STREQ(c.text, e.text);
        EXPECT_EQ(QRect(c.x, c.y, c.w, c.h), QRect(e.x, e.y, e.w, e.h));
    }
    // The port box takes digits only.
    EXPECT_TRUE(dialog.controls[3].style & desktop::Style::Number);
}

TEST(UpgradeDlgTemplate, TheWindowPlacesItsControlsFromTheFontsBaseUnits) {
    CUpgradeDlg window({QStringLiteral("kestrion")});
    const desktop::DialogBaseUnits units = window.baseUnits();
    EXPECT_GT(units.cx, 0);
    EXPECT_GT(units.cy, 0);
    EXPECT_EQ(window.size(), QSize(desktop::dluToPixelsX(246, units), desktop::dluToPixelsY(93, units)));
    for (const Expected& e : kMainWindow) {
        if (e.id == desktop::kNoId) {
            continue;
        }
        SCOPED_TRACE(e.id);
        ASSERT_NE(window.item(e.id), nullptr);
        EXPECT_EQ(window.item(e.id)->geometry(), window.toPixels(e.x, e.y, e.w, e.h));
    }
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Upgrade Tool Ver1.17"));
}

TEST(LoginDlgTemplate, NameAndPasswordBoxesAndTheTwoButtons) {
    const desktop::DialogTemplate& dialog = LoginDlgTemplate();
    EXPECT_EQ(dialog.id, 133);
    EXPECT_STREQ(dialog.caption, "User Login");
    EXPECT_EQ(dialog.width, 120);
    EXPECT_EQ(dialog.height, 63);
    CLoginDlg login({});
    EXPECT_EQ(login.item(1020)->geometry(), login.toPixels(50, 5, 60, 14));
    EXPECT_EQ(login.item(1021)->geometry(), login.toPixels(50, 27, 60, 14));
    EXPECT_EQ(login.item(desktop::IDOK)->geometry(), login.toPixels(15, 47, 44, 14));
    EXPECT_EQ(login.item(desktop::IDCANCEL)->geometry(), login.toPixels(67, 47, 44, 14));
    EXPECT_EQ(login.itemAs<QLineEdit>(1021)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(login.itemAs<QLineEdit>(1020)->echoMode(), QLineEdit::Normal);
    // Neither box limits its length.
    EXPECT_EQ(login.itemAs<QLineEdit>(1020)->maxLength(), QLineEdit().maxLength());
    EXPECT_EQ(login.itemAs<QLineEdit>(1021)->maxLength(), QLineEdit().maxLength());
    QStringList labels;
    for (QWidget* control : login.controls()) {
        if (auto* label = qobject_cast<QLabel*>(control)) {
            labels << label->text();
        }
    }
    EXPECT_THAT(labels, ElementsAre(QStringLiteral("Name"), QStringLiteral("Password")));
}

// ---- the login dialog

TEST(LoginDlg, OkHandsOverTheTextsOnceAndStaysDisabledUntilTheLoginIsAccepted) {
    std::vector<std::pair<std::string, std::string>> requests;
    CLoginDlg login(
        [&](const std::string& user, const std::string& password) { requests.emplace_back(user, password); });
    int result = -1;
    QTimer::singleShot(0, [&] {
        login.setItemText(1020, QStringLiteral("admin"));
        login.setItemText(1021, QStringLiteral(" secret word "));
        QTest::keyClick(&login, Qt::Key_Return);
        // Enter again, and OK again: the request went once.
        QTest::keyClick(&login, Qt::Key_Return);
        login.itemAs<QAbstractButton>(desktop::IDOK)->click();
        EXPECT_FALSE(login.isItemEnabled(desktop::IDOK));
        EXPECT_TRUE(login.isVisible());
        login.OnLoginOk();
    });
    result = login.doModal();
    EXPECT_EQ(result, desktop::IDOK);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].first, "admin");
    EXPECT_EQ(requests[0].second, " secret word ");
    EXPECT_EQ(login.m_strPassword, QStringLiteral(" secret word "));
}

TEST(LoginDlg, CancelEndsItWithoutARequest) {
    int calls = 0;
    CLoginDlg login([&](const std::string&, const std::string&) { ++calls; });
    QTimer::singleShot(0, [&] { login.itemAs<QAbstractButton>(desktop::IDCANCEL)->click(); });
    EXPECT_EQ(login.doModal(), desktop::IDCANCEL);
    EXPECT_EQ(calls, 0);
}

// ---- start-up

using UpgradeWindow = WindowTest;

TEST_F(UpgradeWindow, StartsWithTheMacControlsHiddenAndNothingToUpgrade) {
    auto window = OpenWindow();
    EXPECT_FALSE(window->isItemShown(IDC_MAC_VALUE));
    EXPECT_FALSE(window->isItemShown(IDC_MAC));
    EXPECT_FALSE(window->isItemShown(IDC_BUTTON3));
    EXPECT_TRUE(EnabledUpgradeButtons(*window).empty());
    EXPECT_FALSE(window->isItemEnabled(IDC_OPEN_FILES));
    EXPECT_TRUE(window->isItemEnabled(IDC_LOGIN));
    EXPECT_EQ(window->itemText(IDC_LOGIN), QStringLiteral("Login"));
    EXPECT_EQ(window->itemText(IDC_STATUS), QStringLiteral("Current progress"));
    EXPECT_EQ(window->itemAs<QProgressBar>(IDC_PROGRESS)->value(), 0);
    EXPECT_EQ(window->itemAs<QProgressBar>(IDC_PROGRESS)->maximum(), 100);
    // No settings stored yet: no address, the usual port.
    EXPECT_EQ(window->itemText(IDC_IPADDRESS), QString());
    EXPECT_EQ(window->itemText(IDC_PORT), QStringLiteral("37777"));
    EXPECT_EQ(window->itemText(IDC_FILE_TEXT), QString());
    EXPECT_TRUE(m_boxes.entries().empty()) << BoxLines(m_boxes).join('\n').toStdString();

    // The port box holds at most five digits.
    auto* port = window->itemAs<QLineEdit>(IDC_PORT);
    port->clear();
    QTest::keyClicks(port, QStringLiteral("12a3456"));
    EXPECT_EQ(port->text(), QStringLiteral("12345"));
}

TEST_F(UpgradeWindow, AFileOnTheCommandLineIsClassifiedAtOnce) {
    const std::string bios = m_dir.Write("fw.bin", std::string("VX") + std::string(998, 'x'));
    auto window = OpenWindow({QStringLiteral("kestrion"), QString::fromStdString(bios)});
    EXPECT_EQ(window->itemText(IDC_FILE_TEXT).toStdString(), bios);
    EXPECT_THAT(EnabledUpgradeButtons(*window), ElementsAre(IDC_BIOS));
    EXPECT_FALSE(window->isItemEnabled(IDC_OPEN_FILES));
    EXPECT_EQ(window->Session().State().m_nFileCount, 1);
    EXPECT_EQ(window->Session().State().m_strFiles[0], bios);
    EXPECT_EQ(window->Session().State().m_nFileLength, 1000);
    EXPECT_TRUE(m_boxes.entries().empty());
}

TEST_F(UpgradeWindow, NoFileOrTwoFilesOnTheCommandLineChooseNothing) {
    const std::string bios = m_dir.Write("fw.bin", "VX00");
    const std::string font = m_dir.Write("font.hzk", "xx");
    auto two =
        OpenWindow({QStringLiteral("kestrion"), QString::fromStdString(bios), QString::fromStdString(font)});
    EXPECT_EQ(two->itemText(IDC_FILE_TEXT), QString());
    EXPECT_TRUE(EnabledUpgradeButtons(*two).empty());
    EXPECT_EQ(two->Session().State().m_nFileCount, 0);
    auto none = OpenWindow({QStringLiteral("kestrion")});
    EXPECT_TRUE(EnabledUpgradeButtons(*none).empty());
    EXPECT_TRUE(m_boxes.entries().empty());
}

TEST_F(UpgradeWindow, TheSettingsOfTheLastCloseAreShownAtStart) {
    StoreSetting(kSettingIP, QStringLiteral("127.0.0.42"));
    StoreSetting(kSettingPort, 4321u);
    auto window = OpenWindow();
    EXPECT_EQ(window->itemText(IDC_IPADDRESS), QStringLiteral("127.0.0.42"));
    EXPECT_EQ(window->itemText(IDC_PORT), QStringLiteral("4321"));
    EXPECT_EQ(window->Session().Form().m_strIP, "127.0.0.42");
    EXPECT_EQ(window->Session().Form().m_nPort, 4321u);
}

TEST_F(UpgradeWindow, AStoredPortThatIsNoNumberGivesTheUsualPort) {
    StoreSetting(kSettingPort, QStringLiteral("many"));
    auto window = OpenWindow();
    EXPECT_EQ(window->itemText(IDC_PORT), QStringLiteral("37777"));
}

// ---- the hidden key sequence

TEST_F(UpgradeWindow, JBeforeAnyQDoesNothing) {
    auto window = OpenWindow();
    QTest::keyClick(window->item(IDC_FILE_TEXT), Qt::Key_J);
    QTest::keyClick(window.get(), Qt::Key_J);
    EXPECT_FALSE(window->isItemShown(IDC_MAC_VALUE));
    EXPECT_FALSE(window->isItemShown(IDC_MAC));
}

TEST_F(UpgradeWindow, QThenOtherKeysThenJRevealsTheMacControls) {
    auto window = OpenWindow();
    QTest::keyClick(window->item(IDC_FILE_TEXT), Qt::Key_Q);
    QTest::keyClick(window->item(IDC_PORT), Qt::Key_X);
    QTest::keyClick(window->item(IDC_FILE_TEXT), Qt::Key_5);
    EXPECT_FALSE(window->isItemShown(IDC_MAC));
    QTest::keyClick(window->item(IDC_LOGIN), Qt::Key_J, Qt::ShiftModifier);
    EXPECT_TRUE(window->isItemShown(IDC_MAC_VALUE));
    EXPECT_TRUE(window->isItemShown(IDC_MAC));
    // The keys still reached the controls.
    EXPECT_EQ(window->itemText(IDC_FILE_TEXT), QStringLiteral("q5"));
}

// ---- form values

TEST_F(UpgradeWindow, APortThatIsNoNumberIsRefusedAndKeepsTheOldValue) {
    auto window = OpenWindow();
    UpgradeForm& form = window->Session().Form();
    window->setItemText(IDC_IPADDRESS, QStringLiteral("127.0.0.9"));
    window->itemAs<QLineEdit>(IDC_PORT)->clear();
    window->setItemText(IDC_FILE_TEXT, QStringLiteral("typed"));
    window->setItemText(IDC_MAC_VALUE, QStringLiteral("99"));

    EXPECT_FALSE(window->TakeForm(form));
    EXPECT_THAT(BoxLines(m_boxes), ElementsAre(QStringLiteral("Kestrion|Please enter a positive integer.")));
    EXPECT_EQ(m_boxes.last().icon(), desktop::MB_ICONEXCLAMATION);
    // Taken up to the port; the port and everything after it keep their values.
    EXPECT_EQ(form.m_strIP, "127.0.0.9");
    EXPECT_EQ(form.m_nPort, 37777u);
    EXPECT_EQ(form.m_strFileText, "");
    EXPECT_EQ(form.m_dwMacValue, 0u);

    window->setItemText(IDC_PORT, QStringLiteral("8000"));
    EXPECT_TRUE(window->TakeForm(form));
    EXPECT_EQ(form.m_nPort, 8000u);
    EXPECT_EQ(form.m_strFileText, "typed");
    EXPECT_EQ(form.m_dwMacValue, 99u);
    EXPECT_EQ(m_boxes.count(), 1u);
}

TEST_F(UpgradeWindow, AMacValueBeyondThirtyTwoBitsIsRefused) {
    auto window = OpenWindow();
    UpgradeForm& form = window->Session().Form();
    form.m_dwMacValue = 7;
    window->setItemText(IDC_MAC_VALUE, QStringLiteral("4294967296"));
    EXPECT_FALSE(window->TakeForm(form));
    EXPECT_EQ(form.m_dwMacValue, 7u);
    EXPECT_EQ(m_boxes.last().text, QStringLiteral("Please enter a positive integer."));
}

// ---- close, Esc, Exit

TEST_F(UpgradeWindow, CloseHidesToTheTraySavesAndTheNextStartReadsItBack) {
    {
        auto window = OpenWindow();
        window->setItemText(IDC_IPADDRESS, QStringLiteral("127.0.0.7"));
        window->setItemText(IDC_PORT, QStringLiteral("3456"));
        window->close();
        EXPECT_TRUE(window->isHidden());
        EXPECT_EQ(window->result(), 0) << "a close request does not end the program";
        EXPECT_EQ(StoredSetting(kSettingIP).toString(), QStringLiteral("127.0.0.7"));
        EXPECT_EQ(StoredSetting(kSettingPort).toUInt(), 3456u);

        // Show from the tray menu brings it back, and so does a click or a double click on the
        // icon; the menu's own button does not.
        window->Tray()->menu()->actions().at(0)->trigger();
        EXPECT_TRUE(window->isVisible());
        EXPECT_FALSE(window->isMinimized());
        for (auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick}) {
            window->close();
            ASSERT_TRUE(window->isHidden());
            emit window->Tray()->systemTrayIcon()->activated(reason);
            EXPECT_TRUE(window->isVisible()) << reason;
        }
        window->close();
        emit window->Tray()->systemTrayIcon()->activated(QSystemTrayIcon::Context);
        EXPECT_TRUE(window->isHidden());
    }
    auto next = OpenWindow();
    EXPECT_EQ(next->itemText(IDC_IPADDRESS), QStringLiteral("127.0.0.7"));
    EXPECT_EQ(next->itemText(IDC_PORT), QStringLiteral("3456"));
}

TEST_F(UpgradeWindow, WithoutATrayCloseMinimizesInstead) {
    desktop::TrayIcon::setAvailableForTesting(false);
    auto window = OpenWindow();
    EXPECT_FALSE(window->Tray()->isShown());
    window->setItemText(IDC_PORT, QStringLiteral("3457"));
    window->close();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isMinimized());
    EXPECT_EQ(StoredSetting(kSettingPort).toUInt(), 3457u);
    window->ShowWindow();
    EXPECT_FALSE(window->isMinimized());
}

TEST_F(UpgradeWindow, EscEndsTheProgramAndSavesNothing) {
    auto window = OpenWindow();
    window->setItemText(IDC_IPADDRESS, QStringLiteral("127.0.0.8"));
    window->setItemText(IDC_PORT, QStringLiteral("1234"));
    int result = -1;
    QTimer::singleShot(0, [&] { QTest::keyClick(window->item(IDC_PORT), Qt::Key_Escape); });
    result = window->doModal();
    EXPECT_EQ(result, desktop::IDCANCEL);
    EXPECT_FALSE(StoredSetting(kSettingIP).isValid());
    EXPECT_FALSE(StoredSetting(kSettingPort).isValid());
}

TEST_F(UpgradeWindow, ExitFromTheTraySavesAndEndsTheProgram) {
    auto window = OpenWindow();
    window->setItemText(IDC_IPADDRESS, QStringLiteral("127.0.0.6"));
    window->setItemText(IDC_PORT, QStringLiteral("2345"));
    const QList<QAction*> menu = window->Tray()->menu()->actions();
    ASSERT_EQ(menu.size(), 4);
    EXPECT_EQ(menu[0]->text(), QStringLiteral("Show"));
    EXPECT_EQ(menu[1]->text(), QStringLiteral("About"));
    EXPECT_TRUE(menu[2]->isSeparator());
    EXPECT_EQ(menu[3]->text(), QStringLiteral("Exit"));
    EXPECT_EQ(window->Tray()->tip(), QStringLiteral("DVR Upgrade Tool Ver1.11"));

    QTimer::singleShot(0, [&] { menu[3]->trigger(); });
    EXPECT_EQ(window->doModal(), desktop::IDOK);
    EXPECT_EQ(StoredSetting(kSettingIP).toString(), QStringLiteral("127.0.0.6"));
    EXPECT_EQ(StoredSetting(kSettingPort).toUInt(), 2345u);
}

TEST_F(UpgradeWindow, AboutFromTheTrayAndFromTheWindowMenu) {
    auto window = OpenWindow();
    QStringList seen;
    QTimer closer;
    closer.setInterval(5);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        for (auto* about : window->findChildren<CAboutDlg*>()) {
            if (about->isVisible()) {
                seen << about->windowTitle();
                about->itemAs<QAbstractButton>(desktop::IDOK)->click();
            }
        }
    });
    closer.start();
    window->Tray()->menu()->actions().at(1)->trigger();
    ASSERT_EQ(window->actions().size(), 1);
    EXPECT_EQ(window->actions()[0]->text(), QStringLiteral("&About Orlent..."));
    window->actions()[0]->trigger();
    EXPECT_THAT(seen, ElementsAre(QStringLiteral("About DVR Upgrade Tool"),
                                  QStringLiteral("About DVR Upgrade Tool")));

    CAboutDlg about;
    about.show();
    QStringList lines;
    for (QWidget* control : about.controls()) {
        if (auto* label = qobject_cast<QLabel*>(control); label && !label->text().isEmpty()) {
            lines << label->text();
        }
    }
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], QStringLiteral("DVR Upgrade Tool Version 1.17"));
    EXPECT_FALSE(about.itemAs<QLabel>(CAboutDlg::kIconId)->pixmap().isNull());
}

// ---- dropped files and the file dialog

TEST_F(UpgradeWindow, FilesDroppedWithoutAConnectionAreRefused) {
    auto window = OpenWindow();
    const std::string bios = m_dir.Write("fw.bin", "VX00");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(bios))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &drop);
    EXPECT_EQ(window->itemText(IDC_FILE_TEXT), QString());
    EXPECT_TRUE(EnabledUpgradeButtons(*window).empty());
    EXPECT_TRUE(m_boxes.entries().empty());
}

TEST(FileDialogFilters, KeepTheNamesAndMatchEveryLetterCase) {
    const QStringList filters = FileDialogFilters(kOpenFilesFilter);
    ASSERT_EQ(filters.size(), 2);
    EXPECT_EQ(filters[0], QStringLiteral("Upgrade File(*.bin;*.hzk;*.bmp;*.exe;*.mi; *.cab; *.htm; *.jpg) "
                                         "(*.[bB][iI][nN] *.[hH][zZ][kK] *.[bB][mM][pP] *.[eE][xX][eE] "
                                         "*.[mM][iI] *.[cC][aA][bB] *.[hH][tT][mM] *.[jJ][pP][gG])"));
    EXPECT_EQ(filters[1], QStringLiteral("All Files (*)"));
}

TEST_F(UpgradeWindow, OpenFilesDialogListsUpperCaseNamesAndReturnsEveryChosenFile) {
    const std::string a = m_dir.Write("a.bin", "VX");
    const std::string b = m_dir.Write("B.BIN", "VX");
    m_dir.Write("Logo.Bmp", "BM");
    m_dir.Write("notes.txt", "x");
    auto window = OpenWindow();

    QStringList listed;
    QString filterShown;
    QTimer driver;
    driver.setInterval(10);
    QElapsedTimer since;
    since.start();
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            return;
        }
        if (since.elapsed() > 20000) {
            ADD_FAILURE() << "the file dialog never listed the folder";
            dialog->reject();
            return;
        }
        auto* model = dialog->findChild<QFileSystemModel*>();
        if (dialog->directory().absolutePath() != QString::fromStdString(m_dir.path())) {
            dialog->setDirectory(QString::fromStdString(m_dir.path()));
            return;
        }
        const QModelIndex root = model->index(QString::fromStdString(m_dir.path()));
        if (model->rowCount(root) == 0) {
            return; // still loading
        }
        driver.stop();
        for (int row = 0; row < model->rowCount(root); ++row) {
            const QModelIndex index = model->index(row, 0, root);
            if (!model->isDir(index) && (model->flags(index) & Qt::ItemIsEnabled)) {
                listed << model->fileName(index);
            }
        }
        filterShown = dialog->selectedNameFilter();
        // Two names typed into the name box, as a user picks several files by keyboard.
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
            ->setText(QStringLiteral("\"a.bin\" \"B.BIN\""));
        static_cast<QDialog*>(dialog)->accept(); // public as a QDialog
    });
    driver.start();
    std::vector<std::string> paths;
    EXPECT_TRUE(window->AskOpenFiles(paths));
    EXPECT_THAT(listed, UnorderedElementsAre(QStringLiteral("a.bin"), QStringLiteral("B.BIN"),
                                             QStringLiteral("Logo.Bmp")));
    EXPECT_TRUE(filterShown.startsWith(QStringLiteral("Upgrade File(")));
    EXPECT_THAT(paths, UnorderedElementsAre(a, b));
}

TEST_F(UpgradeWindow, CancellingTheFileDialogChoosesNothing) {
    auto window = OpenWindow();
    QTimer canceller;
    canceller.setInterval(10);
    QObject::connect(&canceller, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            dialog->reject();
        }
    });
    canceller.start();
    std::vector<std::string> paths;
    EXPECT_FALSE(window->AskOpenFiles(paths));
    EXPECT_TRUE(paths.empty());
}
