#pragma once

#include "discovery/CameraTypeDialog.h"

#include "clientstore/DeviceRegistration.h"

#include "desktop/TemplateDialog.h"

#include <QColor>

#include <cstdint>

class OrgTreeCtrl;
class QTreeWidgetItem;

namespace desktop {
class TreeViewControl;
}

// The settings of a recorder about to be registered in the client's data file: its organisation
// (chosen in the tree of the data store's organisations), device name, credentials, channel count
// and the camera type of each channel.
class DeviceManagementDialog : public desktop::TemplateDialog {
    Q_OBJECT
public:
    static constexpr int IDD = 129;
    static constexpr int IDC_ORG_TREE = 1003;
    static constexpr int IDC_DEVICE_NAME = 1004;
    static constexpr int IDC_USER_NAME = 1005;
    static constexpr int IDC_PASSWORD = 1006;
    static constexpr int IDC_CHANNELS = 1007;
    static constexpr int IDC_EDIT_CAMERA_TYPE = 1008;
    static constexpr int IDC_ORGANIZATION = 1009;
    static constexpr int IDC_FIRST_LABEL = 1010; // labels 1010 to 1014
    static constexpr int IDI_ORGANISATION = 131;

    static constexpr QColor kBackground{198, 206, 225};

    static const desktop::DialogTemplate& dialogTemplate();

    explicit DeviceManagementDialog(QWidget* parent = nullptr);

    desktop::TreeViewControl* organisationTree() const;
    std::uint32_t orgId() const { return m_dwOrgId; }
    const QString& orgName() const { return m_strOrgName; }
    // Trimmed once OK has been pressed.
    const QString& deviceName() const { return m_strDeviceName; }
    const QString& userName() const { return m_strUserName; }
    const QString& password() const { return m_strPassword; }
    std::int32_t channelCount() const { return m_nChannelCount; }
    const CameraTypeDialog::CameraTypes& cameraTypes() const { return m_nCameraType; }
    // The members as the registration takes them, the name numbered by the row counter.
    DeviceSettings settings() const;

protected:
    void onInitDialog() override;
    void doDataExchange(desktop::DataExchange& exchange) override;
    void onCommand(int id) override;
    void onOK() override;
    void paintEvent(QPaintEvent* event) override;

private:
    void fillTree();
    void onItemSelected(QTreeWidgetItem* item);
    void onEditCameraType();
    bool channelCountInRange() const {
        return m_nChannelCount >= kFewestChannels && m_nChannelCount <= kMostChannels;
    }

    OrgTreeCtrl* m_orgTree = nullptr;
    QString m_strOrgName;
    QString m_strDeviceName;
    QString m_strUserName;
    QString m_strPassword;
    std::int32_t m_nChannelCount = 8;
    std::uint32_t m_dwOrgId = 0;
    CameraTypeDialog::CameraTypes m_nCameraType{};
};
