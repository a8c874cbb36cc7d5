// Registration of a found recorder into a client data file in a temporary folder, through the
// Add button, the Device Management dialog and the camera type dialog.

#include "clientstore/ClientDataFile.h"
#include "clientstore/ClientStore.h"
#include "clientstore/DataFileLock.h"
#include "discovery/CameraTypeDialog.h"
#include "discovery/DeviceManagementDialog.h"
#include "discovery/DiscoveryDialog.h"
#include "tests/discovery/GuiTestSupport.h"

#include "desktop/DialogUnits.h"
#include "desktop/ListViewControl.h"
#include "desktop/TreeViewControl.h"
#include "desktop/testing/MessageBoxRecorder.h"

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace desktop;
using namespace std::chrono_literals;

namespace {

const std::vector<FakeDevice> kRecorders = {
    {0xC0A80114, 5000, 0xFFFFFF00, 0xC0A80101, "00:11:22:33:44:20"}, // 192.168.1.20
    {0xC0A80115, 5001, 0xFFFFFF00, 0xC0A80101, "00:11:22:33:44:21"}, // 192.168.1.21
};

const QByteArray kOrganisations = "<DATAROOT>\r\n"
                                  "\t<ORGINFO>\r\n"
                                  "\t\t<ORG id=\"3\" name=\"North\">\r\n"
                                  "\t\t\t<ORG id=\"7\" name=\"Depot\"/>\r\n"
                                  "\t\t</ORG>\r\n"
                                  "\t\t<ORG id=\"5\" name=\"South\"/>\r\n"
                                  "\t</ORGINFO>\r\n"
                                  "</DATAROOT>\r\n";

// What the Device Management dialog is given.
struct Settings {
    QString deviceName = QStringLiteral("Hall");
    QString userName = QStringLiteral("user");
    QString password = QStringLiteral("pw");
    QString channels = QStringLiteral("2");
};

void fill(DeviceManagementDialog& dialog, const Settings& settings) {
    dialog.setItemText(DeviceManagementDialog::IDC_DEVICE_NAME, settings.deviceName);
    dialog.setItemText(DeviceManagementDialog::IDC_USER_NAME, settings.userName);
    dialog.setItemText(DeviceManagementDialog::IDC_PASSWORD, settings.password);
    dialog.setItemText(DeviceManagementDialog::IDC_CHANNELS, settings.channels);
}

class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("XML")));
        dataFile = folder.filePath(QStringLiteral("XML/Data.xml"));
        ClientDataFile::setPath(dataFile.toStdString());
        network.setDevices(kRecorders);
    }
    void TearDown() override {
        window.reset();
        ClientStore::release();
        ClientDataFile::setPath({});
    }

    void writeDataFile(const QByteArray& contents) {
        QFile file(dataFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }
    QByteArray savedFile() const {
        QFile file(dataFile);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Opens the window with the Add button and waits for the recorders.
    void openWindow() {
        DiscoveryDialog::Options options;
        options.engine = DiscoveryEngineConfig{kLoopback, network.port(), 0, 10s};
        options.showAddButton = true;
        window = std::make_unique<DiscoveryDialog>(options);
        window->show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->deviceList()->itemCount() == 2; }, 10000));
    }

    // Selects the list row and runs Add with the script answering the dialogs.
    void add(int row, DialogScript& script) {
        window->deviceList()->selectItem(row);
        press(*window, DiscoveryDialog::IDC_ADD);
        EXPECT_TRUE(script.waitDone());
        EXPECT_TRUE(script.unexpected().empty());
    }

    QTemporaryDir folder;
    QString dataFile;
    FakeNetwork network;
    MessageBoxRecorder boxes;
    std::unique_ptr<DiscoveryDialog> window;
};

} // namespace

