// Events and critical sections. An event keeps its state under a mutex for threads that Wait on
// it and mirrors it in an eventfd, readable while the event is signalled, so that a thread can
// poll() it together with sockets.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace Zorvik {

// Wait limit meaning "no limit".
inline constexpr uint32_t INFINITE = 0xFFFFFFFFu;

class CEvent {
public:
    // An unnamed event. Throws CWin32Exception ("CEvent::Create()") if the system has no event left.
    CEvent(bool manualReset, bool initiallySignalled);
    // A named event. Names only label events here: nothing shares them between processes.
    CEvent(const std::string& name, bool manualReset, bool initiallySignalled);
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;
    virtual ~CEvent();

    // The event's descriptor: readable (POLLIN) exactly while the event is signalled. For poll();
    // reading or writing it directly would break the event's state.
    int Handle() const { return m_hEvent; }
    const std::string& Name() const { return m_strName; }

    // Signals the event: a manual-reset event releases every waiter and stays signalled until
    // Reset; an auto-reset event releases one waiter and resets itself.
    void Set();
    void Reset();
    // Releases the threads waiting at this moment (all for manual reset, one for auto reset) and
    // leaves the event not signalled. Threads that only poll() the handle do not see a pulse.
    void Pulse();

    // Waits at most `milliseconds` (0 tests without waiting, INFINITE waits without end); true
    // when signalled, false on time-out. An auto-reset event is reset by a successful wait.
    bool Wait(uint32_t milliseconds);
    // Waits without a limit.
    void Wait();

protected:
    // Creates the event's descriptor, signalled or not. Throws CWin32Exception ("CEvent::Create()").
    static int Create(bool manualReset, bool initiallySignalled, const char* name);

private:
    void WriteHandle(const char* where);
    void DrainHandle(const char* where);

    std::mutex m_lock;
    std::condition_variable m_changed;
    const bool m_bManualReset;
    bool m_bSignalled;
    uint64_t m_nPulses = 0;        // manual reset: count of pulses, so waiters see one happened
    uint32_t m_nWaiters = 0;       // threads inside Wait
    uint32_t m_nPulseReleases = 0; // auto reset: waiters a pulse has released and not yet woken
    std::string m_strName;
    int m_hEvent;
};

class CAutoEvent : public CEvent {
public:
    explicit CAutoEvent(bool initiallySignalled = false) : CEvent(false, initiallySignalled) {}
    CAutoEvent(const std::string& name, bool initiallySignalled) : CEvent(name, false, initiallySignalled) {}
};

class CManualEvent : public CEvent {
public:
    explicit CManualEvent(bool initiallySignalled = false) : CEvent(true, initiallySignalled) {}
    CManualEvent(const std::string& name, bool initiallySignalled) : CEvent(name, true, initiallySignalled) {}
};

// A critical section, re-entrant for the thread that holds it.
class CCritSection {
public:
    CCritSection() = default;
    CCritSection(const CCritSection&) = delete;
    CCritSection& operator=(const CCritSection&) = delete;

    void Enter() { m_mutex.lock(); }
    void Leave() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

// Holds a critical section for its lifetime, also when the scope is left by an exception.
class CCritSectionLock {
public:
    explicit CCritSectionLock(CCritSection& section) : m_section(section) { m_section.Enter(); }
    ~CCritSectionLock() { m_section.Leave(); }
    CCritSectionLock(const CCritSectionLock&) = delete;
    CCritSectionLock& operator=(const CCritSectionLock&) = delete;

private:
    CCritSection& m_section;
};

} // namespace Zorvik
