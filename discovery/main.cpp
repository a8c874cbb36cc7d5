// Pellory: finds recorders on the local network, changes their addresses and registers them
// with the surveillance client.

#include "DiscoveryApp.h"

#include "desktop/Application.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    desktop::prepareApplication(app);
    int exitStatus = 0;
    const auto settings = DiscoveryApp::parseArguments(QApplication::arguments(), exitStatus);
    if (!settings) {
        return exitStatus;
    }
    return DiscoveryApp::run(*settings);
}