TEST_F(RegistrationTest, NewFileAfterOneRegistrationHoldsTheDeviceItsChannelsAndTheCounter) {
    openWindow();
    DialogScript script;
    script.then<DeviceManagementDialog>([](DeviceManagementDialog& dialog) {
        fill(dialog, Settings{});
        press(dialog, DeviceManagementDialog::IDC_EDIT_CAMERA_TYPE);
    });
    script.then<CameraTypeDialog>([](CameraTypeDialog& dialog) {
        EXPECT_EQ(dialog.channelCount(), 2);
        dialog.itemAs<QRadioButton>(CameraTypeDialog::speedDomeId(1))->click();
        press(dialog, IDOK);
    });
    script.then<DeviceManagementDialog>([](DeviceManagementDialog& dialog) { press(dialog, IDOK); });
    add(0, script);
    EXPECT_EQ(boxes.count(), 0u) << boxes.texts().join(u'|').toStdString();

    // The layout the client reads, byte for byte but for the enciphered password.
    QByteArray saved = savedFile();
    const QRegularExpression cipher(QStringLiteral(" password=\"([^\"]+)\""));
    const auto match = cipher.match(QString::fromUtf8(saved));
    ASSERT_TRUE(match.hasMatch());
    EXPECT_NE(match.captured(1), QStringLiteral("pw"));
    saved.replace(match.captured(1).toUtf8(), "CIPHER");
    EXPECT_EQ(saved,
              QByteArray("<DATAROOT>\r\n"
                         "\t<ORGINFO/>\r\n"
                         "\t<DEVINFO>\r\n"
                         "\t\t<DEV id=\"1\" ip=\"0\" name=\"Hall1\" host=\"192.168.1.20\" port=\"5000\" "
                         "cameras=\"2\" ddnsFlag=\"0\" DDNSHost=\"\" DDNSPort=\"0\" desc=\"\" "
                         "username=\"user\" OrgId=\"0\" password=\"CIPHER\">\r\n"
                         "\t\t\t<DEV id=\"2\" type=\"0\" name=\"Hall1_1\" channel=\"0\" desc=\"\" "
                         "CameraType=\"0\"/>\r\n"
                         "\t\t\t<DEV id=\"3\" type=\"1\" name=\"Hall1_alarm1\" channel=\"0\" desc=\"\"/>\r\n"
                         "\t\t\t<DEV id=\"4\" type=\"0\" name=\"Hall1_2\" channel=\"1\" desc=\"\" "
                         "CameraType=\"1\"/>\r\n"
                         "\t\t\t<DEV id=\"5\" type=\"1\" name=\"Hall1_alarm2\" channel=\"1\" desc=\"\"/>\r\n"
                         "\t\t</DEV>\r\n"
                         "\t</DEVINFO>\r\n"
                         "\t<GLOBAL index=\"6\"/>\r\n"
                         "</DATAROOT>\r\n"));

    // Read back by a fresh store, the password deciphers to what was typed.
    window.reset();
    ClientStore::instance()->load();
    const auto& devices = ClientStore::instance()->devices();
    ASSERT_EQ(devices.count(1), 1u);
    EXPECT_EQ(fieldText(devices.at(1).password), "pw");
    EXPECT_EQ(fieldText(devices.at(1).username), "user");
}

