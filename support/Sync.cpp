#include "support/Sync.h"

#include "support/Exceptions.h"

#include <cerrno>
#include <chrono>
#include <sys/eventfd.h>
#include <unistd.h>

namespace Zorvik {

CEvent::CEvent(bool manualReset, bool initiallySignalled)
    : m_bManualReset(manualReset), m_bSignalled(initiallySignalled),
      m_hEvent(Create(manualReset, initiallySignalled, nullptr)) {}

CEvent::CEvent(const std::string& name, bool manualReset, bool initiallySignalled)
    : m_bManualReset(manualReset), m_bSignalled(initiallySignalled), m_strName(name),
      m_hEvent(Create(manualReset, initiallySignalled, name.c_str())) {}

CEvent::~CEvent() {
    ::close(m_hEvent);
}

int CEvent::Create(bool /*manualReset*/, bool initiallySignalled, const char* /*name*/) {
    // Non-blocking, so that draining an already empty descriptor returns instead of hanging.
    const int fd = ::eventfd(initiallySignalled ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        throw CWin32Exception("CEvent::Create()", static_cast<uint32_t>(errno));
    }
    return fd;
}

void CEvent::WriteHandle(const char* where) {
    const uint64_t one = 1;
    while (::write(m_hEvent, &one, sizeof one) < 0) {
        if (errno != EINTR) {
            throw CWin32Exception(where, static_cast<uint32_t>(errno));
        }
    }
}

void CEvent::DrainHandle(const char* where) {
    uint64_t count = 0;
    while (::read(m_hEvent, &count, sizeof count) < 0) {
        if (errno == EAGAIN) {
            return; // already empty
        }
        if (errno != EINTR) {
            throw CWin32Exception(where, static_cast<uint32_t>(errno));
        }
    }
}

void CEvent::Set() {
    std::lock_guard lock(m_lock);
    // The write also proves the handle is alive, so it is made even when already signalled; the
    // descriptor's counter only needs to be non-zero.
    WriteHandle("CEvent::Set()");
    m_bSignalled = true;
    if (m_bManualReset) {
        m_changed.notify_all();
    } else {
        m_changed.notify_one();
    }
}

void CEvent::Reset() {
    std::lock_guard lock(m_lock);
    DrainHandle("CEvent::Reset()");
    m_bSignalled = false;
}

void CEvent::Pulse() {
    std::lock_guard lock(m_lock);
    DrainHandle("CEvent::Pulse()");
    m_bSignalled = false;
    if (m_nWaiters == 0) {
        return;
    }
    if (m_bManualReset) {
        ++m_nPulses;
    } else if (m_nPulseReleases < m_nWaiters) {
        ++m_nPulseReleases;
    }
    m_changed.notify_all();
}

bool CEvent::Wait(uint32_t milliseconds) {
    std::unique_lock lock(m_lock);
    const uint64_t pulsesBefore = m_nPulses;
    auto released = [&] {
        return m_bSignalled || (m_bManualReset ? m_nPulses != pulsesBefore : m_nPulseReleases > 0);
    };
    // A pulse releases only threads already waiting, so a newcomer looks at the state alone.
    bool signalled = m_bSignalled;
    if (!signalled && milliseconds != 0) {
        ++m_nWaiters;
        if (milliseconds == INFINITE) {
            m_changed.wait(lock, released);
            signalled = true;
        } else {
            signalled = m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), released);
        }
        --m_nWaiters;
    }
    if (!m_bManualReset) {
        if (signalled && m_bSignalled) {
            DrainHandle("CEvent::Wait() - WaitForSingleObject");
            m_bSignalled = false;
        } else if (signalled) {
            --m_nPulseReleases;
        }
        // A pulse may have counted a waiter that timed out at the same moment; it must not carry
        // over to a thread that starts waiting later.
        if (m_nPulseReleases > m_nWaiters) {
            m_nPulseReleases = m_nWaiters;
        }
    }
    return signalled;
}

void CEvent::Wait() {
    if (!Wait(INFINITE)) {
        throw CException("CEvent::Wait()", "Unexpected timeout on infinite wait");
    }
}

} // namespace Zorvik
