#include "discovery/DiscoveryDialog.h"

#include "clientstore/ClientDataFile.h"
#include "clientstore/ClientStore.h"
#include "clientstore/DeviceRegistration.h"
#include "discovery/AboutDialog.h"
#include "discovery/AssignAddressesDialog.h"
#include "discovery/DeviceListMarks.h"
#include "discovery/DeviceListView.h"
#include "discovery/DeviceManagementDialog.h"
#include "discovery/ModifyIpDialog.h"
#include "discovery/PelloryIcons.h"
#include "discovery/ValidateDialog.h"
#include "upgrade/BatchUpgradeDlg.h"

#include "desktop/Browser.h"
#include "desktop/ListViewControl.h"
#include "desktop/MessageBox.h"
#include "desktop/SettingsStore.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScreen>

#include <utility>

using namespace desktop;

namespace {

// String resource 101: the system menu's About entry, kept in the window's context menu.
constexpr const char* kAboutMenuText = "关于 Pellory(&A)...";

const QString kWidthSetting = QStringLiteral("WindowWidth");
const QString kHeightSetting = QStringLiteral("WindowHeight");

} // namespace

const DialogTemplate& DiscoveryDialog::dialogTemplate() {
    static const DialogTemplate tpl{
        .id = IDD,
        .caption = "Pellory",
        .width = 420,
        .height = 271,
        .controls =
            {
                {IDC_DEVICE_LIST, ControlKind::ListView, "", 7, 4, 403, 234},
                {IDC_ADD, ControlKind::PushButton, "Add", 236, 245, 50, 14, Style::Hidden},
                {IDC_MODIFY_IP, ControlKind::PushButton, "Modify IP", 290, 245, 50, 14},
                {IDC_REFRESH, ControlKind::PushButton, "Refresh", 342, 245, 50, 14},
                {IDC_STATUS, ControlKind::Static, "", 7, 245, 208, 14},
            },
        .minimizeBox = true,
        .resizable = true,
    };
    return tpl;
}

DiscoveryDialog::DiscoveryDialog(const Options& options, QWidget* parent)
    : TemplateDialog(dialogTemplate(), parent), m_options(options), m_engine(this, options.engine) {
    ListViewControl* list = deviceList();
    connect(list, &ListViewControl::rowDoubleClicked, this, [this](int) { onListDoubleClicked(); });
    // A right click reaches the list's viewport, the menu key the list itself.
    // A row the technician picked stays picked while late replies keep adding rows.
    connect(list, &QAbstractItemView::pressed, this, [this] { m_userChoseRow = true; });
    list->installEventFilter(this);
    list->viewport()->installEventFilter(this);
}

DiscoveryDialog::~DiscoveryDialog() {
    // The store goes first and unsaved changes with it; then the engine, whose close() also
    // wakes a login still waiting so that its thread can be joined.
    ClientStore::release();
    m_engine.close();
    if (m_loginThread.joinable()) {
        m_loginThread.join();
    }
    if (m_busy) {
        QApplication::restoreOverrideCursor();
    }
}

ListViewControl* DiscoveryDialog::deviceList() const {
    return itemAs<ListViewControl>(IDC_DEVICE_LIST);
}

QString DiscoveryDialog::statusLine() const {
    return itemText(IDC_STATUS);
}

std::optional<std::size_t> DiscoveryDialog::engineRow(int listRow) const {
    const auto* cell = dynamic_cast<const DeviceListItem*>(deviceList()->item(listRow, ColumnNumber));
    if (cell == nullptr) {
        return std::nullopt;
    }
    return cell->engineRow();
}

void DiscoveryDialog::onInitDialog() {
    TemplateDialog::onInitDialog();
    setWindowIcon(pellory::programIcon());

    ListViewControl* list = deviceList();
    list->setGridLines(true);
    list->setFullRowSelect(true);
    list->setSingleSelection(false);
    // Rows as tall as a report list's: one line of text and a little room.
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 4);
    list->addColumn(QStringLiteral("No."), 30);
    list->addColumn(QStringLiteral("IP Address"), 120);
    list->addColumn(QStringLiteral("Port Number"), 90);
    list->addColumn(QStringLiteral("Subnet Mask"), 120);
    list->addColumn(QStringLiteral("Default Gateway"), 120);
    list->addColumn(QStringLiteral("Mac Address "), 150);
    list->horizontalHeader()->setStretchLastSection(true);
    enableDeviceListSorting(*list);
    readLocalNetworks();

    auto* status = itemAs<QLabel>(IDC_STATUS);
    QPalette palette = status->palette();
    palette.setColor(QPalette::WindowText, kStatusText);
    status->setPalette(palette);
    status->setAutoFillBackground(false);
    status->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    showItem(IDC_ADD, m_options.showAddButton);
    restoreWindowSize();

    // Only a window that registers changes the data file, and only such a window holds its lock
    // (until it closes); one that only searches leaves the file free for the command line.
    ClientDataFile::setReadOnly(!m_options.showAddButton);
    if (ClientStore* store = ClientStore::instance()) {
        store->setMessageFunction(
            [this](const std::string& text) { appMessageBox(this, QString::fromStdString(text)); });
        store->load();
    }
    // The result of opening the endpoint is not shown: without it the list simply stays empty.
    m_engine.start();
}