TEST_F(RegistrationTest, NameIsTrimmedAndNumberedAndRecorderAddressAndOrganisationAreStored) {
    writeDataFile(kOrganisations);
    openWindow();
    DialogScript script;
    script.then<DeviceManagementDialog>([](DeviceManagementDialog& dialog) {
        TreeViewControl* tree = dialog.organisationTree();
        // "Organization" on top, then the organisations in their file order, depth first.
        ASSERT_EQ(tree->topLevelItemCount(), 1);
        QTreeWidgetItem* top = tree->topLevelItem(0);
        EXPECT_EQ(top->text(0), QStringLiteral("Organization"));
        EXPECT_TRUE(top->isExpanded());
        EXPECT_EQ(tree->currentItem(), top);
        EXPECT_EQ(dialog.itemText(DeviceManagementDialog::IDC_ORGANIZATION), QStringLiteral("Organization"));
        ASSERT_EQ(top->childCount(), 2);
        EXPECT_EQ(top->child(0)->text(0), QStringLiteral("North"));
        EXPECT_EQ(top->child(1)->text(0), QStringLiteral("South"));
        ASSERT_EQ(top->child(0)->childCount(), 1);
        QTreeWidgetItem* depot = top->child(0)->child(0);
        EXPECT_EQ(depot->text(0), QStringLiteral("Depot"));
        EXPECT_EQ(TreeViewControl::itemData(depot), 7u);
        EXPECT_FALSE(depot->icon(0).isNull());

        tree->selectItem(depot);
        EXPECT_EQ(dialog.itemText(DeviceManagementDialog::IDC_ORGANIZATION), QStringLiteral("Depot"));
        EXPECT_EQ(dialog.orgId(), 7u);
        fill(dialog,
             Settings{QStringLiteral("  Gate  "), QStringLiteral("admin"), QString(), QStringLiteral("4")});
        press(dialog, IDOK);
    });
    add(1, script);
    const QByteArray saved = savedFile();
    EXPECT_TRUE(saved.contains("<DEV id=\"1\" ip=\"0\" name=\"Gate1\" host=\"192.168.1.21\" port=\"5001\" "
                               "cameras=\"4\" ddnsFlag=\"0\" DDNSHost=\"\" DDNSPort=\"0\" desc=\"\" "
                               "username=\"admin\" OrgId=\"7\" password=\""))
        << saved.toStdString();
    // Camera types left alone are normal cameras.
    EXPECT_EQ(saved.count("CameraType=\"0\""), 4);
    EXPECT_TRUE(saved.contains("<ORG id=\"7\" name=\"Depot\"/>"));
    EXPECT_TRUE(saved.contains("<GLOBAL index=\"10\"/>"));
}

TEST_F(RegistrationTest, AddOverTwoSelectedRowsNumbersEachName) {
    openWindow();
    DialogScript script;
    script.then<DeviceManagementDialog>([](DeviceManagementDialog& dialog) {
        fill(dialog,
             Settings{QStringLiteral("Lobby"), QStringLiteral("admin"), QString(), QStringLiteral("4")});
        press(dialog, IDOK);
    });
    window->deviceList()->selectAll();
    ASSERT_EQ(window->deviceList()->selectedRows().size(), 2u);
    press(*window, DiscoveryDialog::IDC_ADD);
    EXPECT_TRUE(script.waitDone());
    EXPECT_TRUE(script.unexpected().empty());
    const QByteArray saved = savedFile();
    EXPECT_TRUE(saved.contains("name=\"Lobby1\"")) << saved.toStdString();
    EXPECT_TRUE(saved.contains("name=\"Lobby2\"")) << saved.toStdString();
}

TEST_F(RegistrationTest, NameWithPercentSignsIsStoredUnchanged) {
    openWindow();
    DialogScript script;
    script.then<DeviceManagementDialog>([](DeviceManagementDialog& dialog) {
        fill(dialog, Settings{QStringLiteral("Cam%d%s"), QStringLiteral("u"), QStringLiteral("p"),
                              QStringLiteral("1")});
        press(dialog, IDOK);
    });
    add(0, script);
    EXPECT_TRUE(savedFile().contains("name=\"Cam%d%s1\""));
    EXPECT_TRUE(savedFile().contains("name=\"Cam%d%s1_alarm1\""));
}

TEST_F(RegistrationTest, AfterSortingTheRecorderShownIsRegistered) {
    openWindow();
    // Highest address first: the second recorder found is now the top row.
    window->deviceList()->horizontalHeader()->setSortIndicator(DiscoveryDialog::ColumnAddress,
                                                               Qt::DescendingOrder);
    ASSERT_EQ(window->deviceList()->itemText(0, DiscoveryDialog::ColumnAddress),
              QStringLiteral("192.168.1.21"));
    ASSERT_EQ(window->engineRow(0), std::size_t(1));
    DialogScript script;
    script.then<DeviceManagementDialog>([](DeviceManagementDialog& dialog) {
        fill(dialog, Settings{});
        press(dialog, IDOK);
    });
    add(0, script);
    EXPECT_TRUE(savedFile().contains("name=\"Hall1\" host=\"192.168.1.21\" port=\"5001\""))
        << savedFile().toStdString();
}

