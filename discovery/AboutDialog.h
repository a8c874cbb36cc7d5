#pragma once

#include "desktop/TemplateDialog.h"

// The About box: the program's icon, name and version, and a button to close it.
class AboutDialog : public desktop::TemplateDialog {
    Q_OBJECT
public:
    static constexpr int IDD = 100;
    static constexpr int IDC_ICON = 1100;

    static const desktop::DialogTemplate& dialogTemplate();

    explicit AboutDialog(QWidget* parent = nullptr);

protected:
    void onInitDialog() override;
};
