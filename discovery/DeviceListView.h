#pragma once

// The recorder list's sorting and export, for the discovery window.
//
// A cell of the list (DeviceListItem) knows which recorder it belongs to and sorts by
// DeviceSortKey: addresses and numbers by value, "No." by the order found. Every cell of a row carries the
// recorder's row in the engine's device table, which is also the order it was found in; a command reads it
// from the row it acts on, so the list may be sorted any way without a command losing its recorder.

#include "discovery/DeviceSortKey.h"

#include <QString>
#include <QTableWidgetItem>

#include <cstddef>
#include <string>
#include <vector>

class DeviceListItem : public QTableWidgetItem {
public:
    DeviceListItem(const QString& text, std::size_t engineRow);

    std::size_t engineRow() const { return m_engineRow; }
    // The key this cell sorts by in its column.
    DeviceSortKey sortKey() const;
    QTableWidgetItem* clone() const override { return new DeviceListItem(*this); }
    bool operator<(const QTableWidgetItem& other) const override;

private:
    std::size_t m_engineRow;
};

// Where a new row whose cell in `column` has this key goes in a list sorted by that column in
// `order`, so that the list stays sorted without sorting it all again.
int sortedRowFor(const QTableWidget& list, int column, Qt::SortOrder order, const DeviceSortKey& key);

// Lets a click on a column heading sort the list by that column, a second click the other way
// round; the list starts in the order found ("No." ascending). The list's own sorting stays off,
// since it would re-sort the whole list whenever a cell is set.
void enableDeviceListSorting(QTableWidget& list);
// The column and order the list is sorted by.
int sortColumn(const QTableWidget& list);
Qt::SortOrder sortOrder(const QTableWidget& list);

// The rows as shown, top to bottom, each with the text of every column in UTF-8.
std::vector<std::vector<std::string>> shownRows(const QTableWidget& list);
// Writes the list as CSV, headings first, rows as shown; the file is replaced only once the
// whole list is written. Empty on success, else the reason it failed.
QString saveDeviceList(const QTableWidget& list, const QString& path);
