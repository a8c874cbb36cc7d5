#include "discovery/ModifyIpDialog.h"

#include "discovery/ModifyIpCheck.h"

#include "desktop/DataExchange.h"
#include "desktop/MessageBox.h"

using namespace desktop;

namespace {

int boxOf(NewAddressField field) {
    switch (field) {
    case NewAddressField::Address:
        return ModifyIpDialog::IDC_IPADDRESS;
    case NewAddressField::Mask:
        return ModifyIpDialog::IDC_SUBNET_MASK;
    case NewAddressField::Gateway:
        return ModifyIpDialog::IDC_GATEWAY;
    }
    return ModifyIpDialog::IDC_IPADDRESS;
}

} // namespace

const DialogTemplate& ModifyIpDialog::dialogTemplate() {
    static const DialogTemplate tpl{
        .id = IDD,
        .caption = "Modify IP",
        .width = 276,
        .height = 125,
        .controls =
            {
                {1022, ControlKind::Static, "IP Address", 40, 20, 70, 8},
                {IDC_IPADDRESS, ControlKind::IpAddress, "", 118, 18, 110, 13},
                {1023, ControlKind::Static, "Subnet Mask", 40, 43, 70, 8},
                {IDC_SUBNET_MASK, ControlKind::IpAddress, "", 118, 41, 110, 13},
                {1024, ControlKind::Static, "Default Gateway", 40, 66, 70, 8},
                {IDC_GATEWAY, ControlKind::IpAddress, "", 118, 64, 110, 13},
                {IDOK, ControlKind::DefPushButton, "OK", 72, 97, 50, 14},
                {IDCANCEL, ControlKind::PushButton, "Cancel", 152, 97, 50, 14},
            },
    };
    return tpl;
}

ModifyIpDialog::ModifyIpDialog(QWidget* parent) : TemplateDialog(dialogTemplate(), parent) {}

void ModifyIpDialog::setValues(std::uint32_t address, std::uint32_t mask, std::uint32_t gateway) {
    m_dwAddress = address;
    m_dwMask = mask;
    m_dwGateway = gateway;
}

void ModifyIpDialog::doDataExchange(DataExchange& exchange) {
    exchange.ipAddress(IDC_IPADDRESS, m_dwAddress);
    exchange.ipAddress(IDC_SUBNET_MASK, m_dwMask);
    exchange.ipAddress(IDC_GATEWAY, m_dwGateway);
}

void ModifyIpDialog::onOK() {
    if (!updateData(true)) {
        return;
    }
    // A blank box reads as 0.0.0.0, which no recorder can take.
    if (const auto refusal = checkNewAddresses(m_dwAddress, m_dwMask, m_dwGateway)) {
        messageBox(this, QString::fromUtf8(refusal->text), QStringLiteral("ERROR"), MB_OK | MB_ICONERROR);
        if (QWidget* box = item(boxOf(refusal->field))) {
            box->setFocus();
        }
        return;
    }
    endDialog(IDOK);
}
