// Pellory: finds recorders on the local network, changes their addresses and registers them
// with the surveillance client.

#include "discovery/DiscoveryApp.h"

#include "desktop/Application.h"

#include <QApplication>

int main(int argc, char** argv) {
    // The command line is read before any window system is needed, so that --help and a bad
    // option answer on a machine without a display too.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    int exitStatus = 0;
    const auto settings = DiscoveryApp::parseArguments(arguments, exitStatus);
    if (!settings) {
        return exitStatus;
    }
    QApplication app(argc, argv);
    desktop::prepareApplication(app);
    return DiscoveryApp::run(*settings);
}
