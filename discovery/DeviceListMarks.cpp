#include "discovery/DeviceListMarks.h"

#include "discovery/DiscoveryProtocol.h"

#include <QBrush>

namespace {

constexpr int kNumberColumn = 0;
constexpr int kAddressColumn = 1;
// Enough numbers to find the rows by; a factory batch of a hundred would only make a wall of them.
constexpr int kMostNamed = 12;

QString otherRowsText(const QStringList& numbers, const QString& address) {
    QStringList named = numbers.mid(0, kMostNamed);
    QString text = QStringLiteral("Address conflict: No. %1").arg(named.join(QStringLiteral(", ")));
    if (numbers.size() > kMostNamed) {
        text += QStringLiteral(" and %1 more").arg(numbers.size() - kMostNamed);
    }
    return text + QString::fromLatin1(numbers.size() == 1 ? " also uses %1" : " also use %1").arg(address);
}

QString markText(const DeviceMarks& marks, const QStringList& others, const QString& address) {
    QStringList lines;
    if (marks.othersAtAddress > 0) {
        lines << otherRowsText(others, address);
    }
    if (marks.machineAddress) {
        lines << QStringLiteral("Address conflict: %1 is an address of this computer").arg(address);
    }
    if (marks.otherSubnet) {
        lines << QStringLiteral("%1 is outside every subnet of this computer").arg(address);
    }
    return lines.join(QLatin1Char('\n'));
}

void markRow(QTableWidget& list, int row, const DeviceMarks& marks, const QString& text) {
    const QBrush brush = marks.conflict      ? QBrush(kConflictMark)
                         : marks.otherSubnet ? QBrush(kOtherSubnetMark)
                                             : QBrush();
    for (int column = 0; column < list.columnCount(); ++column) {
        if (QTableWidgetItem* item = list.item(row, column)) {
            item->setBackground(brush);
            item->setToolTip(text);
        }
    }
}

} // namespace

void markRowsAt(QTableWidget& list, const QString& address, const std::vector<LocalNetwork>& networks) {
    std::vector<int> rows;
    QStringList numbers;
    for (int row = 0; row < list.rowCount(); ++row) {
        const QTableWidgetItem* item = list.item(row, kAddressColumn);
        if (item != nullptr && item->text() == address) {
            rows.push_back(row);
            const QTableWidgetItem* number = list.item(row, kNumberColumn);
            numbers << (number != nullptr ? number->text() : QString());
        }
    }
    if (rows.empty()) {
        return;
    }
    const std::vector<std::uint32_t> addresses(rows.size(), parseIpv4(address.toStdString()).value_or(0));
    const DeviceMarks marks = markDevices(addresses, networks).front();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        QStringList others = numbers;
        others.removeAt(qsizetype(i));
        markRow(list, rows[i], marks, markText(marks, others, address));
    }
}
