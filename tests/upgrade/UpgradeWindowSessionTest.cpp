// The Kestrion window driven like a technician drives it, against the simulated recorder on
// loopback: login through the login dialog, a file from the command line, a BIOS upgrade to
// success, the MAC command, dropped files, and Exit from the tray in the middle of an upgrade.
#include "tests/upgrade/RecordingView.h"
#include "tests/upgrade/SessionTestKit.h"
#include "tests/upgrade/WindowTestKit.h"

#include "desktop/MessageBox.h"
#include "desktop/SingleInstance.h"
#include "desktop/TrayIcon.h"
#include "upgrade/UpgradeApp.h"
#include "upgrade/UpgradeIds.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPixmap>
#include <QProgressBar>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>

using namespace std::chrono_literals;
using ::testing::ElementsAre;

namespace {

const QString kSent = QStringLiteral("File has been sent, please wait...");

std::string BiosImage(const TempDir& dir, const char* name = "fw.bin", std::size_t length = 300000) {
    std::vector<uint8_t> bytes = PatternBytes("VX", length);
    return dir.Write(name, bytes);
}

QAction* TrayExit(CUpgradeDlg& window) {
    return window.Tray()->menu()->actions().at(3);
}

std::size_t IndexOf(const std::vector<std::string>& log, const std::string& line, std::size_t from = 0) {
    const auto found = std::find(log.begin() + static_cast<std::ptrdiff_t>(from), log.end(), line);
    return static_cast<std::size_t>(found - log.begin());
}

} // namespace

using WindowWithRecorder = WindowTest;

TEST_F(WindowWithRecorder, LoginThenABiosUpgradeFromTheCommandLineEndsInSuccess) {
    StartSim();
    const std::string bios = BiosImage(m_dir);
    auto window = OpenWindow({QStringLiteral("kestrion"), QString::fromStdString(bios)});
    EXPECT_TRUE(window->isItemEnabled(IDC_BIOS));
    TypeRecorderAddress(*window);

    Login(*window);
    EXPECT_EQ(window->itemText(IDC_LOGIN), QStringLiteral("Logout"));
    EXPECT_TRUE(window->isItemEnabled(IDC_OPEN_FILES));
    EXPECT_EQ(window->LoginDialog(), nullptr);
    const sim::SimState afterLogin = m_sim->state();
    ASSERT_EQ(afterLogin.logins.size(), 1u);
    EXPECT_EQ(afterLogin.logins[0].user, "admin");
    EXPECT_TRUE(afterLogin.logins[0].accepted);

    window->itemAs<QAbstractButton>(IDC_BIOS)->click();
    EXPECT_FALSE(window->isItemEnabled(IDC_BIOS));
    ASSERT_TRUE(m_boxes.waitForCount(1, 30000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Session().IsBusy(); }, 10000));

    EXPECT_THAT(BoxLines(m_boxes),
                ElementsAre(QStringLiteral("Complete|BIOS Upgrade success,Device will reboot!...")));
    EXPECT_EQ(m_boxes.last().icon(), desktop::MB_ICONINFORMATION);
    EXPECT_FALSE(m_boxes.last().fromGuiThread) << "the worker reports the verdict";
    EXPECT_EQ(m_boxes.last().owner, window.get());

    // The bar follows the stream to 100, then the recorder's reports after the status line says
    // the file is sent, and goes back to 0 when the session is idle again.
    const std::vector<std::string> log = window->Log();
    const std::size_t sent = IndexOf(log, RecordingView::Status(kSent.toStdString()));
    ASSERT_LT(sent, log.size());
    EXPECT_LT(IndexOf(log, "progress 100"), sent);
    std::size_t at = sent;
    for (const char* step : {"progress 25", "progress 50", "progress 75", "progress 100"}) {
        const std::size_t next = IndexOf(log, step, at);
        EXPECT_LT(next, log.size()) << step << " after the file was sent";
        at = next;
    }
    const std::size_t idle = IndexOf(log, RecordingView::Status("Current Progress"), sent);
    EXPECT_LT(at, idle);
    EXPECT_EQ(log.back(), "progress 0");
    EXPECT_EQ(window->itemText(IDC_STATUS), QStringLiteral("Current Progress"));
    EXPECT_EQ(window->itemAs<QProgressBar>(IDC_PROGRESS)->value(), 0);

    ASSERT_TRUE(m_sim->waitFor([](const sim::SimState& s) { return s.upgrades.size() == 1; }, 10s));
    const sim::UpgradeRecord upgrade = m_sim->state().upgrades[0];
    EXPECT_EQ(upgrade.kind, KIND_BIOS);
    EXPECT_EQ(upgrade.announcedLength, 300000u);
    ASSERT_EQ(upgrade.files.size(), 1u);
    EXPECT_EQ(upgrade.files[0].data, ReadBytes(bios));
    EXPECT_TRUE(upgrade.problem.empty()) << upgrade.problem;
}

