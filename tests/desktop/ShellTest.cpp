#include "desktop/Browser.h"
#include "desktop/ProgramDirectory.h"
#include "desktop/TrayIcon.h"

#include <QCoreApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

using namespace desktop;

namespace {

struct TrayAvailability {
    explicit TrayAvailability(std::optional<bool> available) { TrayIcon::setAvailableForTesting(available); }
    ~TrayAvailability() { TrayIcon::setAvailableForTesting(std::nullopt); }
};

} // namespace

TEST(TrayIcon, DesktopWithoutNotificationAreaShowsNoIcon) {
    // Offscreen and Xvfb have no notification area: this is the path real runs here take.
    TrayAvailability none(false);
    TrayIcon tray(QIcon(), QStringLiteral("DVR Upgrade Tool Ver1.11"));
    EXPECT_FALSE(TrayIcon::isAvailable());
    EXPECT_FALSE(tray.show());
    EXPECT_FALSE(tray.isShown());
    EXPECT_EQ(tray.tip(), QStringLiteral("DVR Upgrade Tool Ver1.11"));
}

TEST(TrayIcon, AvailabilityFollowsTheDesktopUnlessOverridden) {
    EXPECT_EQ(TrayIcon::isAvailable(), QSystemTrayIcon::isSystemTrayAvailable());
    TrayAvailability yes(true);
    EXPECT_TRUE(TrayIcon::isAvailable());
}

TEST(TrayIcon, MenuEntriesGiveTheirCommandsAndLeftClicksShow) {
    TrayAvailability available(true);
    TrayIcon tray(QIcon(), QStringLiteral("tip"));
    tray.addCommand(1124, QStringLiteral("Show"));
    tray.addCommand(1125, QStringLiteral("About"));
    tray.addSeparator();
    tray.addCommand(1126, QStringLiteral("Exit"));
    EXPECT_TRUE(tray.show());
    EXPECT_TRUE(tray.isShown());

    const QList<QAction*> actions = tray.menu()->actions();
    ASSERT_EQ(actions.size(), 4);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("Show"));
    EXPECT_TRUE(actions[2]->isSeparator());
    EXPECT_EQ(tray.systemTrayIcon()->contextMenu(), tray.menu());

    QSignalSpy commands(&tray, &TrayIcon::commandChosen);
    actions[3]->trigger();
    actions[1]->trigger();
    ASSERT_EQ(commands.count(), 2);
    EXPECT_EQ(commands[0][0].toInt(), 1126);
    EXPECT_EQ(commands[1][0].toInt(), 1125);

    QSignalSpy clicks(&tray, &TrayIcon::leftClicked);
    emit tray.systemTrayIcon()->activated(QSystemTrayIcon::Trigger);
    emit tray.systemTrayIcon()->activated(QSystemTrayIcon::DoubleClick);
    emit tray.systemTrayIcon()->activated(QSystemTrayIcon::Context);
    emit tray.systemTrayIcon()->activated(QSystemTrayIcon::MiddleClick);
    EXPECT_EQ(clicks.count(), 2);

    tray.hide();
    EXPECT_FALSE(tray.isShown());
}

TEST(Browser, OpensTheRecorderAddressOverHttp) {
    std::vector<QUrl> opened;
    const UrlOpener previous = setUrlOpener([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    EXPECT_TRUE(openInBrowser(QStringLiteral("192.168.1.108")));
    EXPECT_TRUE(openInBrowser(QStringLiteral("192.168.1.108:8080")));
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0].toString(), QStringLiteral("http://192.168.1.108"));
    EXPECT_EQ(opened[1].port(), 8080);
    setUrlOpener(previous);
}

TEST(Browser, AddressesThatAreNotPlainHostsOpenNothing) {
    int opened = 0;
    const UrlOpener previous = setUrlOpener([&](const QUrl&) {
        ++opened;
        return true;
    });
    for (const char* address : {"", "1.2.3.4/admin", "user@1.2.3.4", "1.2.3.4?x=1", "1.2.3.4#top",
                                "1.2.3.4 evil", "file:///etc/passwd"}) {
        EXPECT_FALSE(openInBrowser(QString::fromLatin1(address))) << address;
    }
    EXPECT_EQ(opened, 0);
    setUrlOpener(previous);
}

TEST(ProgramDirectory, IsTheFolderOfTheRunningExecutable) {
    const std::string& directory = programDirectory();
    EXPECT_EQ(directory, QCoreApplication::applicationDirPath().toStdString() + "/");
    EXPECT_EQ(&directory, &programDirectory());
}
