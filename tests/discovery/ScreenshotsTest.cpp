// Pictures of the windows for the README: the main window listing simulated recorders, and the
// registration dialogs. They are written to KST_SCREENSHOT_DIR when it is set (docs/ holds the
// committed ones) and are checked to show what they should either way.

#include "clientstore/ClientDataFile.h"
#include "clientstore/ClientStore.h"
#include "discovery/CameraTypeDialog.h"
#include "discovery/DeviceManagementDialog.h"
#include "discovery/DiscoveryDialog.h"
#include "tests/discovery/GuiTestSupport.h"

#include "simulator/RecorderSim.h"

#include "desktop/ListViewControl.h"
#include "desktop/TreeViewControl.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace desktop;
using namespace std::chrono_literals;

namespace {

void saveScreenshot(const QPixmap& picture, const char* name) {
    ASSERT_FALSE(picture.isNull());
    const QString folder = qEnvironmentVariable("KST_SCREENSHOT_DIR");
    if (!folder.isEmpty()) {
        ASSERT_TRUE(picture.save(QDir(folder).filePath(QString::fromUtf8(name)), "PNG"));
    }
}

// The pictures show a computer on the recorders' subnet, whatever this machine's interfaces are.
std::vector<LocalNetwork> kOnTheSite() {
    return {{0xC0A80105, 0xFFFFFF00, false}};
}

} // namespace

namespace {

// Recorders of a site on 192.168.1.0/24, as the list shows them; they answer on loopback.
sim::SimOptions SiteRecorders(int count, bool sameAddress) {
    sim::SimOptions options;
    options.tcpPort = 0;
    options.udpPort = 0;
    options.discovery.count = count;
    options.discovery.sameAddress = sameAddress;
    options.deviceAddress = 0xC0A8016C;
    options.devicePort = 37777;
    options.discovery.mask = 0xFFFFFF00;
    options.discovery.gateway = 0xC0A80101;
    return options;
}

DiscoveryDialog::Options WindowOn(const sim::RecorderSim& recorders) {
    DiscoveryDialog::Options windowOptions;
    windowOptions.engine = DiscoveryEngineConfig{kLoopback, recorders.udpPort(), 0, 10s};
    windowOptions.localNetworks = kOnTheSite;
    return windowOptions;
}

} // namespace

TEST(PelloryScreenshots, MainWindowListingRecorders) {
    sim::RecorderSim recorders(SiteRecorders(5, false));
    recorders.start();
    DiscoveryDialog window(WindowOn(recorders));
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.deviceList()->itemCount() == 5; }, 20000));
    window.deviceList()->selectItem(1);
    window.statusText("Modified IP address successfully!");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.statusLine().isEmpty(); }));

    const QPixmap picture = window.grab();
    EXPECT_EQ(picture.size(), window.size());
    saveScreenshot(picture, "pellory-main.png");
}

// A batch fresh from the factory: six recorders on one address, each listed and marked.
TEST(PelloryScreenshots, MainWindowListingConflicts) {
    sim::RecorderSim recorders(SiteRecorders(6, true));
    recorders.start();
    DiscoveryDialog window(WindowOn(recorders));
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.deviceList()->itemCount() == 6; }, 20000));
    window.deviceList()->selectItem(2);
    EXPECT_EQ(window.deviceList()->item(0, 1)->toolTip(),
              QStringLiteral("Address conflict: No. 2, 3, 4, 5, 6 also use 192.168.1.108"));
    saveScreenshot(window.grab(), "pellory-conflicts.png");
}

TEST(PelloryScreenshots, RegistrationDialogs) {
    QTemporaryDir folder;
    ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("XML")));
    const QString dataFile = folder.filePath(QStringLiteral("XML/Data.xml"));
    QFile file(dataFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<DATAROOT><ORGINFO>"
               "<ORG id=\"1\" name=\"Headquarters\"><ORG id=\"2\" name=\"Lobby\"/><ORG id=\"3\" name=\"Car "
               "park\"/></ORG>"
               "<ORG id=\"4\" name=\"Warehouse\"><ORG id=\"5\" name=\"Loading bay\"/></ORG>"
               "</ORGINFO></DATAROOT>");
    file.close();
    ClientDataFile::setPath(dataFile.toStdString());
    ClientStore::instance()->load();
    {
        DeviceManagementDialog dialog;
        dialog.show();
        TreeViewControl* tree = dialog.organisationTree();
        tree->expandAll();
        tree->selectItem(tree->topLevelItem(0)->child(0)->child(1));
        dialog.setItemText(DeviceManagementDialog::IDC_DEVICE_NAME, QStringLiteral("Gate"));
        dialog.setItemText(DeviceManagementDialog::IDC_USER_NAME, QStringLiteral("admin"));
        dialog.setItemText(DeviceManagementDialog::IDC_PASSWORD, QStringLiteral("admin"));
        dialog.setItemText(DeviceManagementDialog::IDC_CHANNELS, QStringLiteral("4"));
        EXPECT_EQ(dialog.itemText(DeviceManagementDialog::IDC_ORGANIZATION), QStringLiteral("Car park"));
        saveScreenshot(dialog.grab(), "pellory-register.png");
    }
    {
        CameraTypeDialog::CameraTypes types{};
        types[1] = CameraTypeDialog::kSpeedDome;
        CameraTypeDialog dialog(4, types);
        dialog.show();
        saveScreenshot(dialog.grab(), "pellory-camera-types.png");
    }
    ClientStore::release();
    ClientDataFile::setPath({});
}
