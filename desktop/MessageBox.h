#pragma once

#include "desktop/WinTypes.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

// Message boxes with a caption, an icon and a set of buttons, callable from any thread. The box is
// always shown on the window thread; a caller on another thread waits until it has been closed.
// Tests replace the boxes with a handler (see desktop/testing/MessageBoxRecorder.h).

namespace desktop {

struct MessageBoxRequest {
    QPointer<QWidget> owner; // the window that owns the box, or none
    QString text;
    QString caption;
    unsigned type = MB_OK;      // MB_ buttons | MB_ICON
    bool fromGuiThread = false; // whether the caller ran on the window thread

    unsigned buttons() const { return type & MB_TYPEMASK; }
    unsigned icon() const { return type & MB_ICONMASK; }
};

// Shows the box and returns the button chosen (IDOK, IDCANCEL, IDYES, ...). Returns 0 without a
// box when it cannot be shown: no application, or calls from other threads stopped at shutdown.
int messageBox(QWidget* owner, const QString& text, const QString& caption, unsigned type = MB_OK);

// The program's plain message: its name as caption, an exclamation icon and an OK button unless
// type says otherwise.
int appMessageBox(QWidget* owner, const QString& text, unsigned type = MB_OK | MB_ICONEXCLAMATION);

// The program's name as message boxes show it: the application name, which Qt takes from the
// executable's file name unless the program sets another.
QString applicationName();

// A stand-in for the real boxes. It runs on the window thread and returns the button chosen.
using MessageBoxHandler = std::function<int(const MessageBoxRequest&)>;

// Installs a handler (an empty one brings the real boxes back); returns the one it replaces.
// Call it on the window thread.
MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler);

} // namespace desktop
