#include "desktop/ListViewControl.h"
#include "desktop/TreeViewControl.h"

#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace desktop;

namespace {

void fill(ListViewControl& list, int rows) {
    for (int i = 0; i < rows; ++i) {
        const int row = list.insertItem(list.itemCount(), QString::number(i + 1));
        list.setItemText(row, 1, QStringLiteral("10.0.0.%1").arg(i + 1));
    }
}

} // namespace

TEST(ListViewControl, ColumnsHaveTheirHeadingsAndPixelWidths) {
    ListViewControl list;
    EXPECT_EQ(list.addColumn(QStringLiteral("No."), 30), 0);
    EXPECT_EQ(list.addColumn(QStringLiteral("Mac Address "), 150), 1);
    EXPECT_EQ(list.horizontalHeaderItem(1)->text(), QStringLiteral("Mac Address "));
    EXPECT_EQ(list.columnWidth(0), 30);
    EXPECT_EQ(list.columnWidth(1), 150);
    EXPECT_TRUE(list.horizontalHeaderItem(0)->textAlignment() & Qt::AlignLeft);
}

TEST(ListViewControl, RowsAreReadOnlyTextsInInsertionOrder) {
    ListViewControl list;
    list.addColumn(QStringLiteral("No."), 30);
    list.addColumn(QStringLiteral("IP Address"), 120);
    fill(list, 3);
    EXPECT_EQ(list.itemCount(), 3);
    EXPECT_EQ(list.itemText(2, 0), QStringLiteral("3"));
    EXPECT_EQ(list.itemText(2, 1), QStringLiteral("10.0.0.3"));
    EXPECT_EQ(list.itemText(7, 1), QString());
    EXPECT_FALSE(list.item(0, 1)->flags() & Qt::ItemIsEditable);
    EXPECT_EQ(list.insertItem(99, QStringLiteral("end")), 3);
    list.setItemText(3, 5, QStringLiteral("no such column"));
    EXPECT_EQ(list.itemCount(), 4);
}

TEST(ListViewControl, SelectionMarkFollowsTheSelectedRowAndIsLostWithTheRows) {
    ListViewControl list;
    list.addColumn(QStringLiteral("No."), 30);
    list.addColumn(QStringLiteral("IP Address"), 120);
    list.setFullRowSelect(true);
    EXPECT_EQ(list.selectionMark(), -1);
    fill(list, 3);
    list.selectItem(0);
    list.selectItem(2);
    EXPECT_EQ(list.selectionMark(), 2);
    EXPECT_EQ(list.selectedRows(), std::vector<int>{2});

    list.deleteAllItems();
    EXPECT_EQ(list.selectionMark(), -1);
    EXPECT_TRUE(list.selectedRows().empty());
    fill(list, 1);
    EXPECT_EQ(list.itemText(0, 0), QStringLiteral("1"));
}

TEST(ListViewControl, ClickSelectsTheWholeRowAndDoubleClickNamesIt) {
    ListViewControl list;
    list.addColumn(QStringLiteral("No."), 30);
    list.addColumn(QStringLiteral("IP Address"), 120);
    list.setFullRowSelect(true);
    list.setGridLines(true);
    list.resize(300, 200);
    fill(list, 2);
    list.show();
    QSignalSpy doubles(&list, &ListViewControl::rowDoubleClicked);
    const QPoint cell = list.visualRect(list.model()->index(1, 1)).center();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, cell);
    EXPECT_EQ(list.selectionMark(), 1);
    EXPECT_EQ(list.selectionModel()->selectedIndexes().size(), 2);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, cell);
    ASSERT_EQ(doubles.count(), 1);
    EXPECT_EQ(doubles[0][0].toInt(), 1);
    EXPECT_TRUE(list.showGrid());
}

TEST(TreeViewControl, ItemsCarryTextImageAndData) {
    TreeViewControl tree;
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::blue);
    tree.setImageList({QIcon(pixmap)});
    QTreeWidgetItem* root = tree.insertItem(QStringLiteral("Head office"), 0, 0);
    QTreeWidgetItem* child = tree.insertItem(QStringLiteral("Gate"), 0, 4000000000u, root);
    tree.insertItem(QStringLiteral("No image"), 5, 7, root);
    EXPECT_EQ(tree.firstItem(), root);
    EXPECT_EQ(root->childCount(), 2);
    EXPECT_EQ(TreeViewControl::itemData(child), 4000000000u);
    EXPECT_EQ(TreeViewControl::itemData(nullptr), 0u);
    EXPECT_FALSE(child->icon(0).isNull());
    EXPECT_TRUE(root->child(1)->icon(0).isNull());
    EXPECT_EQ(tree.iconSize(), QSize(16, 16));

    QSignalSpy selected(&tree, &TreeViewControl::itemSelected);
    tree.selectItem(child);
    ASSERT_EQ(selected.count(), 1);
    EXPECT_EQ(selected[0][0].value<QTreeWidgetItem*>(), child);
    EXPECT_EQ(tree.selectedItems(), QList<QTreeWidgetItem*>{child});
}
