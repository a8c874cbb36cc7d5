#include "support/cli/StopSignals.h"

namespace cli {

namespace {

// SIGUSR1 only wakes the waiting thread when the program ends.
sigset_t WaitedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR1);
    return set;
}

} // namespace

StopSignals::StopSignals(std::function<void(int)> onStop) : m_onStop(std::move(onStop)) {
    const sigset_t set = WaitedSignals();
    pthread_sigmask(SIG_BLOCK, &set, &m_oldMask);
    m_thread = std::thread([this] { Wait(); });
}

StopSignals::~StopSignals() {
    m_ending = true;
    pthread_kill(m_thread.native_handle(), SIGUSR1);
    m_thread.join();
    pthread_sigmask(SIG_SETMASK, &m_oldMask, nullptr);
}

void StopSignals::Wait() {
    const sigset_t set = WaitedSignals();
    for (;;) {
        int signo = 0;
        if (sigwait(&set, &signo) != 0) {
            continue;
        }
        if (signo == SIGUSR1) {
            if (m_ending) {
                return;
            }
            continue;
        }
        int none = 0;
        m_received.compare_exchange_strong(none, signo);
        if (m_onStop) {
            m_onStop(signo);
        }
    }
}

} // namespace cli
