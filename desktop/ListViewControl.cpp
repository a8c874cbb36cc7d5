#include "desktop/ListViewControl.h"

#include <QHeaderView>

#include <algorithm>

namespace desktop {

ListViewControl::ListViewControl(QWidget* parent) : QTableWidget(parent) {
    verticalHeader()->hide();
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setHighlightSections(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setShowGrid(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    connect(this, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int) { emit rowDoubleClicked(row); });
}

int ListViewControl::addColumn(const QString& heading, int widthPixels) {
    const int column = columnCount();
    setColumnCount(column + 1);
    auto* header = new QTableWidgetItem(heading);
    header->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setHorizontalHeaderItem(column, header);
    setColumnWidth(column, widthPixels);
    return column;
}

int ListViewControl::insertItem(int row, const QString& text) {
    row = std::clamp(row, 0, rowCount());
    insertRow(row);
    setItemText(row, 0, text);
    return row;
}

void ListViewControl::setItemText(int row, int column, const QString& text) {
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) {
        return;
    }
    if (QTableWidgetItem* cell = item(row, column)) {
        cell->setText(text);
        return;
    }
    auto* cell = new QTableWidgetItem(text);
    cell->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    setItem(row, column, cell);
}

QString ListViewControl::itemText(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell ? cell->text() : QString();
}

void ListViewControl::deleteAllItems() {
    setRowCount(0);
}

void ListViewControl::selectItem(int row) {
    clearSelection();
    if (row < 0 || row >= rowCount()) {
        setCurrentIndex(QModelIndex());
        return;
    }
    setCurrentCell(row, 0, QItemSelectionModel::NoUpdate);
    selectionModel()->select(model()->index(row, 0),
                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

int ListViewControl::selectionMark() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

void ListViewControl::setSelectionMark(int row) {
    if (row < 0 || row >= rowCount()) {
        setCurrentIndex(QModelIndex());
    } else {
        setCurrentCell(row, 0, QItemSelectionModel::NoUpdate);
    }
}

std::vector<int> ListViewControl::selectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows()) {
        rows.push_back(index.row());
    }
    // With item selection a row counts when any of its cells is selected.
    if (selectionBehavior() != QAbstractItemView::SelectRows) {
        for (const QModelIndex& index : selectionModel()->selectedIndexes()) {
            rows.push_back(index.row());
        }
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void ListViewControl::setFullRowSelect(bool on) {
    setSelectionBehavior(on ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
}

void ListViewControl::setSingleSelection(bool on) {
    setSelectionMode(on ? QAbstractItemView::SingleSelection : QAbstractItemView::ExtendedSelection);
}

} // namespace desktop
