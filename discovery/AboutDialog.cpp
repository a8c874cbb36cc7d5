#include "discovery/AboutDialog.h"

#include "discovery/PelloryIcons.h"

#include <QLabel>

using namespace desktop;

const DialogTemplate& AboutDialog::dialogTemplate() {
    static const DialogTemplate tpl{
        .id = IDD,
        .caption = "About Pellory",
        .width = 235,
        .height = 55,
        .controls =
            {
                {IDC_ICON, ControlKind::Icon, "", 11, 14, 20, 20},
                {kNoId, ControlKind::Static, "Pellory Version 1.0", 40, 14, 119, 8},
                {kNoId, ControlKind::Static, "Finds recorders on the local network.", 40, 26, 150, 8},
                {IDOK, ControlKind::DefPushButton, "OK", 178, 7, 50, 14, Style::Group},
            },
    };
    return tpl;
}

AboutDialog::AboutDialog(QWidget* parent) : TemplateDialog(dialogTemplate(), parent) {}

void AboutDialog::onInitDialog() {
    TemplateDialog::onInitDialog();
    const QIcon icon = pellory::programIcon();
    setWindowIcon(icon);
    if (auto* picture = itemAs<QLabel>(IDC_ICON)) {
        picture->setPixmap(icon.pixmap(32, 32));
    }
}
