#include "discovery/AssignAddressesDialog.h"

#include "discovery/DiscoveryEngine.h"
#include "discovery/DiscoveryProtocol.h"
#include "discovery/ModifyIpCheck.h"

#include "support/VisibleText.h"

#include "desktop/DataExchange.h"
#include "desktop/IpAddressEdit.h"
#include "desktop/ListViewControl.h"
#include "desktop/MessageBox.h"

#include <QHeaderView>

using namespace desktop;

namespace {

QString fromText(const std::string& text) {
    return QString::fromStdString(text);
}

// The MAC text with each byte the recorder sent as one character, control characters escaped:
// a line break in it must not make a second line in the table or a message.
QString macShown(const std::string& mac) {
    const std::string visible = VisibleText(mac);
    return QString::fromLatin1(visible.data(), static_cast<qsizetype>(visible.size()));
}

// A refusal of the plan rules is a phrase, which may name a recorder's MAC text; in a message box
// it starts as a sentence.
QString sentence(const std::string& text) {
    QString shown = fromText(VisibleText(text));
    if (!shown.isEmpty()) {
        shown[0] = shown[0].toUpper();
    }
    return shown;
}

} // namespace

const DialogTemplate& AssignAddressesDialog::dialogTemplate() {
    static const DialogTemplate tpl{
        .id = IDD,
        .caption = "Assign addresses",
        .width = 330,
        .height = 222,
        .controls =
            {
                {kNoId, ControlKind::Static, "First IP Address", 10, 10, 64, 8},
                {IDC_FIRST_ADDRESS, ControlKind::IpAddress, "", 78, 8, 100, 13},
                {kNoId, ControlKind::Static, "Subnet Mask", 10, 28, 64, 8},
                {IDC_SUBNET_MASK, ControlKind::IpAddress, "", 78, 26, 100, 13},
                {kNoId, ControlKind::Static, "Default Gateway", 10, 46, 64, 8},
                {IDC_GATEWAY, ControlKind::IpAddress, "", 78, 44, 100, 13},
                {kNoId, ControlKind::Static, "Username", 192, 10, 40, 8},
                {IDC_USERNAME, ControlKind::Edit, "", 236, 8, 84, 13},
                {kNoId, ControlKind::Static, "Password", 192, 28, 40, 8},
                {IDC_PASSWORD, ControlKind::Edit, "", 236, 26, 84, 13, Style::Password},
                {IDC_RECORDERS, ControlKind::ListView, "", 10, 64, 310, 128},
                {IDC_START, ControlKind::DefPushButton, "Start", 160, 200, 50, 14},
                {IDC_STOP, ControlKind::PushButton, "Stop", 215, 200, 50, 14, Style::Disabled},
                {IDCANCEL, ControlKind::PushButton, "Close", 270, 200, 50, 14},
            },
    };
    return tpl;
}

AssignAddressesDialog::AssignAddressesDialog(AssignAddressesSetup setup, QWidget* parent)
    : TemplateDialog(dialogTemplate(), parent), m_setup(std::move(setup)), m_dwMask(m_setup.mask),
      m_dwGateway(m_setup.gateway) {}