TEST_F(RegistrationTest, TheStoresDuplicateMessagesReachTheUserAndNothingIsAdded) {
    openWindow();
    const auto registerAs = [&](const QString& name, int row) {
        DialogScript script;
        script.then<DeviceManagementDialog>([name](DeviceManagementDialog& dialog) {
            fill(dialog, Settings{name});
            press(dialog, IDOK);
        });
        add(row, script);
    };
    registerAs(QStringLiteral("Gate"), 0);
    ASSERT_EQ(boxes.count(), 0u);
    const QByteArray first = savedFile();

    registerAs(QStringLiteral("Gate"), 0);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, QStringLiteral("The name of this device has existed!"));
    EXPECT_EQ(boxes.last().caption, applicationName());

    registerAs(QStringLiteral("Door"), 0);
    ASSERT_EQ(boxes.count(), 2u);
    EXPECT_EQ(boxes.last().text, QStringLiteral("IP or domain name of this device has existed!"));
    EXPECT_EQ(boxes.last().caption, applicationName());
    EXPECT_EQ(savedFile(), first);

    // Another recorder under a new name is taken.
    registerAs(QStringLiteral("Door"), 1);
    EXPECT_EQ(boxes.count(), 2u);
    EXPECT_TRUE(savedFile().contains("name=\"Door1\" host=\"192.168.1.21\""));
}

TEST_F(RegistrationTest, AddWithoutASelectedRowAsksForOne) {
    openWindow();
    window->deviceList()->selectItem(-1);
    DialogScript script; // no dialog may open
    press(*window, DiscoveryDialog::IDC_ADD);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, QStringLiteral("Pleae select one device at least."));
    EXPECT_EQ(boxes.last().caption, QStringLiteral("Prompt"));
    EXPECT_TRUE(script.unexpected().empty());
    EXPECT_FALSE(QFile::exists(dataFile));
}

TEST_F(RegistrationTest, CancelSavesNothing) {
    openWindow();
    DialogScript script;
    script.then<DeviceManagementDialog>([](DeviceManagementDialog& dialog) {
        fill(dialog, Settings{});
        press(dialog, IDCANCEL);
    });
    add(0, script);
    EXPECT_FALSE(QFile::exists(dataFile));
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(RegistrationTest, ASaveThatFailsIsReported) {
    ClientDataFile::setPath(folder.filePath(QStringLiteral("missing/XML/Data.xml")).toStdString());
    openWindow();
    DialogScript script;
    script.then<DeviceManagementDialog>([](DeviceManagementDialog& dialog) {
        fill(dialog, Settings{});
        press(dialog, IDOK);
    });
    add(0, script);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_TRUE(boxes.last().text.startsWith(QStringLiteral("The data file ")))
        << boxes.last().text.toStdString();
    EXPECT_TRUE(
        boxes.last().text.endsWith(QStringLiteral(" could not be saved! (No such file or directory)")))
        << boxes.last().text.toStdString();
    EXPECT_EQ(boxes.last().caption, QStringLiteral("ERROR"));
}

// Only a window that registers holds the data file's lock, from opening to closing.
TEST_F(RegistrationTest, OnlyAWindowWithAddHoldsTheDataFileLock) {
    for (const bool withAdd : {true, false}) {
        DiscoveryDialog::Options options;
        options.engine = DiscoveryEngineConfig{kLoopback, network.port(), 0, 10s};
        options.showAddButton = withAdd;
        window = std::make_unique<DiscoveryDialog>(options);
        window->show();
        DataFileLock other;
        EXPECT_EQ(other.acquire(dataFile.toStdString(), std::chrono::milliseconds(0)).empty(), !withAdd)
            << withAdd;
        other.release();
        window.reset();
        EXPECT_EQ(other.acquire(dataFile.toStdString(), std::chrono::milliseconds(0)), "") << withAdd;
    }
}

// A data file cut short is never written over: Add says where it breaks off and opens no dialog.
TEST_F(RegistrationTest, ADataFileCutShortRefusesTheRegistrationAndStaysAsItIs) {
    const QByteArray cut =
        "<DATAROOT>\r\n\t<GLOBAL index=\"7\"/>\r\n\t<DEVINFO>\r\n\t\t<DEV id=\"1\" name=\"Old\" pass";
    writeDataFile(cut);
    openWindow();
    window->deviceList()->selectItem(0);
    DialogScript script; // no dialog may open
    press(*window, DiscoveryDialog::IDC_ADD);
    EXPECT_TRUE(script.unexpected().empty());
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text,
              QStringLiteral("The data file %1 cannot be used: line 4 (byte 48): a tag is not "
                             "closed (the text ends before its markup does). It is left as it is.")
                  .arg(dataFile));
    EXPECT_EQ(boxes.last().caption, QStringLiteral("ERROR"));
    EXPECT_EQ(savedFile(), cut);
}

