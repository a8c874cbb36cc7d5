// The window's marks on rows whose address collides or lies outside this computer's subnets,
// against recorders played on loopback and a computer whose interfaces the test gives.

#include "discovery/DeviceListMarks.h"
#include "discovery/DiscoveryDialog.h"
#include "tests/discovery/GuiTestSupport.h"

#include "desktop/ListViewControl.h"

#include <QPushButton>

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t kFactory = 0xC0A8016C; // 192.168.1.108
constexpr std::uint32_t kMask = 0xFFFFFF00;

FakeDevice unit(std::uint32_t address, const char* mac) {
    return {address, 37777, kMask, (address & kMask) | 1, mac};
}

} // namespace

// Six units fresh from the factory, one recorder on this computer's own address, one on a
// subnet this computer has no address on, and one that is fine.
TEST(DeviceListMarks, ConflictsAndOtherSubnetsAreMarkedWithoutChangingTheColumns) {
    FakeNetwork network;
    std::vector<FakeDevice> devices;
    for (int i = 1; i <= 6; ++i) {
        devices.push_back(unit(kFactory, ("02:00:00:00:00:0" + std::to_string(i)).c_str()));
    }
    devices.push_back(unit(0xC0A80105, "02:00:00:00:00:07")); // 192.168.1.5, this computer's
    devices.push_back(unit(0xAC100009, "02:00:00:00:00:08")); // 172.16.0.9
    devices.push_back(unit(0xC0A80121, "02:00:00:00:00:09")); // 192.168.1.33
    network.setDevices(devices);

    DiscoveryDialog::Options options;
    options.engine = DiscoveryEngineConfig{kLoopback, network.port(), 0};
    options.localNetworks = [] {
        return std::vector<LocalNetwork>{{0xC0A80105, kMask, false}, {0x7F000001, 0xFF000000, true}};
    };
    DiscoveryDialog dialog(options);
    dialog.show();
    desktop::ListViewControl* list = dialog.deviceList();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->itemCount() == 9; }, 10000));

    const QString six = QStringLiteral("Address conflict: No. %1 also use 192.168.1.108");
    const std::vector<std::pair<QString, QColor>> expected = {
        {six.arg("2, 3, 4, 5, 6"), kConflictMark},
        {six.arg("1, 3, 4, 5, 6"), kConflictMark},
        {six.arg("1, 2, 4, 5, 6"), kConflictMark},
        {six.arg("1, 2, 3, 5, 6"), kConflictMark},
        {six.arg("1, 2, 3, 4, 6"), kConflictMark},
        {six.arg("1, 2, 3, 4, 5"), kConflictMark},
        {"Address conflict: 192.168.1.5 is an address of this computer", kConflictMark},
        {"172.16.0.9 is outside every subnet of this computer", kOtherSubnetMark},
        {"", QColor()},
    };
    for (int row = 0; row < 9; ++row) {
        SCOPED_TRACE(row);
        const std::string mac = devices[std::size_t(row)].mac;
        // The columns show what they always show.
        EXPECT_EQ(list->itemText(row, DiscoveryDialog::ColumnNumber), QString::number(row + 1));
        EXPECT_EQ(list->itemText(row, DiscoveryDialog::ColumnMac), QString::fromStdString(mac));
        EXPECT_EQ(list->columnCount(), 6);
        for (int column = 0; column < 6; ++column) {
            EXPECT_EQ(list->item(row, column)->toolTip(), expected[std::size_t(row)].first);
            const QBrush background = list->item(row, column)->background();
            EXPECT_EQ(background.style() == Qt::NoBrush ? QColor() : background.color(),
                      expected[std::size_t(row)].second);
        }
    }
}

// A second unit on an address turns the first into a conflict too; a refresh that finds only one
// of them clears it.
TEST(DeviceListMarks, ALaterRowMarksTheRowsBeforeItAndRefreshStartsAfresh) {
    FakeNetwork network;
    network.setDevices({unit(kFactory, "02:00:00:00:00:01")});
    DiscoveryDialog::Options options;
    options.engine = DiscoveryEngineConfig{kLoopback, network.port(), 0};
    options.localNetworks = [] { return std::vector<LocalNetwork>{{0xC0A80105, kMask, false}}; };
    DiscoveryDialog dialog(options);
    dialog.show();
    desktop::ListViewControl* list = dialog.deviceList();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->itemCount() == 1; }, 10000));
    EXPECT_EQ(list->item(0, 1)->toolTip(), "");

    network.setDevices({unit(kFactory, "02:00:00:00:00:01"), unit(kFactory, "02:00:00:00:00:02")});
    dialog.engine().search();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->itemCount() == 2; }, 10000));
    EXPECT_EQ(list->item(0, 1)->toolTip(), "Address conflict: No. 2 also uses 192.168.1.108");
    EXPECT_EQ(list->item(1, 1)->toolTip(), "Address conflict: No. 1 also uses 192.168.1.108");

    network.setDevices({unit(kFactory, "02:00:00:00:00:02")});
    dialog.itemAs<QPushButton>(DiscoveryDialog::IDC_REFRESH)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->itemCount() == 1 && list->itemText(0, 5).endsWith("02"); },
                                10000));
    EXPECT_EQ(list->item(0, 1)->toolTip(), "");
    EXPECT_EQ(list->item(0, 1)->background().style(), Qt::NoBrush);
}