AssignAddressesDialog::~AssignAddressesDialog() {
    // The worker ends within one recorder's time; its queued result dies with this object.
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

ListViewControl* AssignAddressesDialog::recorderList() const {
    return itemAs<ListViewControl>(IDC_RECORDERS);
}

void AssignAddressesDialog::onInitDialog() {
    TemplateDialog::onInitDialog();
    ListViewControl* list = recorderList();
    list->setGridLines(true);
    list->setFullRowSelect(true);
    list->addColumn(QStringLiteral("Mac Address"), 130);
    list->addColumn(QStringLiteral("Current Address"), 105);
    list->addColumn(QStringLiteral("New Address"), 105);
    list->addColumn(QStringLiteral("Result"), 150);
    list->horizontalHeader()->setStretchLastSection(true);
    for (const ListedRecorder& r : m_setup.chosen) {
        const int row = list->insertItem(list->itemCount(), macShown(r.mac));
        list->setItemText(row, ColumnAddress, fromText(formatIpv4(r.address)));
    }
    for (int id : {IDC_FIRST_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY}) {
        connect(itemAs<IpAddressEdit>(id), &QLineEdit::textChanged, this, [this] { showPlan(); });
    }
    showPlan();
}

void AssignAddressesDialog::doDataExchange(DataExchange& exchange) {
    exchange.ipAddress(IDC_FIRST_ADDRESS, m_dwFirstAddress);
    exchange.ipAddress(IDC_SUBNET_MASK, m_dwMask);
    exchange.ipAddress(IDC_GATEWAY, m_dwGateway);
    exchange.text(IDC_USERNAME, m_strUserName);
    exchange.text(IDC_PASSWORD, m_strPassword);
}

void AssignAddressesDialog::showPlan() {
    if (m_running || !m_changes.empty()) {
        return; // the table shows what was sent
    }
    const std::uint32_t first = itemAs<IpAddressEdit>(IDC_FIRST_ADDRESS)->address();
    const std::uint32_t mask = itemAs<IpAddressEdit>(IDC_SUBNET_MASK)->address();
    std::vector<std::string> macs;
    for (const ListedRecorder& r : m_setup.chosen) {
        macs.push_back(r.mac);
    }
    NumberedPlan plan;
    if (first != 0 && mask != 0) {
        plan = numberPlan(macs, first, mask, 0, listedNow(), m_setup.machineAddresses);
    }
    ListViewControl* list = recorderList();
    for (int row = 0; row < list->itemCount(); ++row) {
        const auto line =
            std::size_t(row) < plan.lines.size() ? fromText(formatIpv4(plan.lines[row].address)) : QString();
        list->setItemText(row, ColumnNewAddress, line);
    }
}

std::vector<ListedRecorder> AssignAddressesDialog::listedNow() const {
    std::vector<ListedRecorder> listed = m_setup.listed;
    // After a refresh the rows are other recorders, and the list is read again when the dialog opens.
    if (m_setup.engine == nullptr || m_setup.engine->generation() != m_setup.generation) {
        return listed;
    }
    std::unordered_set<std::size_t> known;
    for (const ListedRecorder& r : listed) {
        known.insert(r.row);
    }
    const std::size_t rows = m_setup.engine->rowCount();
    for (std::size_t index = 0; index < rows; ++index) {
        if (known.contains(index)) {
            continue;
        }
        if (const auto row = m_setup.engine->row(index)) {
            listed.push_back({index, row->identity.macText(), row->record.address()});
        }
    }
    return listed;
}

void AssignAddressesDialog::refuse(const std::string& text, int box) {
    messageBox(this, sentence(text), QStringLiteral("ERROR"), MB_OK | MB_ICONERROR);
    if (QWidget* focus = item(box)) {
        focus->setFocus();
    }
}

std::vector<PlannedChange> AssignAddressesDialog::checkedPlan() {
    if (!updateData(true)) {
        return {};
    }
    // A blank box reads as 0.0.0.0, which no recorder can take.
    if (const auto refusal = checkNewAddresses(m_dwFirstAddress, m_dwMask, m_dwGateway)) {
        const int boxes[] = {IDC_FIRST_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY};
        refuse(refusal->text, boxes[static_cast<int>(refusal->field)]);
        return {};
    }
    if (m_strUserName.isEmpty()) {
        appMessageBox(this, QStringLiteral("User name can not be null!"));
        item(IDC_USERNAME)->setFocus();
        return {};
    }
    if (const std::string subnet = subnetRefusal(m_dwFirstAddress, m_dwMask, m_dwGateway); !subnet.empty()) {
        refuse(subnet, IDC_GATEWAY);
        return {};
    }
    std::vector<std::string> macs;
    for (const ListedRecorder& r : m_setup.chosen) {
        macs.push_back(r.mac);
    }
    const std::vector<ListedRecorder> listed = listedNow();
    const NumberedPlan plan =
        numberPlan(macs, m_dwFirstAddress, m_dwMask, m_dwGateway, listed, m_setup.machineAddresses);
    if (!plan.refusal.empty()) {
        refuse(plan.refusal, IDC_FIRST_ADDRESS);
        return {};
    }
    PlanCheck check = checkPlan(plan.lines, listed, m_setup.machineAddresses);
    if (!check.refusal.empty()) {
        refuse(check.refusal, IDC_FIRST_ADDRESS);
    }
    return std::move(check.changes);
}

void AssignAddressesDialog::onCommand(int id) {
    if (id == IDC_START && !m_running && m_changes.empty()) {
        start();
    } else if (id == IDC_STOP && m_running) {
        stopAfterCurrent();
    } else if (id != IDC_START && id != IDC_STOP) {
        TemplateDialog::onCommand(id);
    }
}

void AssignAddressesDialog::stopAfterCurrent() {
    if (m_running) {
        m_stopRequested = true;
        enableItem(IDC_STOP, false);
    }
}

void AssignAddressesDialog::onCancel() {
    // A recorder being changed is let finish: it is never left logged in without its address.
    if (m_running) {
        m_stopRequested = true;
        m_closeWhenDone = true;
        enableItem(IDC_STOP, false);
        return;
    }
    TemplateDialog::onCancel();
}

void AssignAddressesDialog::start() {
    m_changes = checkedPlan();
    if (m_changes.empty()) {
        return;
    }
    for (int id : {IDC_FIRST_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY, IDC_USERNAME, IDC_PASSWORD, IDC_START}) {
        enableItem(id, false);
    }
    // Recorders found since the plan was last shown may have moved the numbers: show what is sent.
    for (std::size_t row = 0; row < m_changes.size(); ++row) {
        recorderList()->setItemText(int(row), ColumnNewAddress, fromText(formatIpv4(m_changes[row].address)));
    }
    enableItem(IDC_STOP, true);
    m_running = true;
    m_next = 0;
    changeNext();
}

void AssignAddressesDialog::changeNext() {
    if (m_stopRequested || m_next == m_changes.size()) {
        endRun();
        return;
    }
    recorderList()->setItemText(int(m_next), ColumnResult, QStringLiteral("changing..."));
    m_worker = std::thread([this, change = m_changes[m_next], user = m_strUserName.toStdString(),
                            password = m_strPassword.toStdString()] {
        const ChangeResult result =
            changeRecorder(*m_setup.engine, *m_setup.modifyResults, change, user, password, m_setup.timeout);
        // The dialog joins this thread before it goes.
        QMetaObject::invokeMethod(
            this, [this, result] { changed(result); }, Qt::QueuedConnection);
    });
}

void AssignAddressesDialog::changed(const ChangeResult& result) {
    m_worker.join();
    const int row = int(m_next++);
    recorderList()->setItemText(row, ColumnResult, fromText(changeResultText(result)));
    emit resultShown(row);
    changeNext();
}

void AssignAddressesDialog::endRun() {
    m_running = false;
    for (std::size_t row = m_next; row < m_changes.size(); ++row) {
        recorderList()->setItemText(
            int(row), ColumnResult,
            fromText(changeResultText({m_changes[row], ChangeOutcome::NotSent, "stopped"})));
    }
    enableItem(IDC_STOP, false);
    emit runEnded();
    if (m_closeWhenDone) {
        TemplateDialog::onCancel();
    }
}
