#pragma once

#include <functional>

// Running window code from worker and receive threads. The caller waits until the code has run on
// the window thread, like a synchronous window message. Unlike a blocking queued connection, the
// wait can be called off: at shutdown the window thread calls stopGuiCalls() before it joins its
// workers, so a worker waiting for a call that has not started yet is released instead of waiting
// on an event loop that will never run again.

namespace desktop {

// True on the thread that runs the QApplication's event loop.
bool isGuiThread();

// Runs fn on the window thread and waits until it has returned. On the window thread itself fn
// runs at once. Returns false, without running fn, when no application exists or calls have been
// stopped. fn may capture the caller's locals by reference: once it has started, the caller waits
// for it to finish even if calls are stopped meanwhile.
bool callOnGuiThread(const std::function<void()>& fn);

// Refuses later calls from other threads and releases every caller whose call has not started.
// Calls already running finish normally. Call it on the window thread when the program is ending.
void stopGuiCalls();

// Accepts calls again (for tests that stop and go on).
void resumeGuiCalls();

} // namespace desktop
