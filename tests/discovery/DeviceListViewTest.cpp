// The recorder list's sorting and export on a real list control, offscreen: heading clicks, rows
// that arrive while the list is sorted, and the CSV file read back.

#include "discovery/DeviceListView.h"

#include "desktop/ListViewControl.h"

#include <QFile>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

struct Device {
    const char* address;
    const char* port;
    const char* mac;
};

class DeviceListViewTest : public ::testing::Test {
protected:
    DeviceListViewTest() {
        for (const char* heading :
             {"No.", "IP Address", "Port Number", "Subnet Mask", "Default Gateway", "Mac Address "}) {
            list.addColumn(QString::fromUtf8(heading), 100);
        }
        list.setFullRowSelect(true);
        enableDeviceListSorting(list);
        list.resize(700, 300);
        list.show();
    }

    // Adds a row as the window does: at its sorted place, numbered in the order found.
    void add(const Device& d) {
        const std::size_t found = m_found++;
        const QStringList texts{QString::number(found + 1), d.address, d.port, "255.255.255.0", "10.0.0.1",
                                QString::fromLatin1(d.mac)};
        const int column = sortColumn(list);
        const int row = sortedRowFor(list, column, sortOrder(list),
                                     deviceSortKey(DeviceColumn(column), texts[column].toStdString(), found));
        list.insertRow(row);
        for (int c = 0; c < texts.size(); ++c) {
            list.setItem(row, c, new DeviceListItem(texts[c], found));
        }
    }

    void clickHeading(int column) {
        QHeaderView* header = list.horizontalHeader();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }

    // Each row as "No. address port".
    std::vector<std::string> rows() const {
        std::vector<std::string> out;
        for (int r = 0; r < list.rowCount(); ++r) {
            out.push_back(
                (list.item(r, 0)->text() + " " + list.item(r, 1)->text() + " " + list.item(r, 2)->text())
                    .toStdString());
        }
        return out;
    }

    desktop::ListViewControl list;
    std::size_t m_found = 0;
};

} // namespace

TEST_F(DeviceListViewTest, HeadingsSortAddressesAndPortsAsNumbersAndNoRestoresTheOrderFound) {
    add({"10.0.0.10", "8000", "m1"});
    add({"9.1.1.1", "37777", "m2"});
    add({"10.0.0.9", "80", "m3"});
    EXPECT_EQ(rows(), (std::vector<std::string>{"1 10.0.0.10 8000", "2 9.1.1.1 37777", "3 10.0.0.9 80"}));

    clickHeading(1);
    EXPECT_EQ(rows(), (std::vector<std::string>{"2 9.1.1.1 37777", "3 10.0.0.9 80", "1 10.0.0.10 8000"}));
    clickHeading(1);
    EXPECT_EQ(sortOrder(list), Qt::DescendingOrder);
    EXPECT_EQ(rows(), (std::vector<std::string>{"1 10.0.0.10 8000", "3 10.0.0.9 80", "2 9.1.1.1 37777"}));
    clickHeading(2); // another column starts ascending
    EXPECT_EQ(rows(), (std::vector<std::string>{"3 10.0.0.9 80", "1 10.0.0.10 8000", "2 9.1.1.1 37777"}));
    clickHeading(2);
    EXPECT_EQ(rows(), (std::vector<std::string>{"2 9.1.1.1 37777", "1 10.0.0.10 8000", "3 10.0.0.9 80"}));
    clickHeading(0);
    EXPECT_EQ(rows(), (std::vector<std::string>{"1 10.0.0.10 8000", "2 9.1.1.1 37777", "3 10.0.0.9 80"}));

    // Every cell still names the recorder it was made for.
    for (int r = 0; r < list.rowCount(); ++r) {
        for (int c = 0; c < list.columnCount(); ++c) {
            EXPECT_EQ(static_cast<DeviceListItem*>(list.item(r, c))->engineRow(), std::size_t(r));
        }
    }
}

TEST_F(DeviceListViewTest, RowsArrivingWhileSortedGoToTheirPlace) {
    clickHeading(1); // ascending by address
    add({"10.0.0.10", "1", "a"});
    add({"10.0.0.2", "1", "b"});
    add({"192.168.1.1", "1", "c"});
    add({"10.0.0.2", "2", "d"}); // same address: after the one found first
    add({"1.2.3.4", "1", "e"});
    EXPECT_EQ(rows(), (std::vector<std::string>{"5 1.2.3.4 1", "2 10.0.0.2 1", "4 10.0.0.2 2",
                                                "1 10.0.0.10 1", "3 192.168.1.1 1"}));
    clickHeading(1); // descending
    add({"10.0.0.3", "1", "f"});
    EXPECT_EQ(rows(), (std::vector<std::string>{"3 192.168.1.1 1", "1 10.0.0.10 1", "6 10.0.0.3 1",
                                                "4 10.0.0.2 2", "2 10.0.0.2 1", "5 1.2.3.4 1"}));
}

TEST_F(DeviceListViewTest, ExportWritesTheListAsShownAndReadsBack) {
    add({"10.0.0.10", "8000", "00:11:22:33:44:55"});
    add({"9.1.1.1", "37777", "a,\"b\"\xE9"}); // shown as Latin-1, written as UTF-8
    clickHeading(1);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("recorders.csv");
    EXPECT_EQ(saveDeviceList(list, path), QString());

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(),
              "No.,IP Address,Port Number,Subnet Mask,Default Gateway,\"Mac Address \"\r\n"
              "2,9.1.1.1,37777,255.255.255.0,10.0.0.1,\"a,\"\"b\"\"\xC3\xA9\"\r\n"
              "1,10.0.0.10,8000,255.255.255.0,10.0.0.1,00:11:22:33:44:55\r\n");

    // A folder that does not exist: the reason comes back and nothing is left behind.
    const QString missing = dir.filePath("no-such-folder/recorders.csv");
    EXPECT_FALSE(saveDeviceList(list, missing).isEmpty());
    EXPECT_FALSE(QFile::exists(missing));
}
