// The login dialog: a name and a password for the recorder. OK hands the two texts to the
// session and stays disabled from then on; the dialog ends with Cancel, or with OK once the
// recorder has accepted the login (the main window then sends it WM_LOGIN_OK).
#pragma once

#include "desktop/TemplateDialog.h"
#include "upgrade/UpgradeView.h"

// Template of the login dialog (dialog 133), for the window and its tests.
const desktop::DialogTemplate& LoginDlgTemplate();

class CLoginDlg : public desktop::TemplateDialog {
    Q_OBJECT
public:
    CLoginDlg(CUpgradeView::LoginHandler onOk, QWidget* parent = nullptr);

    // WM_LOGIN_OK: the recorder accepted the login.
    void OnLoginOk() { endDialog(desktop::IDOK); }

    // The texts as entered when OK was last pressed.
    QString m_strName;
    QString m_strPassword;

protected:
    void doDataExchange(desktop::DataExchange& exchange) override;
    void onOK() override;

private:
    CUpgradeView::LoginHandler m_onOk;
};
