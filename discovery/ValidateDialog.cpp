#include "discovery/ValidateDialog.h"

#include "desktop/DataExchange.h"
#include "desktop/MessageBox.h"

using namespace desktop;

const DialogTemplate& ValidateDialog::dialogTemplate() {
    static const DialogTemplate tpl{
        .id = IDD,
        .caption = "Validate",
        .width = 187,
        .height = 80,
        .controls =
            {
                {kNoId, ControlKind::Static, "Username", 16, 13, 42, 8},
                {IDC_USERNAME, ControlKind::Edit, "", 62, 11, 108, 13},
                {kNoId, ControlKind::Static, "Password", 16, 33, 42, 8},
                {IDC_PASSWORD, ControlKind::Edit, "", 62, 31, 108, 13, Style::Password},
                {IDOK, ControlKind::DefPushButton, "OK", 36, 57, 50, 14},
                {IDCANCEL, ControlKind::PushButton, "Cancel", 100, 57, 50, 14},
            },
    };
    return tpl;
}

ValidateDialog::ValidateDialog(QWidget* parent) : TemplateDialog(dialogTemplate(), parent) {}

void ValidateDialog::doDataExchange(DataExchange& exchange) {
    exchange.text(IDC_USERNAME, m_strUserName);
    exchange.text(IDC_PASSWORD, m_strPassword);
}

void ValidateDialog::onOK() {
    if (!updateData(true)) {
        return;
    }
    if (m_strUserName.isEmpty()) {
        appMessageBox(this, QStringLiteral("User name can not be null!"));
        if (QWidget* name = item(IDC_USERNAME)) {
            name->setFocus();
        }
        return;
    }
    endDialog(IDOK);
}
