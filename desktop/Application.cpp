#include "desktop/Application.h"

#include <QApplication>

namespace desktop {

void prepareApplication(QApplication& app) {
    app.setQuitOnLastWindowClosed(false);
}

} // namespace desktop
