#include "upgrade/AboutDlg.h"

#include "upgrade/ProgramIcon.h"
#include "upgrade/UpgradeWindowIds.h"

#include <QLabel>

#include <algorithm>

using desktop::ControlKind;
using desktop::DialogTemplate;
namespace Style = desktop::Style;

const DialogTemplate& AboutDlgTemplate() {
    static const DialogTemplate dialog{
        .id = IDD_ABOUTBOX,
        .caption = "About DVR Upgrade Tool",
        .width = 235,
        .height = 55,
        .controls =
            {
                {CAboutDlg::kIconId, ControlKind::Icon, "", 11, 17, 20, 20},
                {desktop::kNoId, ControlKind::Static, "DVR Upgrade Tool Version 1.17", 40, 10, 119, 8},
                {desktop::kNoId, ControlKind::Static, "Upgrades recorders over the network.", 40, 25, 188, 8},
                {desktop::kNoId, ControlKind::Static, "Copyright (C) Velmora Software", 40, 37, 188, 8},
                {desktop::IDOK, ControlKind::DefPushButton, "OK", 178, 7, 50, 14, Style::Group},
            },
    };
    return dialog;
}

CAboutDlg::CAboutDlg(QWidget* parent) : TemplateDialog(AboutDlgTemplate(), parent) {}

void CAboutDlg::onInitDialog() {
    TemplateDialog::onInitDialog();
    if (auto* icon = itemAs<QLabel>(kIconId)) {
        const int side = std::min(icon->width(), icon->height());
        icon->setPixmap(ProgramIcon().pixmap(side, side));
    }
}
