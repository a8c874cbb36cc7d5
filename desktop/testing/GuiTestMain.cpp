// main() for GoogleTest suites that drive Qt windows: an offscreen QApplication unless the caller
// chose another platform (xvfb-run for screenshots of real windows).

#include "desktop/Application.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The file dialogs remember their folders in the user's settings; the tests keep theirs in a
    // folder of their own, removed at the end, instead of writing the user's configuration.
    QTemporaryDir userConfig;
    if (userConfig.isValid()) {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(userConfig.path()));
    }
    QApplication app(argc, argv);
    desktop::prepareApplication(app);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