// The walk-through of the README: the demo's web pages chosen with Open files and sent with Web.
TEST_F(WindowWithRecorder, TheDemoPagesGoAsOneWebPackage) {
    StartSim();
    auto window = OpenWindow();
    TypeRecorderAddress(*window);
    Login(*window);
    const QString pages = QStringLiteral(KST_SOURCE_DIR "/demo/web");
    OpenFiles(*window, pages,
              {QStringLiteral("index.htm"), QStringLiteral("live.htm"), QStringLiteral("setup.htm")});
    EXPECT_EQ(window->Session().State().m_nFileCount, 3);
    EXPECT_EQ(window->itemText(IDC_FILE_TEXT), pages + QStringLiteral("/index.htm") + pages +
                                                   QStringLiteral("/live.htm") + pages +
                                                   QStringLiteral("/setup.htm"));
    ASSERT_TRUE(window->isItemEnabled(IDC_WEB));
    EXPECT_FALSE(window->isItemEnabled(IDC_BIOS));

    window->itemAs<QAbstractButton>(IDC_WEB)->click();
    ASSERT_TRUE(m_boxes.waitForCount(1, 30000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Session().IsBusy(); }, 10000));
    EXPECT_THAT(BoxLines(m_boxes),
                ElementsAre(QStringLiteral("Complete|WEB Upgrade success,Device will reboot!...")));

    ASSERT_TRUE(m_sim->waitFor([](const sim::SimState& s) { return s.upgrades.size() == 1; }, 10s));
    const sim::UpgradeRecord upgrade = m_sim->state().upgrades[0];
    EXPECT_EQ(upgrade.kind, KIND_WEB);
    ASSERT_EQ(upgrade.files.size(), 1u);
    EXPECT_TRUE(upgrade.problem.empty()) << upgrade.problem;
    EXPECT_THAT(upgrade.files[0].entries, testing::UnorderedElementsAre("Install.lua", "web.cramfs"));
    EXPECT_THAT(upgrade.files[0].imageNames,
                testing::UnorderedElementsAre("index.htm", "live.htm", "setup.htm"));
}

TEST_F(WindowWithRecorder, RevealedMacButtonSendsTheValueInTheBox) {
    StartSim();
    auto window = OpenWindow();
    TypeRecorderAddress(*window);
    QTest::keyClick(window.get(), Qt::Key_Q);
    QTest::keyClick(window.get(), Qt::Key_J);
    ASSERT_TRUE(window->isItemShown(IDC_MAC));
    window->setItemText(IDC_MAC_VALUE, QStringLiteral("3735928559"));
    window->itemAs<QAbstractButton>(IDC_MAC)->click();
    ASSERT_TRUE(m_sim->waitFor([](const sim::SimState& s) { return !s.macValues.empty(); }, 10s));
    EXPECT_THAT(m_sim->state().macValues, ElementsAre(3735928559u));
    EXPECT_TRUE(m_boxes.entries().empty()) << BoxLines(m_boxes).join('\n').toStdString();
}