void DiscoveryDialog::onCommand(int id) {
    // During a login wait the window takes no command, closing included: the wait ends within
    // the login time at most.
    if (m_busy) {
        return;
    }
    switch (id) {
    case IDC_REFRESH:
        onRefresh();
        break;
    case IDC_MODIFY_IP:
        onModifyIp();
        break;
    case IDC_ADD:
        onAdd();
        break;
    default:
        TemplateDialog::onCommand(id);
        break;
    }
}

void DiscoveryDialog::onClose() {
    if (m_busy) {
        return;
    }
    if (m_assigning == nullptr) {
        TemplateDialog::onClose();
        return;
    }
    // The assigning's results stay on screen until the technician closes it; the window follows.
    if (m_assigning->isRunning()) {
        if (messageBox(this, QString::fromUtf8(kCloseWhileAssigningText), QStringLiteral("Prompt"),
                       MB_YESNO | MB_ICONQUESTION) != IDYES) {
            return;
        }
        m_assigning->stopAfterCurrent();
    }
    m_closeAfterAssigning = true;
}

bool DiscoveryDialog::mayEndBatches() {
    // The batch windows opened from the list go with this window: while one still sends to its
    // recorders, the technician is asked first, once for all of them, as each window asks itself.
    QList<CBatchUpgradeDlg*> running;
    for (CBatchUpgradeDlg* batch : findChildren<CBatchUpgradeDlg*>()) {
        if (batch->running()) {
            running.push_back(batch);
        }
    }
    if (running.empty()) {
        return true;
    }
    if (messageBox(this, QString::fromUtf8(CBatchUpgradeDlg::kCloseQuestion), running.front()->windowTitle(),
                   MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return false;
    }
    for (CBatchUpgradeDlg* batch : running) {
        batch->stopAll();
    }
    return true;
}

void DiscoveryDialog::done(int result) {
    if (!mayEndBatches()) {
        return;
    }
    // The size it would return to from maximised, so that the next run does not open maximised.
    const QSize size = isMaximized() ? normalGeometry().size() : this->size();
    SettingsStore settings(QString::fromUtf8(kSettingsName));
    settings.writeUInt32(kWidthSetting, std::uint32_t(size.width()));
    settings.writeUInt32(kHeightSetting, std::uint32_t(size.height()));
    TemplateDialog::done(result);
}

void DiscoveryDialog::restoreWindowSize() {
    const SettingsStore settings(QString::fromUtf8(kSettingsName));
    QSize size(int(std::min<std::uint32_t>(settings.readUInt32(kWidthSetting, 0), QWIDGETSIZE_MAX)),
               int(std::min<std::uint32_t>(settings.readUInt32(kHeightSetting, 0), QWIDGETSIZE_MAX)));
    // Never below the template's size, and never beyond the screen it opens on: a size kept on a
    // larger monitor must not put the buttons out of reach.
    size = size.expandedTo(minimumSize());
    if (const QScreen* screen = this->screen()) {
        size = size.boundedTo(screen->availableSize()).expandedTo(minimumSize());
    }
    resize(size);
}

void DiscoveryDialog::resizeEvent(QResizeEvent* event) {
    TemplateDialog::resizeEvent(event);
    placeControls();
}

void DiscoveryDialog::placeControls() {
    const int dw = std::max(0, width() - minimumWidth());
    const int dh = std::max(0, height() - minimumHeight());
    const auto templateRect = [this](int id) {
        const ControlTemplate* t = itemTemplate(id);
        return toPixels(t->x, t->y, t->w, t->h);
    };
    item(IDC_DEVICE_LIST)->setGeometry(templateRect(IDC_DEVICE_LIST).adjusted(0, 0, dw, dh));
    // The status line stays under the list's left edge, the buttons under its right edge.
    item(IDC_STATUS)->setGeometry(templateRect(IDC_STATUS).translated(0, dh).adjusted(0, 0, dw, 0));
    for (int id : {IDC_ADD, IDC_MODIFY_IP, IDC_REFRESH}) {
        item(id)->setGeometry(templateRect(id).translated(dw, dh));
    }
}

void DiscoveryDialog::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
}

void DiscoveryDialog::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(QString::fromUtf8(kAboutMenuText), this, &DiscoveryDialog::showAbout);
    menu.exec(event->globalPos());
}

