#include "desktop/GuiThread.h"

#include <QCoreApplication>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace desktop {

namespace {

enum class CallState { Pending, Running, Done, Cancelled };

// One mutex and condition for all calls: there are only ever a few waiting threads.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool stopped = false;
};

Gate& gate() {
    static Gate instance;
    return instance;
}

} // namespace

bool isGuiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

bool callOnGuiThread(const std::function<void()>& fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return false;
    }
    if (QThread::currentThread() == app->thread()) {
        fn();
        return true;
    }
    Gate& g = gate();
    auto state = std::make_shared<CallState>(CallState::Pending);
    {
        std::lock_guard lock(g.mutex);
        if (g.stopped) {
            return false;
        }
    }
    // The posted functor holds fn by pointer: it runs only while the caller is still waiting,
    // which the Running state guarantees.
    const std::function<void()>* target = &fn;
    QMetaObject::invokeMethod(
        app,
        [state, target] {
            Gate& gg = gate();
            {
                std::lock_guard lock(gg.mutex);
                if (*state != CallState::Pending) {
                    return;
                }
                *state = CallState::Running;
            }
            // Done is set even if fn throws, so the caller is never left waiting.
            struct MarkDone {
                CallState& state;
                ~MarkDone() {
                    {
                        std::lock_guard lock(gate().mutex);
                        state = CallState::Done;
                    }
                    gate().changed.notify_all();
                }
            } markDone{*state};
            (*target)();
        },
        Qt::QueuedConnection);

    std::unique_lock lock(g.mutex);
    g.changed.wait(lock,
                   [&] { return *state == CallState::Done || (*state == CallState::Pending && g.stopped); });
    if (*state == CallState::Pending) {
        *state = CallState::Cancelled;
        return false;
    }
    return true;
}

void stopGuiCalls() {
    Gate& g = gate();
    {
        std::lock_guard lock(g.mutex);
        g.stopped = true;
    }
    g.changed.notify_all();
}

void resumeGuiCalls() {
    std::lock_guard lock(gate().mutex);
    gate().stopped = false;
}

} // namespace desktop
