#pragma once

#include "desktop/TemplateDialog.h"

// Asks for the user name and password to log in to a recorder before its address is changed.
// OK takes any non-empty user name as typed (a name of blanks included) and any password.
class ValidateDialog : public desktop::TemplateDialog {
    Q_OBJECT
public:
    static constexpr int IDD = 133;
    static constexpr int IDC_USERNAME = 1027;
    static constexpr int IDC_PASSWORD = 1028;

    static const desktop::DialogTemplate& dialogTemplate();

    explicit ValidateDialog(QWidget* parent = nullptr);

    const QString& userName() const { return m_strUserName; }
    const QString& password() const { return m_strPassword; }

protected:
    void doDataExchange(desktop::DataExchange& exchange) override;
    void onOK() override;

private:
    QString m_strUserName;
    QString m_strPassword;
};