void DiscoveryDialog::showAbout() {
    if (m_busy) {
        return;
    }
    AboutDialog about(this);
    about.doModal();
}

void DiscoveryDialog::deviceAdded(const DeviceAddedNotice& notice) {
    QMetaObject::invokeMethod(
        this, [this, notice] { addRow(notice); }, Qt::QueuedConnection);
}

void DiscoveryDialog::statusText(const std::string& text) {
    m_modifyResults.post(text);
    QMetaObject::invokeMethod(
        this, [this, status = QString::fromStdString(text)] { setStatusLine(status); }, Qt::QueuedConnection);
}

void DiscoveryDialog::addRow(const DeviceAddedNotice& notice) {
    // A row found before the last refresh has no place in the new list.
    if (!m_engine.isCurrent(notice.generation)) {
        return;
    }
    ListViewControl* list = deviceList();
    // The MAC text is whatever bytes the recorder sent; each byte is shown as one character.
    const QString texts[] = {
        QString::number(list->itemCount() + 1),
        QString::fromStdString(notice.addressText),
        QString::number(notice.port),
        QString::fromStdString(notice.maskText),
        QString::fromStdString(notice.gatewayText),
        QString::fromLatin1(notice.macText.data(), static_cast<qsizetype>(notice.macText.size())),
    };
    // The engine's rows are numbered in the order found, which is the order "No." sorts by.
    const int column = sortColumn(*list);
    const int row = sortedRowFor(
        *list, column, sortOrder(*list),
        deviceSortKey(static_cast<DeviceColumn>(column), texts[column].toStdString(), notice.row));
    list->insertRow(row);
    for (int c = ColumnNumber; c <= ColumnMac; ++c) {
        list->setItem(row, c, new DeviceListItem(texts[c], notice.row));
    }
    markRowsAt(*list, texts[ColumnAddress], m_localNetworks);
    // Until the technician picks a row the newest one is shown as the selection; after that a
    // late reply must not move the choice to a recorder nobody chose.
    if (!m_userChoseRow) {
        list->selectItem(row);
        list->scrollToItem(list->item(row, ColumnNumber));
    }
    emit rowAdded(row);
}

void DiscoveryDialog::setStatusLine(const QString& text) {
    setItemText(IDC_STATUS, text);
}

void DiscoveryDialog::readLocalNetworks() {
    m_localNetworks = m_options.localNetworks ? m_options.localNetworks() : localNetworks();
}

void DiscoveryDialog::onRefresh() {
    setStatusLine(QString());
    deviceList()->deleteAllItems();
    readLocalNetworks();
    m_userChoseRow = false;
    m_engine.refresh();
}

std::optional<std::size_t> DiscoveryDialog::selectedEngineRow() {
    // One address goes to one recorder: with several rows chosen it is not plain which.
    if (deviceList()->selectedRows().size() > 1) {
        messageBox(this, QString::fromUtf8(kSelectOneDeviceText), QStringLiteral("Prompt"),
                   MB_OK | MB_ICONINFORMATION);
        return std::nullopt;
    }
    const auto row = engineRow(deviceList()->selectionMark());
    if (!row) {
        messageBox(this, QString::fromUtf8(kSelectDeviceText), QStringLiteral("Prompt"),
                   MB_OK | MB_ICONINFORMATION);
    }
    return row;
}

void DiscoveryDialog::onModifyIp() {
    setStatusLine(QString());
    // Asking for credentials makes no sense with no recorder to use them on.
    if (!selectedEngineRow()) {
        return;
    }
    ValidateDialog validate(this);
    if (validate.doModal() != IDOK) {
        return;
    }
    // A row found while the credentials were typed has become the selection mark.
    const auto row = selectedEngineRow();
    if (!row) {
        return;
    }
    beginLogin(*row, validate.userName(), validate.password());
}

void DiscoveryDialog::beginLogin(std::size_t row, const QString& userName, const QString& password) {
    m_busy = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::uint64_t generation = m_engine.generation();
    m_loginThread =
        std::thread([this, row, generation, user = userName.toStdString(), secret = password.toStdString()] {
            const DiscoveryEngine::LoginOutcome outcome = m_engine.login(row, user, secret);
            // The window outlives this thread: it joins it before it goes.
            QMetaObject::invokeMethod(
                this, [this, row, generation, outcome] { endLogin(row, generation, outcome); },
                Qt::QueuedConnection);
        });
}

void DiscoveryDialog::endLogin(std::size_t row, std::uint64_t generation,
                               const DiscoveryEngine::LoginOutcome& outcome) {
    m_loginThread.join();
    m_busy = false;
    QApplication::restoreOverrideCursor();
    emit loginEnded();

    if (outcome.accepted()) {
        // No refresh can have come between: the window took no command while it waited.
        if (m_engine.isCurrent(generation)) {
            modifyAddresses(row);
        }
        return;
    }
    // Result 1 gives the reason's text, result 3 "The user has logined.", a time-out "It is
    // ouvertime."; a request not sent and any other result end the command without a word.
    if (const auto text = outcome.text()) {
        appMessageBox(this, QString::fromUtf8(text->data(), static_cast<qsizetype>(text->size())));
    }
}

