// The About box: the program icon, the program's name and version, two lines of notice and OK.
#pragma once

#include "desktop/TemplateDialog.h"

// Template of the About box (dialog 100), for the window and its tests.
const desktop::DialogTemplate& AboutDlgTemplate();

class CAboutDlg : public desktop::TemplateDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    // The picture label that shows the program icon.
    static constexpr int kIconId = 128;

protected:
    void onInitDialog() override;
};
