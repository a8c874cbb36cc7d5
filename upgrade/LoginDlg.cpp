#include "upgrade/LoginDlg.h"

#include "desktop/DataExchange.h"
#include "upgrade/UpgradeWindowIds.h"

using desktop::ControlKind;
using desktop::DialogTemplate;
namespace Style = desktop::Style;

const DialogTemplate& LoginDlgTemplate() {
    static const DialogTemplate dialog{
        .id = IDD_LOGIN,
        .caption = "User Login",
        .width = 120,
        .height = 63,
        .controls =
            {
                {desktop::kNoId, ControlKind::Static, "Name", 10, 8, 36, 8},
                {IDC_LOGIN_NAME, ControlKind::Edit, "", 50, 5, 60, 14},
                {desktop::kNoId, ControlKind::Static, "Password", 10, 30, 36, 8},
                {IDC_LOGIN_PASSWORD, ControlKind::Edit, "", 50, 27, 60, 14, Style::Password},
                {desktop::IDOK, ControlKind::DefPushButton, "OK", 15, 47, 44, 14},
                {desktop::IDCANCEL, ControlKind::PushButton, "Cancel", 67, 47, 44, 14},
            },
    };
    return dialog;
}

CLoginDlg::CLoginDlg(CUpgradeView::LoginHandler onOk, QWidget* parent)
    : TemplateDialog(LoginDlgTemplate(), parent), m_onOk(std::move(onOk)) {}

void CLoginDlg::doDataExchange(desktop::DataExchange& exchange) {
    exchange.text(IDC_LOGIN_NAME, m_strName);
    exchange.text(IDC_LOGIN_PASSWORD, m_strPassword);
}

void CLoginDlg::onOK() {
    updateData(true);
    // One request per dialog: after a refusal or a failure the user cancels and starts again.
    enableItem(desktop::IDOK, false);
    if (m_onOk) {
        m_onOk(m_strName.toStdString(), m_strPassword.toStdString());
    }
}
