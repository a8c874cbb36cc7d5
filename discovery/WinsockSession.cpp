#include "discovery/WinsockSession.h"

#include <atomic>

namespace {

// Counted rather than a plain flag, so that the first socket destroyed does not clean up under
// another that is still open.
std::atomic<int> g_nWinsockUsers{0};

} // namespace

bool WinsockSession::startup() noexcept {
    g_nWinsockUsers.fetch_add(1);
    return true;
}

void WinsockSession::cleanup() noexcept {
    g_nWinsockUsers.fetch_sub(1);
}

bool WinsockSession::started() noexcept {
    return g_nWinsockUsers.load() > 0;
}
