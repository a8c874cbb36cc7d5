#include "clientstore/TempFileCleanup.h"

#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kStopCount = sizeof kStopSignals / sizeof kStopSignals[0];

// Read by the handler: the path is complete before `g_armed` is set and is not changed while set.
char g_path[PATH_MAX];
volatile sig_atomic_t g_armed = 0;
std::atomic<bool> g_inUse{false};
struct sigaction g_previous[kStopCount];
bool g_installed[kStopCount];
struct sigaction g_previousXfsz;

void onStopSignal(int signo) {
    if (g_armed) {
        ::unlink(g_path);
        g_armed = 0;
    }
    // The default action again, and the signal once more: it is blocked while this handler runs
    // and ends the process as soon as the handler returns.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(signo, &dfl, nullptr);
    ::raise(signo);
}

sigset_t stopSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signo : kStopSignals) {
        sigaddset(&set, signo);
    }
    return set;
}

} // namespace

TempFileCleanup::Block::Block() {
    const sigset_t set = stopSet();
    pthread_sigmask(SIG_BLOCK, &set, &m_old);
}

TempFileCleanup::Block::~Block() {
    pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
}

TempFileCleanup::TempFileCleanup(const std::string& path) {
    if (path.size() >= sizeof g_path || g_inUse.exchange(true)) {
        return;
    }
    m_armed = true;
    std::memcpy(g_path, path.c_str(), path.size() + 1);
    g_armed = 1;
    struct sigaction ours {};
    ours.sa_handler = onStopSignal;
    sigemptyset(&ours.sa_mask);
    for (int i = 0; i < kStopCount; ++i) {
        struct sigaction current {};
        ::sigaction(kStopSignals[i], nullptr, &current);
        // A signal that the program ignores or handles itself keeps its action.
        g_installed[i] = current.sa_handler == SIG_DFL && (current.sa_flags & SA_SIGINFO) == 0;
        if (g_installed[i]) {
            ::sigaction(kStopSignals[i], &ours, &g_previous[i]);
        }
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGXFSZ, &ignore, &g_previousXfsz);
}

TempFileCleanup::~TempFileCleanup() {
    if (!m_armed) {
        return;
    }
    g_armed = 0;
    for (int i = 0; i < kStopCount; ++i) {
        if (g_installed[i]) {
            ::sigaction(kStopSignals[i], &g_previous[i], nullptr);
        }
    }
    ::sigaction(SIGXFSZ, &g_previousXfsz, nullptr);
    g_inUse = false;
}
