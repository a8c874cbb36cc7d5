// The list's context menu and what it opens for the selected rows: the browser, the clipboard,
// the export, the batch upgrade window and the address assignment.
#include "discovery/DiscoveryDialog.h"

#include "discovery/AssignAddressesDialog.h"
#include "discovery/DeviceListView.h"
#include "upgrade/BatchUpgradeDlg.h"

#include "desktop/Browser.h"
#include "desktop/ListViewControl.h"
#include "desktop/MessageBox.h"

#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>

#include <set>
#include <utility>

using namespace desktop;

void DiscoveryDialog::showListMenu(int listRow, const QPoint& globalPos) {
    // The row's texts are taken now: a recorder found while the menu is open may move the row.
    ListViewControl* list = deviceList();
    const bool hasRow = engineRow(listRow).has_value();
    const QString address = hasRow ? list->itemText(listRow, ColumnAddress) : QString();
    const QString mac = hasRow ? list->itemText(listRow, ColumnMac) : QString();

    QMenu menu(this);
    QAction* open = menu.addAction(QString::fromUtf8(kOpenWebPageText));
    QAction* copyAddress = menu.addAction(QString::fromUtf8(kCopyAddressText));
    QAction* copyMac = menu.addAction(QString::fromUtf8(kCopyMacText));
    menu.addSeparator();
    QAction* exportAll = menu.addAction(QString::fromUtf8(kExportListText));
    // These act on the selected rows, wherever the menu opened.
    const bool rowsSelected = !list->selectedRows().empty();
    QAction* upgrade = menu.addAction(QString::fromUtf8(kUpgradeText));
    upgrade->setEnabled(rowsSelected);
    QAction* assign = menu.addAction(QString::fromUtf8(kAssignAddressesText));
    assign->setEnabled(rowsSelected);
    for (QAction* action : {open, copyAddress, copyMac}) {
        action->setEnabled(hasRow);
    }
    // The choice is acted on once the menu has closed, outside its event loop.
    QAction* chosen = menu.exec(globalPos);
    if (chosen == nullptr) {
        return;
    }
    if (chosen == open) {
        openInBrowser(address);
    } else if (chosen == copyAddress) {
        QGuiApplication::clipboard()->setText(address);
    } else if (chosen == copyMac) {
        QGuiApplication::clipboard()->setText(mac);
    } else if (chosen == exportAll) {
        exportList();
    } else if (chosen == upgrade) {
        upgradeSelected();
    } else if (chosen == assign) {
        assignAddresses();
    }
}

CBatchUpgradeDlg* DiscoveryDialog::upgradeSelected() {
    ListViewControl* list = deviceList();
    std::vector<BatchRecorder> recorders;
    for (int row : list->selectedRows()) {
        // The MAC cell shows each byte the recorder sent as one character.
        recorders.push_back({list->itemText(row, ColumnAddress).toStdString(),
                             list->itemText(row, ColumnPort).toUInt(),
                             list->itemText(row, ColumnMac).toLatin1().toStdString()});
    }
    if (recorders.empty()) {
        return nullptr;
    }
    // Units that share a factory address are separate rows, but a connection to that address
    // reaches only one of them: both rows would upgrade that one, twice at once.
    std::set<std::pair<std::string, uint32_t>> seen;
    for (const BatchRecorder& r : recorders) {
        if (!seen.insert({r.address, r.port}).second) {
            messageBox(
                this,
                QString::fromUtf8(kSharedAddressText).arg(QString::fromStdString(r.address)).arg(r.port),
                QStringLiteral("Prompt"), MB_OK | MB_ICONEXCLAMATION);
            return nullptr;
        }
    }
    auto* window = new CBatchUpgradeDlg(std::move(recorders), this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return window;
}

void DiscoveryDialog::exportList() {
    const QString suggested = m_exportPath.isEmpty()
                                  ? QDir(QDir::homePath()).filePath(QStringLiteral("recorders.csv"))
                                  : m_exportPath;
    QString path;
    if (m_options.chooseExportPath) {
        path = m_options.chooseExportPath(this, suggested);
    } else {
        QFileDialog dialog(this, QStringLiteral("Export list"), suggested,
                           QStringLiteral("CSV files (*.csv);;All files (*)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("csv"));
        dialog.selectFile(suggested);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            path = dialog.selectedFiles().constFirst();
        }
    }
    if (path.isEmpty()) {
        return;
    }
    // The file is replaced only once the whole list is written: a failure leaves any old one as it was.
    const QString reason = saveDeviceList(*deviceList(), path);
    if (!reason.isEmpty()) {
        messageBox(this,
                   QStringLiteral("The list could not be saved to %1!\n%2")
                       .arg(QDir::toNativeSeparators(path), reason),
                   QStringLiteral("ERROR"), MB_OK | MB_ICONERROR);
        return;
    }
    m_exportPath = path;
}

void DiscoveryDialog::assignAddresses() {
    // Read now: rows found while the dialog is open are not offered, but their addresses are taken.
    ListViewControl* list = deviceList();
    const auto listedAt = [&](int listRow) {
        return ListedRecorder{*engineRow(listRow),
                              list->itemText(listRow, ColumnMac).toLatin1().toStdString(),
                              parseIpv4(list->itemText(listRow, ColumnAddress).toStdString()).value_or(0)};
    };
    AssignAddressesSetup setup;
    setup.engine = &m_engine;
    setup.modifyResults = &m_modifyResults;
    setup.timeout = m_options.engine.loginWait;
    setup.generation = m_engine.generation();
    for (int listRow : list->selectedRows()) {
        setup.chosen.push_back(listedAt(listRow));
    }
    for (int listRow = 0; listRow < list->itemCount(); ++listRow) {
        setup.listed.push_back(listedAt(listRow));
    }
    setup.machineAddresses = machineAddresses(m_localNetworks);
    if (const auto record = setup.chosen.empty() ? std::nullopt : m_engine.rowRecord(setup.chosen[0].row)) {
        setup.mask = record->mask();
        setup.gateway = record->gateway();
    }
    AssignAddressesDialog dialog(std::move(setup), this);
    // The recorders answer from their new addresses only to a new search.
    connect(&dialog, &AssignAddressesDialog::runEnded, this, &DiscoveryDialog::onRefresh);
    m_assigning = &dialog;
    dialog.doModal();
    m_assigning = nullptr;
    if (std::exchange(m_closeAfterAssigning, false)) {
        TemplateDialog::onClose();
    }
}
