#pragma once

class QApplication;

// Settings every program built on this layer needs before its first window opens.

namespace desktop {

// The program ends when its main window's loop ends, not when its last window closes: a main
// window may hide itself in the tray, and a worker may be waiting for a message box while no
// window is visible.
void prepareApplication(QApplication& app);

} // namespace desktop