// The Device Management dialog on its own, over a store loaded from the temporary file.
class DeviceManagementDialogTest : public RegistrationTest {
protected:
    void SetUp() override {
        RegistrationTest::SetUp();
        writeDataFile(kOrganisations);
        ClientStore::instance()->load();
        dialog = std::make_unique<DeviceManagementDialog>();
        dialog->show();
    }
    void TearDown() override {
        dialog.reset();
        RegistrationTest::TearDown();
    }
    std::unique_ptr<DeviceManagementDialog> dialog;
};

TEST_F(DeviceManagementDialogTest, HasItsTemplateAndStartsWithEightChannels) {
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Device Management"));
    EXPECT_EQ(dialog->size(),
              QSize(dluToPixelsX(316, dialog->baseUnits()), dluToPixelsY(299, dialog->baseUnits())));
    EXPECT_EQ(dialog->itemText(DeviceManagementDialog::IDC_CHANNELS), QStringLiteral("8"));
    EXPECT_TRUE(dialog->itemAs<QLineEdit>(DeviceManagementDialog::IDC_ORGANIZATION)->isReadOnly());
    EXPECT_EQ(dialog->itemAs<QLineEdit>(DeviceManagementDialog::IDC_PASSWORD)->echoMode(),
              QLineEdit::Password);
    const QStringList labels = {"Organization", "Device Name", "User Name", "Password", "Total Channel"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(dialog->itemText(DeviceManagementDialog::IDC_FIRST_LABEL + i), labels[i]);
    }
    // Only digits go into the channel count.
    auto* channels = dialog->itemAs<QLineEdit>(DeviceManagementDialog::IDC_CHANNELS);
    channels->clear();
    QTest::keyClicks(channels, QStringLiteral("1a-2"));
    EXPECT_EQ(channels->text(), QStringLiteral("12"));
    const QImage image = dialog->grab().toImage();
    EXPECT_EQ(image.pixelColor(dialog->toPixels(312, 295, 1, 1).topLeft()), QColor(198, 206, 225));
}

