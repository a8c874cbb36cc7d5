// Stopping a command-line tool cleanly on Ctrl-C or a termination request: the signals are
// blocked in every thread and taken by one thread of their own, which tells the program, so that
// work in progress ends the normal way (temporary packages deleted, connections closed) instead
// of the process vanishing in the middle of it.
#pragma once

#include <atomic>
#include <functional>
#include <pthread.h>
#include <signal.h>
#include <thread>

namespace cli {

class StopSignals {
public:
    // Blocks SIGINT, SIGTERM and SIGHUP in the calling thread, and so in every thread started
    // after this, then waits for them on a thread of its own; `onStop` runs there once per signal.
    // Construct it in main before any other thread starts.
    explicit StopSignals(std::function<void(int signo)> onStop);
    // Ends the waiting thread and unblocks the signals.
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The first signal received, 0 while none.
    int Received() const { return m_received.load(); }
    // The exit status of a program stopped by the first signal received: 128 + its number.
    int ExitStatus() const { return 128 + m_received.load(); }

private:
    void Wait();

    std::function<void(int)> m_onStop;
    sigset_t m_oldMask{};
    std::atomic<int> m_received{0};
    std::atomic<bool> m_ending{false};
    std::thread m_thread;
};

} // namespace cli
