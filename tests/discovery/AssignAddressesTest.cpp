// "Assign addresses..." from the main window's list menu: the plan the dialog shows, its refusals,
// and the run against recorders that all answer from one factory address, played on loopback.

#include "discovery/AssignAddressesDialog.h"
#include "discovery/DiscoveryDialog.h"
#include "tests/discovery/GuiTestSupport.h"

#include "simulator/RecorderSim.h"

#include "desktop/ListViewControl.h"
#include "desktop/testing/MessageBoxRecorder.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace desktop;
using namespace std::chrono_literals;

namespace {

std::uint32_t ip(const char* dotted) {
    return parseIpv4(dotted).value();
}

// This machine, as the window is told: one address inside the recorders' subnet.
const std::vector<LocalNetwork> kMachine = {{ip("127.0.1.109"), ip("255.255.255.0"), false}};

struct Boxes {
    const char* first;
    const char* mask;
    const char* gateway;
    const char* user;
};
const Boxes kGood = {"127.0.1.20", "255.255.255.0", "127.0.1.1", "admin"};

class AssignAddressesTest : public ::testing::Test {
protected:
    std::unique_ptr<DiscoveryDialog> openWindow(std::uint16_t port, int rows,
                                                std::chrono::milliseconds wait = 10s) {
        DiscoveryDialog::Options options;
        options.engine = DiscoveryEngineConfig{kLoopback, port, 0, wait};
        options.localNetworks = [] { return kMachine; };
        auto window = std::make_unique<DiscoveryDialog>(options);
        window->show();
        EXPECT_TRUE(waitRows(*window, rows));
        return window;
    }

    static bool waitRows(const DiscoveryDialog& window, int rows) {
        return QTest::qWaitFor([&] { return window.deviceList()->itemCount() == rows; }, 20000);
    }