TEST_F(DeviceManagementDialogTest, OkRefusesAnEmptyNameAndAChannelCountOutsideOneToSixteen) {
    fill(*dialog, Settings{QStringLiteral("   ")});
    press(*dialog, IDOK);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.last().text, QStringLiteral("Device Name is invalid!"));
    EXPECT_EQ(boxes.last().caption, QStringLiteral("ERROR"));
    EXPECT_TRUE(dialog->isVisible());

    for (const char* count : {"0", "17"}) {
        fill(*dialog, Settings{QStringLiteral("Gate"), {}, {}, QString::fromUtf8(count)});
        press(*dialog, IDOK);
        EXPECT_EQ(boxes.last().text, QStringLiteral("The channel's number must be between 1 and 16!"));
        EXPECT_EQ(boxes.last().caption, QStringLiteral("ERROR"));
        EXPECT_TRUE(dialog->isVisible());
    }
    // A count that is no number is refused by the exchange itself.
    fill(*dialog, Settings{QStringLiteral("Gate"), {}, {}, QString()});
    press(*dialog, IDOK);
    EXPECT_EQ(boxes.last().text, QStringLiteral("Please enter an integer."));
    EXPECT_EQ(boxes.count(), 4u);

    // Without user name and password, 16 channels are fine.
    fill(*dialog, Settings{QStringLiteral(" Gate "), {}, {}, QStringLiteral("16")});
    press(*dialog, IDOK);
    EXPECT_EQ(boxes.count(), 4u);
    EXPECT_EQ(dialog->result(), IDOK);
    EXPECT_EQ(dialog->deviceName(), QStringLiteral("Gate"));
    EXPECT_EQ(dialog->channelCount(), 16);
}

TEST_F(DeviceManagementDialogTest, TextsLongerThanTheirRecordFieldsAreRefused) {
    fill(*dialog, Settings{QString(63, u'n')});
    press(*dialog, IDOK);
    EXPECT_EQ(boxes.last().text, QStringLiteral("Device Name is too long!"));
    fill(*dialog, Settings{QString(62, u'n'), QString(64, u'u')});
    press(*dialog, IDOK);
    EXPECT_EQ(boxes.last().text, QStringLiteral("User Name is too long!"));
    // Counted in bytes as stored: 32 two-byte letters are 64 bytes.
    fill(*dialog, Settings{QStringLiteral("n"), QStringLiteral("u"), QString(32, QChar(0xE9))});
    press(*dialog, IDOK);
    EXPECT_EQ(boxes.last().text, QStringLiteral("Password is too long!"));
    EXPECT_EQ(boxes.count(), 3u);
    EXPECT_TRUE(dialog->isVisible());
    fill(*dialog, Settings{QString(62, u'n'), QString(63, u'u'), QString(63, u'p')});
    press(*dialog, IDOK);
    EXPECT_EQ(boxes.count(), 3u);
    EXPECT_EQ(dialog->result(), IDOK);
}

TEST_F(DeviceManagementDialogTest, EachRefusalIsShownWithTheFocusOnItsField) {
    const struct {
        Settings settings;
        const char* text;
        int field;
    } cases[] = {
        {Settings{QStringLiteral(" ")}, "Device Name is invalid!", DeviceManagementDialog::IDC_DEVICE_NAME},
        {Settings{QStringLiteral("Gate"), {}, {}, QStringLiteral("0")},
         "The channel's number must be between 1 and 16!", DeviceManagementDialog::IDC_CHANNELS},
        {Settings{QStringLiteral("Gate"), QString(64, u'u')}, "User Name is too long!",
         DeviceManagementDialog::IDC_USER_NAME},
        {Settings{QStringLiteral("Gate"), {}, QString(64, u'p')}, "Password is too long!",
         DeviceManagementDialog::IDC_PASSWORD},
        // Text the data file cannot hold as written is refused here, before any row is touched.
        {Settings{QStringLiteral("a\"b'c")},
         "Device Name cannot be stored in the data file: it holds both a double and a single quote.",
         DeviceManagementDialog::IDC_DEVICE_NAME},
        {Settings{QStringLiteral("Gate"), QStringLiteral("admin ")},
         "User Name cannot be stored in the data file: it begins or ends with a blank.",
         DeviceManagementDialog::IDC_USER_NAME},
    };
    for (const auto& c : cases) {
        fill(*dialog, c.settings);
        dialog->item(DeviceManagementDialog::IDC_ORG_TREE)->setFocus();
        press(*dialog, IDOK);
        EXPECT_EQ(boxes.last().text, QString::fromUtf8(c.text));
        EXPECT_EQ(boxes.last().caption, QStringLiteral("ERROR"));
        EXPECT_EQ(dialog->focusWidget(), dialog->item(c.field)) << c.text;
        EXPECT_TRUE(dialog->isVisible()) << c.text;
    }
    EXPECT_EQ(boxes.count(), std::size(cases));
}