TEST_F(WindowWithRecorder, AFileDroppedAfterLoginIsClassified) {
    StartSim();
    auto window = OpenWindow();
    TypeRecorderAddress(*window);
    Login(*window);
    const std::string bios = BiosImage(m_dir, "DROP.BIN", 2000);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(bios)),
                  QUrl(QStringLiteral("https://example.invalid/x.bin"))});
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    // A drop goes to the widget that accepted the drag when it entered.
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &enter);
    QCoreApplication::sendEvent(window.get(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(window->itemText(IDC_FILE_TEXT).toStdString(), bios);
    EXPECT_TRUE(window->isItemEnabled(IDC_BIOS));
    EXPECT_EQ(window->Session().State().m_nFileCount, 1);
}

TEST_F(WindowWithRecorder, ExitFromTheTrayDuringTheVerdictWaitEndsAtOnceWithoutSaving) {
    StartSim([](sim::SimOptions& options) { options.upgrade.verdict = sim::Verdict::Silence; });
    StoreSetting(kSettingIP, QStringLiteral("127.0.0.3"));
    const std::string bios = BiosImage(m_dir);
    auto window = OpenWindow({QStringLiteral("kestrion"), QString::fromStdString(bios)});
    TypeRecorderAddress(*window);
    Login(*window);

    // The worker now waits up to 20 minutes for a verdict that never comes.
    QTimer::singleShot(0, [&] { window->itemAs<QAbstractButton>(IDC_BIOS)->click(); });
    QTimer exitWhenSent;
    exitWhenSent.setInterval(5);
    QObject::connect(&exitWhenSent, &QTimer::timeout, [&] {
        if (window->itemText(IDC_STATUS) == kSent) {
            exitWhenSent.stop();
            EXPECT_TRUE(window->Session().IsBusy());
            TrayExit(*window)->trigger();
        }
    });
    exitWhenSent.start();
    EXPECT_EQ(window->doModal(), desktop::IDOK);
    window.reset();

    EXPECT_TRUE(AllSocketObjectsGone(10s)) << "the connection was never released";
    EXPECT_TRUE(m_boxes.entries().empty()) << BoxLines(m_boxes).join('\n').toStdString();
    // Not saved while the upgrade ran.
    EXPECT_EQ(StoredSetting(kSettingIP).toString(), QStringLiteral("127.0.0.3"));
    EXPECT_FALSE(StoredSetting(kSettingPort).isValid());
}

TEST_F(WindowWithRecorder, ExitFromTheTrayWhileTheWorkersMessageBoxIsOpenClosesIt) {
    StartSim();
    const std::string bios = BiosImage(m_dir);
    auto window = OpenWindow({QStringLiteral("kestrion"), QString::fromStdString(bios)});
    TypeRecorderAddress(*window);
    Login(*window);
    // The worker cannot open the file it is to send and shows a real box about it.
    std::filesystem::remove(bios);
    const desktop::MessageBoxHandler recorder = desktop::setMessageBoxHandler({});

    QString boxText;
    QTimer exitWhenBoxOpens;
    exitWhenBoxOpens.setInterval(5);
    QObject::connect(&exitWhenBoxOpens, &QTimer::timeout, [&] {
        for (auto* box : window->findChildren<QMessageBox*>()) {
            if (box->isVisible()) {
                exitWhenBoxOpens.stop();
                boxText = box->text();
                TrayExit(*window)->trigger();
                return;
            }
        }
    });
    exitWhenBoxOpens.start();
    QTimer::singleShot(0, [&] { window->itemAs<QAbstractButton>(IDC_BIOS)->click(); });
    EXPECT_EQ(window->doModal(), desktop::IDOK);
    window.reset();
    desktop::setMessageBoxHandler(recorder);

    EXPECT_EQ(boxText.toStdString(), "Open file " + bios + " ,failed");
    EXPECT_TRUE(AllSocketObjectsGone(10s));
}

// ---- start-up of the program

using UpgradeApp = WindowTest;

TEST_F(UpgradeApp, AWindowTitledDvrUpgradeToolIsBroughtForwardInstead) {
    desktop::InstanceServer running(QString::fromUtf8(kRunningWindowTitle));
    ASSERT_TRUE(running.isListening());
    bool asked = false;
    QObject::connect(&running, &desktop::InstanceServer::activationRequested, [&] { asked = true; });

    CUpgradeApp app({QStringLiteral("kestrion")});
    EXPECT_EQ(app.InitInstance(), 0);
    EXPECT_TRUE(app.HandedOver());
    EXPECT_TRUE(QTest::qWaitFor([&] { return asked; }, 5000));
}

TEST_F(UpgradeApp, ARunningCopyOfThisProgramDoesNotStopASecondOne) {
    auto first = OpenWindow();
    // The first copy can be found by its own title, but nobody looks for that title.
    first->hide();
    EXPECT_TRUE(desktop::bringForwardWindow(QStringLiteral("Upgrade Tool Ver1.17")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return first->isVisible(); }, 5000));

    CUpgradeApp second({QStringLiteral("kestrion")});
    bool ran = false;
    QTimer::singleShot(0, [&] {
        ASSERT_NE(second.MainWindow(), nullptr);
        ran = second.MainWindow()->isVisible();
        second.MainWindow()->endDialog(desktop::IDCANCEL);
    });
    EXPECT_EQ(second.InitInstance(), 0);
    EXPECT_FALSE(second.HandedOver());
    EXPECT_TRUE(ran);
    EXPECT_EQ(second.MainWindow(), nullptr);
}

// ---- pictures for the README

namespace {

// Saves the picture where KST_SCREENSHOT_DIR says (the README's pictures in docs/), else into the
// test's own folder, and checks that it shows something.
void SavePicture(QWidget& widget, const QString& name, const TempDir& dir) {
    const QPixmap picture = widget.grab();
    const QString folder = qEnvironmentVariableIsSet("KST_SCREENSHOT_DIR")
                               ? qEnvironmentVariable("KST_SCREENSHOT_DIR")
                               : QString::fromStdString(dir.path());
    const QImage image = picture.toImage();
    EXPECT_EQ(picture.size(), widget.size() * widget.devicePixelRatio());
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3) {
            colours.insert(image.pixel(x, y));
        }
    }
    EXPECT_GT(colours.size(), 8) << "the picture of " << name.toStdString() << " is blank";
    EXPECT_TRUE(picture.save(folder + QLatin1Char('/') + name, "PNG"));
}

} // namespace