    static void select(DiscoveryDialog& window, const std::vector<int>& rows) {
        ListViewControl* list = window.deviceList();
        list->clearSelection();
        for (int row : rows) {
            list->selectionModel()->select(list->model()->index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }

    // Right-clicks the list row, chooses "Assign addresses..." and hands the dialog to `use`,
    // which must close it.
    static void assign(DiscoveryDialog& window, int clickedRow,
                       const std::function<void(AssignAddressesDialog&)>& use) {
        DialogScript script;
        script.then<AssignAddressesDialog>(use);
        ListViewControl* list = window.deviceList();
        const QPoint at = list->visualItemRect(list->item(clickedRow, DiscoveryDialog::ColumnPort)).center();
        withListMenu(window, at, choose(DiscoveryDialog::kAssignAddressesText));
        EXPECT_TRUE(script.waitDone());
        EXPECT_TRUE(script.unexpected().empty());
    }

    static void fill(AssignAddressesDialog& dialog, const Boxes& boxes) {
        dialog.setItemText(AssignAddressesDialog::IDC_FIRST_ADDRESS, QString::fromUtf8(boxes.first));
        dialog.setItemText(AssignAddressesDialog::IDC_SUBNET_MASK, QString::fromUtf8(boxes.mask));
        dialog.setItemText(AssignAddressesDialog::IDC_GATEWAY, QString::fromUtf8(boxes.gateway));
        dialog.setItemText(AssignAddressesDialog::IDC_USERNAME, QString::fromUtf8(boxes.user));
        dialog.setItemText(AssignAddressesDialog::IDC_PASSWORD, QStringLiteral("admin"));
    }

    // One column of the dialog's table, top to bottom.
    static QStringList column(const AssignAddressesDialog& dialog, int column) {
        QStringList texts;
        for (int row = 0; row < dialog.recorderList()->itemCount(); ++row) {
            texts << dialog.recorderList()->itemText(row, column);
        }
        return texts;
    }

    // Presses Start and waits until the run has ended.
    static void run(AssignAddressesDialog& dialog) {
        QSignalSpy ended(&dialog, &AssignAddressesDialog::runEnded);
        press(dialog, AssignAddressesDialog::IDC_START);
        EXPECT_TRUE(ended.count() > 0 || ended.wait(60000));
    }

    static sim::SimOptions batch(unsigned count) {
        sim::SimOptions options;
        options.upgradeSide = false;
        options.udpPort = 0;
        options.discovery.count = count;
        options.discovery.sameAddress = true;
        options.deviceAddress = ip("127.0.1.108");
        options.discovery.mask = ip("255.255.255.0");
        options.discovery.gateway = ip("127.0.1.1");
        return options;
    }

    MessageBoxRecorder boxes;
};

} // namespace

// Three of four recorders chosen, numbered from .107: the shared factory address .108, the fourth
// recorder's .110 and this machine's .109 are passed over. Each refusal leaves the dialog open with
// nothing sent; the run that follows sends one login and one modify-IP request per recorder.
TEST_F(AssignAddressesTest, ThePlanIsShownRefusalsSendNothingAndStartChangesEachRecorderOnce) {
    FakeNetwork network;
    network.setDevices(
        {{ip("127.0.1.108"), 37777, ip("255.255.255.0"), ip("127.0.1.1"), "02:00:00:00:00:0A"},
         {ip("127.0.1.108"), 37777, ip("255.255.255.0"), ip("127.0.1.1"), "02:00:00:00:00:0B"},
         {ip("127.0.1.110"), 37777, ip("255.255.255.0"), ip("127.0.1.1"), "02:00:00:00:00:0C"},
         {ip("127.0.1.108"), 37777, ip("255.255.255.0"), ip("127.0.1.1"), "02:00:00:00:00:0D"}});
    auto window = openWindow(network.port(), 4);
    select(*window, {0, 1, 3});

    const struct {
        Boxes boxes;
        const char* text;
    } refusals[] = {
        {{"127.0.1.107", "255.255.255.0", "127.0.2.1", "admin"},
         "The gateway 127.0.2.1 is outside the subnet of 127.0.1.107 with mask 255.255.255.0"},
        {{"", "255.255.255.0", "127.0.1.1", "admin"}, "Device IP address is invalid!"},
        {{"127.0.1.107", "255.255.255.0", "", "admin"}, "Device Default gateway is invalid!"},
        {{"127.0.1.107", "255.255.255.0", "127.0.1.1", ""}, "User name can not be null!"},
        {{"127.0.1.107", "255.0.255.0", "127.0.1.1", "admin"},
         "The subnet mask 255.0.255.0 is not a run of ones followed by zeros"},
        {{"127.0.1.253", "255.255.255.0", "127.0.1.1", "admin"},
         "The subnet of 127.0.1.253 with mask 255.255.255.0 has no free address left for every recorder"},
    };
    // The row clicked is one of the three chosen: the choice is kept.
    assign(*window, 1, [&](AssignAddressesDialog& dialog) {
        EXPECT_EQ(column(dialog, AssignAddressesDialog::ColumnMac),
                  QStringList({"02:00:00:00:00:0A", "02:00:00:00:00:0B", "02:00:00:00:00:0D"}));
        EXPECT_EQ(column(dialog, AssignAddressesDialog::ColumnAddress),
                  QStringList({"127.0.1.108", "127.0.1.108", "127.0.1.108"}));
        // Mask and gateway come from the first recorder chosen.
        EXPECT_EQ(dialog.itemText(AssignAddressesDialog::IDC_SUBNET_MASK), QStringLiteral("255.255.255.0"));
        EXPECT_EQ(column(dialog, AssignAddressesDialog::ColumnNewAddress), QStringList({"", "", ""}));
        fill(dialog, {"127.0.1.107", "255.255.255.0", "127.0.1.1", "admin"});
        EXPECT_EQ(column(dialog, AssignAddressesDialog::ColumnNewAddress),
                  QStringList({"127.0.1.107", "127.0.1.111", "127.0.1.112"}));

        for (const auto& refusal : refusals) {
            boxes.clear();
            fill(dialog, refusal.boxes);
            press(dialog, AssignAddressesDialog::IDC_START);
            ASSERT_EQ(boxes.count(), 1u) << refusal.text;
            EXPECT_EQ(boxes.last().text, QString::fromUtf8(refusal.text));
            EXPECT_FALSE(dialog.isRunning());
            EXPECT_TRUE(dialog.isItemEnabled(AssignAddressesDialog::IDC_START));
        }
        fill(dialog, {"127.0.1.107", "255.255.255.0", "127.0.1.1", "admin"});
        run(dialog);
        EXPECT_EQ(column(dialog, AssignAddressesDialog::ColumnResult),
                  QStringList({"modified", "modified", "modified"}));
        EXPECT_FALSE(dialog.isItemEnabled(AssignAddressesDialog::IDC_START));
        press(dialog, IDCANCEL);
    });
    // The requests of the run came after every refused Start, on the same socket and in order.
    EXPECT_EQ(network.requests(DISC_LOGIN).size(), 3u);
    EXPECT_EQ(network.requests(DISC_MODIFY_IP).size(), 3u);
}

// One recorder of three refuses every login: the others are changed, each row shows its result as
// it comes, and the list, searched again, shows the new addresses.
TEST_F(AssignAddressesTest, EachRowShowsItsResultAndTheListIsRefreshed) {
    sim::SimOptions options = batch(3);
    options.discovery.refuseLogin = {2};
    sim::RecorderSim recorders(options);
    recorders.start();
    auto window = openWindow(recorders.udpPort(), 3);
    select(*window, {0, 1, 2});
    std::vector<int> shown;
    assign(*window, 0, [&](AssignAddressesDialog& dialog) {
        QObject::connect(&dialog, &AssignAddressesDialog::resultShown,
                         [&](int row) { shown.push_back(row); });
        fill(dialog, kGood);
        run(dialog);
        EXPECT_EQ(column(dialog, AssignAddressesDialog::ColumnNewAddress),
                  QStringList({"127.0.1.20", "127.0.1.21", "127.0.1.22"}));
        EXPECT_EQ(column(dialog, AssignAddressesDialog::ColumnResult),
                  QStringList({"modified", "login refused: Invalid password!", "modified"}));
        press(dialog, IDCANCEL);
    });
    EXPECT_EQ(shown, (std::vector<int>{0, 1, 2}));
    const auto modifies = recorders.state().modifies;
    ASSERT_EQ(modifies.size(), 2u);
    EXPECT_EQ(modifies[0].device, 0u);
    EXPECT_EQ(modifies[0].address, ip("127.0.1.20"));
    EXPECT_EQ(modifies[1].device, 2u);
    EXPECT_EQ(modifies[1].address, ip("127.0.1.22"));
    ASSERT_TRUE(waitRows(*window, 3));
    QStringList addresses;
    for (int row = 0; row < 3; ++row) {
        addresses << window->deviceList()->itemText(row, DiscoveryDialog::ColumnAddress);
    }
    addresses.sort();
    EXPECT_EQ(addresses, QStringList({"127.0.1.108", "127.0.1.20", "127.0.1.22"}));
}

// Stop, or closing the dialog, as the first recorder's result shows: that recorder is done, the
// others hear nothing.
TEST_F(AssignAddressesTest, StopOrCloseEndsTheRunBeforeTheNextRecorder) {
    for (const int button : {int(AssignAddressesDialog::IDC_STOP), int(IDCANCEL)}) {
        sim::RecorderSim recorders(batch(3));
        recorders.start();
        auto window = openWindow(recorders.udpPort(), 3);
        select(*window, {0, 1, 2});
        unsigned searches = 0;
        assign(*window, 2, [&](AssignAddressesDialog& dialog) {
            QObject::connect(&dialog, &AssignAddressesDialog::resultShown, [&](int row) {
                if (row == 0) {
                    press(dialog, button);
                }
            });
            fill(dialog, kGood);
            searches = recorders.state().searches;
            run(dialog);
            EXPECT_EQ(column(dialog, AssignAddressesDialog::ColumnResult),
                      QStringList({"modified", "not sent: stopped", "not sent: stopped"}));
            EXPECT_EQ(dialog.isVisible(), button == AssignAddressesDialog::IDC_STOP);
            if (dialog.isVisible()) {
                press(dialog, IDCANCEL);
            }
        });
        // The search of the refresh went out after anything the run sent.
        ASSERT_TRUE(recorders.waitFor([&](const sim::SimState& s) { return s.searches > searches; }, 20s));
        EXPECT_EQ(recorders.state().discoveryLogins.size(), 1u);
        EXPECT_EQ(recorders.state().modifies.size(), 1u);
    }
}

// A recorder that refuses its new settings, and one whose answer never comes.
TEST_F(AssignAddressesTest, RefusedAndUnansweredChanges) {
    const struct {
        std::uint8_t modifyResult;
        const char* shown;
    } cases[] = {
        {1, "refused: Failed to modify IP address!"},
        {4, "refused: Cannot Set!"},
        {2, "no answer"}, // a result without a text is no answer
    };
    for (const auto& c : cases) {
        sim::SimOptions options = batch(1);
        options.discovery.modifyResult = c.modifyResult;
        sim::RecorderSim recorders(options);
        recorders.start();
        auto window = openWindow(recorders.udpPort(), 1, 1500ms);
        select(*window, {0});
        assign(*window, 0, [&](AssignAddressesDialog& dialog) {
            fill(dialog, kGood);
            run(dialog);
            EXPECT_EQ(column(dialog, AssignAddressesDialog::ColumnResult), QStringList({c.shown}));
            press(dialog, IDCANCEL);
        });
    }
}

// Two rows whose recorders send one MAC text with control characters in it: the table and the
// refusal show them escaped, and nothing is sent for a MAC that does not name one recorder.
TEST_F(AssignAddressesTest, ControlCharactersInAMacAreShownEscapedAndAMacListedTwiceIsRefused) {
    const std::string mac = "02:00\n00\x1b[2J";
    FakeNetwork network;
    network.setDevices({{ip("127.0.1.108"), 37777, ip("255.255.255.0"), ip("127.0.1.1"), mac},
                        {ip("127.0.1.110"), 37777, ip("255.255.255.0"), ip("127.0.1.1"), mac}});
    auto window = openWindow(network.port(), 2);
    select(*window, {0, 1});
    assign(*window, 0, [&](AssignAddressesDialog& dialog) {
        const QString shown = QStringLiteral("02:00\\x0a00\\x1b[2J");
        EXPECT_EQ(column(dialog, AssignAddressesDialog::ColumnMac), QStringList({shown, shown}));
        fill(dialog, kGood);
        boxes.clear();
        press(dialog, AssignAddressesDialog::IDC_START);
        ASSERT_EQ(boxes.count(), 1u);
        EXPECT_EQ(boxes.last().text, shown + QStringLiteral(": several recorders answered with this "
                                                            "MAC address"));
        EXPECT_FALSE(dialog.isRunning());
        press(dialog, IDCANCEL);
    });
    EXPECT_TRUE(network.requests(DISC_LOGIN).empty());
}

// Closing the main window while a recorder is being changed asks first; yes stops the run after that
// recorder, and the window closes only once the results were read and the dialog closed.
TEST_F(AssignAddressesTest, ClosingTheWindowWhileAssigningAsksAndKeepsTheResults) {
    FakeNetwork network;
    network.setDevices(
        {{ip("127.0.1.108"), 37777, ip("255.255.255.0"), ip("127.0.1.1"), "02:00:00:00:00:0A"},
         {ip("127.0.1.108"), 37777, ip("255.255.255.0"), ip("127.0.1.1"), "02:00:00:00:00:0B"}});
    network.setLoginAnswer(std::nullopt);
    auto window = openWindow(network.port(), 2, 300ms);
    select(*window, {0, 1});
    assign(*window, 0, [&](AssignAddressesDialog& dialog) {
        fill(dialog, kGood);
        QSignalSpy ended(&dialog, &AssignAddressesDialog::runEnded);
        boxes.clear();
        press(dialog, AssignAddressesDialog::IDC_START);
        ASSERT_TRUE(dialog.isRunning());
        for (const int answer : {IDNO, IDYES}) {
            boxes.answerWith(answer);
            window->close();
            EXPECT_TRUE(window->isVisible());
        }
        EXPECT_EQ(boxes.texts(),
                  QStringList(2, QString::fromUtf8(DiscoveryDialog::kCloseWhileAssigningText)));
        EXPECT_TRUE(ended.count() > 0 || ended.wait(20000));
        EXPECT_EQ(column(dialog, AssignAddressesDialog::ColumnResult),
                  QStringList({"no answer to the login: It is ouvertime.", "not sent: stopped"}));
        EXPECT_TRUE(window->isVisible());
        press(dialog, IDCANCEL);
    });
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(network.requests(DISC_LOGIN).size(), 1u);
}

// A recorder that answers while the dialog is open: the address it uses is passed over too, and the
// table shows the addresses actually sent.
TEST_F(AssignAddressesTest, AnAddressOfARecorderFoundWhileTheDialogIsOpenIsPassedOver) {
    FakeNetwork network;
    network.setDevices(
        {{ip("127.0.1.108"), 37777, ip("255.255.255.0"), ip("127.0.1.1"), "02:00:00:00:00:0A"},
         {ip("127.0.1.108"), 37777, ip("255.255.255.0"), ip("127.0.1.1"), "02:00:00:00:00:0B"}});
    auto window = openWindow(network.port(), 2);
    select(*window, {0, 1});
    assign(*window, 0, [&](AssignAddressesDialog& dialog) {
        fill(dialog, kGood);
        EXPECT_EQ(column(dialog, AssignAddressesDialog::ColumnNewAddress),
                  QStringList({"127.0.1.20", "127.0.1.21"}));
        const FakeDevice late{ip("127.0.1.21"), 37777, ip("255.255.255.0"), ip("127.0.1.1"),
                              "02:00:00:00:00:0C"};
        network.recorder().sendTo(
            window->engine().localPort(),
            buildSearchReply(FakeNetwork::recordOf(late), DeviceIdentity::fromText(late.mac)));
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->engine().rowCount() == 3; }, 20000));
        run(dialog);
        EXPECT_EQ(column(dialog, AssignAddressesDialog::ColumnNewAddress),
                  QStringList({"127.0.1.20", "127.0.1.22"}));
        EXPECT_EQ(column(dialog, AssignAddressesDialog::ColumnResult), QStringList({"modified", "modified"}));
        press(dialog, IDCANCEL);
    });
    std::vector<std::uint32_t> sent;
    for (const Datagram& request : network.requests(DISC_MODIFY_IP)) {
        sent.push_back(readModifyIpRequest(request)->record.address());
    }
    EXPECT_EQ(sent, (std::vector<std::uint32_t>{ip("127.0.1.20"), ip("127.0.1.22")}));
}