TEST_F(DeviceManagementDialogTest, EditCameraTypeChecksTheCountAndKeepsTypesOnCancel) {
    DialogScript none;
    for (const char* count : {"0", "17"}) {
        fill(*dialog, Settings{QStringLiteral("Gate"), {}, {}, QString::fromUtf8(count)});
        press(*dialog, DeviceManagementDialog::IDC_EDIT_CAMERA_TYPE);
        EXPECT_EQ(boxes.last().text, QStringLiteral("The channel's number must be between 1 and 16!"));
        EXPECT_EQ(boxes.last().caption, QStringLiteral("Dor Ovud Avez"));
    }
    EXPECT_EQ(boxes.count(), 2u);
    EXPECT_TRUE(none.unexpected().empty());

    fill(*dialog, Settings{QStringLiteral("Gate"), {}, {}, QStringLiteral("3")});
    DialogScript choose;
    choose.then<CameraTypeDialog>([](CameraTypeDialog& types) {
        types.itemAs<QRadioButton>(CameraTypeDialog::speedDomeId(2))->click();
        press(types, IDOK);
    });
    press(*dialog, DeviceManagementDialog::IDC_EDIT_CAMERA_TYPE);
    EXPECT_TRUE(choose.done());
    CameraTypeDialog::CameraTypes expected{};
    expected[2] = 1;
    EXPECT_EQ(dialog->cameraTypes(), expected);

    DialogScript cancel;
    cancel.then<CameraTypeDialog>([](CameraTypeDialog& types) {
        EXPECT_TRUE(types.itemAs<QRadioButton>(CameraTypeDialog::speedDomeId(2))->isChecked());
        types.itemAs<QRadioButton>(CameraTypeDialog::speedDomeId(0))->click();
        types.itemAs<QRadioButton>(CameraTypeDialog::normalId(2))->click();
        press(types, IDCANCEL);
    });
    press(*dialog, DeviceManagementDialog::IDC_EDIT_CAMERA_TYPE);
    EXPECT_TRUE(cancel.done());
    EXPECT_EQ(dialog->cameraTypes(), expected);
}

TEST_F(DeviceManagementDialogTest, SelectingAnOrganisationPutsBackTextNotYetTakenOver) {
    fill(*dialog, Settings{QStringLiteral("Gate"), QStringLiteral("admin"), QStringLiteral("pw"),
                           QStringLiteral("4")});
    // Edit Camera type takes the fields over.
    DialogScript script;
    script.then<CameraTypeDialog>([](CameraTypeDialog& types) { press(types, IDCANCEL); });
    press(*dialog, DeviceManagementDialog::IDC_EDIT_CAMERA_TYPE);
    EXPECT_TRUE(script.done());
    dialog->setItemText(DeviceManagementDialog::IDC_DEVICE_NAME, QStringLiteral("Typed"));
    dialog->setItemText(DeviceManagementDialog::IDC_CHANNELS, QStringLiteral("9"));
    TreeViewControl* tree = dialog->organisationTree();
    tree->selectItem(tree->topLevelItem(0)->child(1));
    EXPECT_EQ(dialog->itemText(DeviceManagementDialog::IDC_ORGANIZATION), QStringLiteral("South"));
    EXPECT_EQ(dialog->orgId(), 5u);
    EXPECT_EQ(dialog->itemText(DeviceManagementDialog::IDC_DEVICE_NAME), QStringLiteral("Gate"));
    EXPECT_EQ(dialog->itemText(DeviceManagementDialog::IDC_CHANNELS), QStringLiteral("4"));
}