void DiscoveryDialog::modifyAddresses(std::size_t row) {
    const auto record = m_engine.rowRecord(row);
    if (!record) {
        return;
    }
    ModifyIpDialog dialog(this);
    dialog.setValues(record->address(), record->mask(), record->gateway());
    if (dialog.doModal() != IDOK) {
        return;
    }
    // The answer arrives later as a status text; the list row keeps its old values until the
    // next refresh.
    m_engine.modifyIp(row, dialog.address(), dialog.mask(), dialog.gateway());
}

void DiscoveryDialog::onAdd() {
    if (deviceList()->selectedRows().empty()) {
        messageBox(this, QString::fromUtf8(kSelectDeviceText), QStringLiteral("Prompt"),
                   MB_OK | MB_ICONINFORMATION);
        return;
    }
    // A data file that was not taken in whole is never written over: the registration is refused.
    if (const ClientDataFile* file = ClientDataFile::instance(); !file->loadedWhole()) {
        messageBox(this,
                   QStringLiteral("The data file %1 cannot be used: %2. It is left as it is.")
                       .arg(QString::fromStdString(file->path().string()),
                            QString::fromStdString(file->loadError())),
                   QStringLiteral("ERROR"), MB_OK | MB_ICONERROR);
        return;
    }
    DeviceManagementDialog settings(this);
    if (settings.doModal() != IDOK) {
        return;
    }
    // Rows found while the dialog was open may have changed the selection; it is read again.
    const std::vector<int> rows = deviceList()->selectedRows();
    if (rows.empty()) {
        return;
    }
    std::vector<RecorderAddress> recorders;
    for (int listRow : rows) {
        recorders.push_back({deviceList()->itemText(listRow, ColumnAddress).toStdString(),
                             deviceList()->itemText(listRow, ColumnPort).toUInt()});
    }
    // A device the store refuses has been explained by the store itself; a registration that
    // never reaches the disk must not pass for done.
    const RegistrationResult result = registerDevices(settings.settings(), recorders);
    if (result.refusal) {
        messageBox(this, QString::fromStdString(result.refusal->text), QStringLiteral("ERROR"),
                   MB_OK | MB_ICONERROR);
    } else if (result.outcome == RegistrationOutcome::SaveFailed) {
        const ClientDataFile* file = ClientDataFile::instance();
        messageBox(this,
                   QStringLiteral("The data file %1 could not be saved! (%2)")
                       .arg(QString::fromStdString(file->path().string()),
                            QString::fromStdString(file->saveError())),
                   QStringLiteral("ERROR"), MB_OK | MB_ICONERROR);
    }
}

void DiscoveryDialog::onListDoubleClicked() {
    if (m_busy) {
        return;
    }
    ListViewControl* list = deviceList();
    const int row = list->selectionMark();
    if (row < 0) {
        return;
    }
    openInBrowser(list->itemText(row, ColumnAddress));
}

bool DiscoveryDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched == deviceList()) {
        m_userChoseRow = true;
    }
    if (event->type() != QEvent::ContextMenu) {
        return TemplateDialog::eventFilter(watched, event);
    }
    // While a login waits the window takes no command, and the selection stays as it is.
    if (m_busy) {
        return true;
    }
    ListViewControl* list = deviceList();
    auto* menuEvent = static_cast<QContextMenuEvent*>(event);
    if (menuEvent->reason() == QContextMenuEvent::Mouse) {
        // The row under the pointer, if any; a click on the headings or below the last row has
        // none. The row becomes the selection, so that what the menu acts on is plain to see.
        const QPoint at = list->viewport()->mapFrom(static_cast<QWidget*>(watched), menuEvent->pos());
        const int row = list->viewport()->rect().contains(at) ? list->indexAt(at).row() : -1;
        // A click on a row outside the selection chooses that row alone; one inside keeps the
        // rows chosen, for the commands that act on several.
        if (row >= 0 && !list->selectionModel()->isRowSelected(row, {})) {
            list->selectItem(row);
        }
        showListMenu(row, menuEvent->globalPos());
    } else {
        // From the keyboard: the selection mark's row, with the menu over it.
        const int row = list->selectionMark();
        QPoint at = list->viewport()->rect().center();
        if (const QTableWidgetItem* cell = list->item(row, ColumnAddress)) {
            at = list->visualItemRect(cell).center();
        }
        showListMenu(row, list->viewport()->mapToGlobal(at));
    }
    return true;
}