TEST_F(WindowWithRecorder, PicturesOfTheMainWindowAndTheLoginDialog) {
    StartSim([](sim::SimOptions& options) { options.upgrade.progressInterval = 300ms; });
    const std::string bios = BiosImage(m_dir, "firmware.bin", 4096);
    auto window = OpenWindow({QStringLiteral("kestrion"), QString::fromStdString(bios)});
    TypeRecorderAddress(*window);

    // The login dialog as the technician fills it in.
    CLoginDlg login({}, window.get());
    login.show();
    login.setItemText(IDC_LOGIN_NAME, QStringLiteral("admin"));
    login.setItemText(IDC_LOGIN_PASSWORD, QStringLiteral("admin"));
    SavePicture(login, QStringLiteral("kestrion-login.png"), m_dir);
    login.hide();

    // The main window while the recorder burns a BIOS image and reports half of it done.
    Login(*window);
    window->itemAs<QAbstractButton>(IDC_BIOS)->click();
    auto* bar = window->itemAs<QProgressBar>(IDC_PROGRESS);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window->itemText(IDC_STATUS) == kSent && bar->value() == 50; }, 20000));
    SavePicture(*window, QStringLiteral("kestrion-main.png"), m_dir);
    ASSERT_TRUE(m_boxes.waitForCount(1, 20000));
    EXPECT_EQ(m_boxes.last().text, QStringLiteral("BIOS Upgrade success,Device will reboot!..."));
}

// After every kind's "right", the window is idle as after any upgrade: the status line and the
// bar are back, Open files opens the dialog again and the classifier enables the button anew.
struct RightRow {
    const char* file;
    std::string content;
    int button;
    const char* box; // "" where the kind has no success text
};

void PrintTo(const RightRow& row, std::ostream* os) {
    *os << row.file;
}

class WindowAfterRight : public WindowTest, public ::testing::WithParamInterface<RightRow> {};

TEST_P(WindowAfterRight, IsIdleAndChoosesAgain) {
    const RightRow& row = GetParam();
    StartSim([](sim::SimOptions& o) { o.upgrade.verdict = sim::Verdict::Right; });
    m_dir.Write(row.file, row.content);
    auto window = OpenWindow();
    TypeRecorderAddress(*window);
    Login(*window);
    const QString folder = QString::fromStdString(m_dir.path());
    OpenFiles(*window, folder, {QString::fromLatin1(row.file)});
    ASSERT_TRUE(window->isItemEnabled(row.button));

    window->itemAs<QAbstractButton>(row.button)->click();
    // The window's thread keeps serving the worker's calls while it waits.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Session().IsBusy(); }, 30000));
    ASSERT_EQ(m_sim->state().upgrades.size(), 1u);

    QStringList expected;
    if (*row.box != '\0') {
        expected << QStringLiteral("Complete|") + QString::fromLatin1(row.box);
    }
    EXPECT_EQ(BoxLines(m_boxes), expected);
    EXPECT_EQ(window->itemText(IDC_STATUS), QStringLiteral("Current Progress"));
    EXPECT_EQ(window->itemAs<QProgressBar>(IDC_PROGRESS)->value(), 0);
    EXPECT_TRUE(window->isItemEnabled(IDC_OPEN_FILES));
    EXPECT_FALSE(window->isItemEnabled(row.button));

    OpenFiles(*window, folder, {QString::fromLatin1(row.file)});
    EXPECT_TRUE(window->isItemEnabled(row.button)) << "Open files did nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, WindowAfterRight,
    ::testing::Values(
        RightRow{"fw.bin", "MZ" + std::string(3000, 'x'), IDC_BIOS,
                 "BIOS Upgrade success,Device will reboot!..."},
        RightRow{"index.htm", "<html>hi</html>", IDC_WEB, "WEB Upgrade success,Device will reboot!..."},
        RightRow{"boot.img", "\xC0\x80" + std::string(3000, 'b'), IDC_BOOT,
                 "BOOT Upgrade success,Device will reboot!..."},
        RightRow{"big.img", "\xC0\x80" + std::string(static_cast<size_t>(kLargeBootLength), 'b'), IDC_BOTH,
                 "BOOT Upgrade success,Device will reboot!..."},
        RightRow{"font.hzk", std::string(3000, 'f'), IDC_FONT, ""},
        RightRow{"logo.bmp", "BM" + std::string(200, '\x11'), IDC_LOGO, ""},
        RightRow{"setup.exe", "MZ" + std::string(3000, 'e'), IDC_EXE, ""}),
    [](const auto& row) { return std::to_string(row.param.button); });
