#include "discovery/DeviceListView.h"

#include "discovery/DeviceListCsv.h"

#include <QHeaderView>
#include <QSaveFile>
#include <QTableWidget>

DeviceListItem::DeviceListItem(const QString& text, std::size_t engineRow)
    : QTableWidgetItem(text, QTableWidgetItem::UserType), m_engineRow(engineRow) {
    setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
}

DeviceSortKey DeviceListItem::sortKey() const {
    return deviceSortKey(static_cast<DeviceColumn>(column()), text().toStdString(), m_engineRow);
}

bool DeviceListItem::operator<(const QTableWidgetItem& other) const {
    if (other.type() != QTableWidgetItem::UserType) {
        return QTableWidgetItem::operator<(other);
    }
    return sortKey() < static_cast<const DeviceListItem&>(other).sortKey();
}

int sortedRowFor(const QTableWidget& list, int column, Qt::SortOrder order, const DeviceSortKey& key) {
    // The first row the new one sorts before; rows are in order, so a binary search finds it.
    int low = 0;
    int high = list.rowCount();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        const auto* cell = dynamic_cast<const DeviceListItem*>(list.item(middle, column));
        const bool goesBefore =
            cell != nullptr && (order == Qt::AscendingOrder ? key < cell->sortKey() : cell->sortKey() < key);
        if (goesBefore) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return low;
}

void enableDeviceListSorting(QTableWidget& list) {
    QHeaderView* header = list.horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicator(0, Qt::AscendingOrder);
    header->setSortIndicatorShown(true);
    // The header turns the indicator on each click; the list follows it.
    QObject::connect(header, &QHeaderView::sortIndicatorChanged, &list,
                     [&list](int column, Qt::SortOrder order) { list.sortItems(column, order); });
}

int sortColumn(const QTableWidget& list) {
    return list.horizontalHeader()->sortIndicatorSection();
}

Qt::SortOrder sortOrder(const QTableWidget& list) {
    return list.horizontalHeader()->sortIndicatorOrder();
}

std::vector<std::vector<std::string>> shownRows(const QTableWidget& list) {
    std::vector<std::vector<std::string>> rows;
    for (int row = 0; row < list.rowCount(); ++row) {
        std::vector<std::string> texts;
        for (int column = 0; column < list.columnCount(); ++column) {
            const QTableWidgetItem* cell = list.item(row, column);
            texts.push_back(cell != nullptr ? cell->text().toStdString() : std::string());
        }
        rows.push_back(std::move(texts));
    }
    return rows;
}

QString saveDeviceList(const QTableWidget& list, const QString& path) {
    std::vector<std::string> headings;
    for (int column = 0; column < list.columnCount(); ++column) {
        const QTableWidgetItem* heading = list.horizontalHeaderItem(column);
        headings.push_back(heading != nullptr ? heading->text().toStdString() : std::string());
    }
    const std::string csv = deviceListCsv(headings, shownRows(list));
    // Unbuffered, so that every write reaches the file at once and a short one is seen: through
    // the buffer, a disk that fills up part way loses the rest of the list while commit() still
    // succeeds and replaces the old file with a truncated one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return file.errorString();
    }
    // A short write is retried; the retry reports why the file takes no more.
    for (std::size_t done = 0; done < csv.size();) {
        const qint64 written = file.write(csv.data() + done, static_cast<qint64>(csv.size() - done));
        if (written <= 0) {
            const QString reason = file.errorString();
            file.cancelWriting();
            return reason;
        }
        done += static_cast<std::size_t>(written);
    }
    if (!file.commit()) {
        return file.errorString();
    }
    return {};
}
