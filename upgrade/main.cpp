// kestrion: the upgrade tool's window. kestrion [FILE] opens with FILE already classified;
// kestrion --batch LIST opens the batch upgrade window with the recorders of a scan list.

#include "desktop/Application.h"
#include "upgrade/ProgramIcon.h"
#include "upgrade/UpgradeApp.h"
#include "upgrade/UpgradeIds.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The caption of the program's plain messages.
    QApplication::setApplicationName(QString::fromUtf8(kProgramName));
    QApplication::setDesktopFileName(QStringLiteral("kestrion"));
    QApplication::setWindowIcon(ProgramIcon());
    desktop::prepareApplication(app);

    CUpgradeApp upgradeApp(QApplication::arguments());
    return upgradeApp.InitInstance();
}
