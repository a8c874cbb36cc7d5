#include "discovery/DeviceManagementDialog.h"

#include "discovery/OrgTreeCtrl.h"
#include "discovery/PelloryIcons.h"

#include "clientstore/ClientStore.h"

#include "desktop/DataExchange.h"
#include "desktop/MessageBox.h"
#include "desktop/TreeViewControl.h"

#include <QPainter>

#include <set>

using namespace desktop;

namespace {

int fieldId(RegistrationField field) {
    switch (field) {
    case RegistrationField::DeviceName:
        return DeviceManagementDialog::IDC_DEVICE_NAME;
    case RegistrationField::UserName:
        return DeviceManagementDialog::IDC_USER_NAME;
    case RegistrationField::Password:
        return DeviceManagementDialog::IDC_PASSWORD;
    case RegistrationField::ChannelCount:
        return DeviceManagementDialog::IDC_CHANNELS;
    case RegistrationField::CameraTypes:
        return DeviceManagementDialog::IDC_EDIT_CAMERA_TYPE;
    case RegistrationField::Host:
        break; // taken from the window's list: nothing here to correct
    }
    return 0;
}

} // namespace

const DialogTemplate& DeviceManagementDialog::dialogTemplate() {
    static const DialogTemplate tpl{
        .id = IDD,
        .caption = "Device Management",
        .width = 316,
        .height = 299,
        .controls =
            {
                {IDC_ORG_TREE, ControlKind::TreeView, "", 7, 7, 150, 285},
                {IDC_FIRST_LABEL, ControlKind::Static, "Organization", 166, 14, 52, 8},
                {IDC_ORGANIZATION, ControlKind::Edit, "", 222, 12, 86, 13, Style::ReadOnly},
                {IDC_FIRST_LABEL + 1, ControlKind::Static, "Device Name", 166, 36, 52, 8},
                {IDC_DEVICE_NAME, ControlKind::Edit, "", 222, 34, 86, 13},
                {IDC_FIRST_LABEL + 2, ControlKind::Static, "User Name", 166, 58, 52, 8},
                {IDC_USER_NAME, ControlKind::Edit, "", 222, 56, 86, 13},
                {IDC_FIRST_LABEL + 3, ControlKind::Static, "Password", 166, 80, 52, 8},
                {IDC_PASSWORD, ControlKind::Edit, "", 222, 78, 86, 13, Style::Password},
                {IDC_FIRST_LABEL + 4, ControlKind::Static, "Total Channel", 166, 102, 52, 8},
                {IDC_CHANNELS, ControlKind::Edit, "", 222, 100, 86, 13, Style::Number},
                {IDC_EDIT_CAMERA_TYPE, ControlKind::PushButton, "Edit Camera type", 222, 124, 86, 14},
                {IDOK, ControlKind::DefPushButton, "OK", 196, 272, 50, 14},
                {IDCANCEL, ControlKind::PushButton, "Cancel", 258, 272, 50, 14},
            },
    };
    return tpl;
}

DeviceManagementDialog::DeviceManagementDialog(QWidget* parent) : TemplateDialog(dialogTemplate(), parent) {
    m_orgTree = new OrgTreeCtrl(organisationTree());
    connect(organisationTree(), &TreeViewControl::itemSelected, this,
            [this](QTreeWidgetItem* item) { onItemSelected(item); });
}

TreeViewControl* DeviceManagementDialog::organisationTree() const {
    return itemAs<TreeViewControl>(IDC_ORG_TREE);
}

void DeviceManagementDialog::doDataExchange(DataExchange& exchange) {
    exchange.text(IDC_ORGANIZATION, m_strOrgName);
    exchange.text(IDC_DEVICE_NAME, m_strDeviceName);
    exchange.text(IDC_USER_NAME, m_strUserName);
    exchange.text(IDC_PASSWORD, m_strPassword);
    exchange.number(IDC_CHANNELS, m_nChannelCount);
}

void DeviceManagementDialog::onInitDialog() {
    TemplateDialog::onInitDialog();
    organisationTree()->setImageList({pellory::organisationIcon()}, 16);
    fillTree();
    if (QTreeWidgetItem* first = organisationTree()->firstItem()) {
        first->setText(0, QStringLiteral("Organization"));
        organisationTree()->selectItem(first);
        first->setExpanded(true);
    }
}

void DeviceManagementDialog::fillTree() {
    TreeViewControl* tree = organisationTree();
    const auto& organisations = ClientStore::instance()->organisations();
    // An organisation met again below itself would nest without end; the store refuses such
    // files, and the tree does not rely on it.
    std::set<std::uint32_t> placed;
    const auto insert = [&](auto& self, std::uint32_t id, QTreeWidgetItem* parent) -> void {
        const auto found = organisations.find(id);
        if (found == organisations.end() || !placed.insert(id).second) {
            return;
        }
        const OrgEntry& org = found->second;
        QTreeWidgetItem* item = tree->insertItem(QString::fromUtf8(fieldText(org.name)), 0, id, parent);
        for (std::uint32_t child : org.children) {
            self(self, child, item);
        }
    };
    insert(insert, 0, nullptr);
}

void DeviceManagementDialog::onItemSelected(QTreeWidgetItem* item) {
    if (item == nullptr) {
        return;
    }
    m_strOrgName = item->text(0);
    m_dwOrgId = TreeViewControl::itemData(item);
    updateData(false);
}

void DeviceManagementDialog::onCommand(int id) {
    if (id == IDC_EDIT_CAMERA_TYPE) {
        onEditCameraType();
        return;
    }
    TemplateDialog::onCommand(id);
}

void DeviceManagementDialog::onEditCameraType() {
    if (!updateData(true)) {
        return;
    }
    if (!channelCountInRange()) {
        messageBox(this, QStringLiteral("The channel's number must be between 1 and 16!"),
                   QStringLiteral("Dor Ovud Avez"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    CameraTypeDialog cameraTypes(m_nChannelCount, m_nCameraType, this);
    if (cameraTypes.doModal() == IDOK) {
        m_nCameraType = cameraTypes.cameraTypes();
    }
}

DeviceSettings DeviceManagementDialog::settings() const {
    DeviceSettings settings;
    settings.name = m_strDeviceName.toStdString();
    settings.userName = m_strUserName.toStdString();
    settings.password = m_strPassword.toStdString();
    settings.channelCount = m_nChannelCount;
    settings.orgId = m_dwOrgId;
    // The types of the channels there are; a count out of range has none and is refused.
    const std::int32_t channels = channelCountInRange() ? m_nChannelCount : 0;
    settings.cameraTypes.assign(m_nCameraType.begin(), m_nCameraType.begin() + channels);
    settings.numbered = true;
    return settings;
}

void DeviceManagementDialog::onOK() {
    if (!updateData(true)) {
        return;
    }
    DeviceSettings checked = settings();
    const auto refusal = checkDeviceSettings(checked);
    m_strDeviceName = QString::fromStdString(checked.name);
    if (refusal) {
        messageBox(this, QString::fromStdString(refusal->text), QStringLiteral("ERROR"),
                   MB_OK | MB_ICONERROR);
        if (QWidget* field = item(fieldId(refusal->field))) {
            field->setFocus();
        }
        return;
    }
    endDialog(IDOK);
}

void DeviceManagementDialog::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
}
