#include "DiscoveryDialog.h"

#include "AboutDialog.h"
#include "ClientDataFile.h"
#include "ClientStore.h"
#include "DeviceManagementDialog.h"
#include "ModifyIpDialog.h"
#include "PelloryIcons.h"
#include "ValidateDialog.h"

#include "desktop/Browser.h"
#include "desktop/ListViewControl.h"
#include "desktop/MessageBox.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPainter>

using namespace desktop;

namespace {

// The list keeps the engine's row index of each list row in column 0 under this role.
constexpr int kEngineRowRole = Qt::UserRole + 1;

// String resource 101: the system menu's About entry, kept in the window's context menu.
constexpr const char* kAboutMenuText = "关于 Pellory(&A)...";

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
    };
    return tpl;
}

DiscoveryDialog::DiscoveryDialog(const Options& options, QWidget* parent)
    : TemplateDialog(dialogTemplate(), parent), m_options(options), m_engine(this, options.engine) {
    ListViewControl* list = deviceList();
    connect(list, &ListViewControl::rowDoubleClicked, this, [this](int) { onListDoubleClicked(); });
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
    const QTableWidgetItem* cell = deviceList()->item(listRow, ColumnNumber);
    if (cell == nullptr) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(cell->data(kEngineRowRole).toULongLong());
}

void DiscoveryDialog::onInitDialog() {
    TemplateDialog::onInitDialog();
    setWindowIcon(pellory::programIcon());

    ListViewControl* list = deviceList();
    list->setGridLines(true);
    list->setFullRowSelect(true);
    list->setSingleSelection(true);
    // Rows as tall as a report list's: one line of text and a little room.
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 4);
    list->addColumn(QStringLiteral("No."), 30);
    list->addColumn(QStringLiteral("IP Address"), 120);
    list->addColumn(QStringLiteral("Port Number"), 90);
    list->addColumn(QStringLiteral("Subnet Mask"), 120);
    list->addColumn(QStringLiteral("Default Gateway"), 120);
    list->addColumn(QStringLiteral("Mac Address "), 150);

    auto* status = itemAs<QLabel>(IDC_STATUS);
    QPalette palette = status->palette();
    palette.setColor(QPalette::WindowText, kStatusText);
    status->setPalette(palette);
    status->setAutoFillBackground(false);
    status->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    showItem(IDC_ADD, m_options.showAddButton);

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
    if (!m_busy) {
        TemplateDialog::onClose();
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
    QMetaObject::invokeMethod(
        this, [this, status = QString::fromStdString(text)] { setStatusLine(status); }, Qt::QueuedConnection);
}

void DiscoveryDialog::addRow(const DeviceAddedNotice& notice) {
    // A row found before the last refresh has no place in the new list.
    if (!m_engine.isCurrent(notice.generation)) {
        return;
    }
    ListViewControl* list = deviceList();
    const int row = list->insertItem(list->itemCount(), QString::number(list->itemCount() + 1));
    list->item(row, ColumnNumber)->setData(kEngineRowRole, QVariant::fromValue<qulonglong>(notice.row));
    list->setItemText(row, ColumnAddress, QString::fromStdString(notice.addressText));
    list->setItemText(row, ColumnPort, QString::number(notice.port));
    list->setItemText(row, ColumnMask, QString::fromStdString(notice.maskText));
    list->setItemText(row, ColumnGateway, QString::fromStdString(notice.gatewayText));
    // The MAC text is whatever bytes the recorder sent; each byte is shown as one character.
    list->setItemText(
        row, ColumnMac,
        QString::fromLatin1(notice.macText.data(), static_cast<qsizetype>(notice.macText.size())));
    list->selectItem(row);
    list->scrollToItem(list->item(row, ColumnNumber));
    emit rowAdded(row);
}

void DiscoveryDialog::setStatusLine(const QString& text) {
    setItemText(IDC_STATUS, text);
}

void DiscoveryDialog::onRefresh() {
    setStatusLine(QString());
    deviceList()->deleteAllItems();
    m_engine.refresh();
}

std::optional<std::size_t> DiscoveryDialog::selectedEngineRow() {
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
    DeviceManagementDialog settings(this);
    if (settings.doModal() != IDOK) {
        return;
    }
    // Rows found while the dialog was open may have changed the selection; it is read again.
    const std::vector<int> rows = deviceList()->selectedRows();
    if (rows.empty()) {
        return;
    }
    ClientStore* store = ClientStore::instance();
    int counter = 1;
    for (int listRow : rows) {
        DeviceRecord record{};
        copyToField(record.name, (settings.deviceName() + QString::number(counter)).toStdString());
        ++counter;
        copyToField(record.host, deviceList()->itemText(listRow, ColumnAddress).toStdString());
        copyToField(record.username, settings.userName().toStdString());
        copyToField(record.password, settings.password().toStdString());
        record.channelCount = settings.channelCount();
        record.port = deviceList()->itemText(listRow, ColumnPort).toUInt();
        record.orgId = settings.orgId();

        // A refused device has been explained by the store itself.
        const std::uint32_t id = store->addDevice(record);
        if (id == 0) {
            continue;
        }
        if (store->devices().find(id) == store->devices().end()) {
            return;
        }
        ClientDataFile::instance()->setCameraTypes(id, settings.cameraTypes().data(),
                                                   settings.channelCount());
    }
    // A registration that never reaches the disk must not pass for done.
    ClientDataFile* file = ClientDataFile::instance();
    if (!file->save()) {
        messageBox(this,
                   QStringLiteral("The data file %1 could not be saved!")
                       .arg(QString::fromStdString(file->path().string())),
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
