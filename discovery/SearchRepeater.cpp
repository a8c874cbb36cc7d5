#include "discovery/SearchRepeater.h"

#include <algorithm>

void SearchRepeater::schedule(std::span<const std::chrono::milliseconds> delays) {
    std::unique_lock lock(m_mutex);
    cancelLocked(lock);
    if (delays.empty()) {
        return;
    }
    const Clock::time_point now = Clock::now();
    for (const auto delay : delays) {
        m_due.push_back(now + delay);
    }
    std::ranges::sort(m_due);
    if (!m_thread.joinable()) {
        m_bStop = false;
        m_thread = std::thread([this] { run(); });
    }
    m_changed.notify_all();
}

void SearchRepeater::cancel() {
    std::unique_lock lock(m_mutex);
    cancelLocked(lock);
}

void SearchRepeater::cancelLocked(std::unique_lock<std::mutex>& lock) {
    m_due.clear();
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return !m_bRunning; });
}

void SearchRepeater::stop() {
    {
        std::unique_lock lock(m_mutex);
        cancelLocked(lock);
        m_bStop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

unsigned SearchRepeater::runs() const {
    std::lock_guard lock(m_mutex);
    return m_runs;
}

void SearchRepeater::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_bStop) {
            return;
        }
        if (m_due.empty()) {
            m_changed.wait(lock);
            continue;
        }
        if (Clock::now() < m_due.front()) {
            // Woken early by a new schedule, a cancel or a stop, the loop looks again.
            m_changed.wait_until(lock, m_due.front());
            continue;
        }
        m_due.erase(m_due.begin());
        m_bRunning = true;
        ++m_runs;
        lock.unlock();
        m_action();
        lock.lock();
        m_bRunning = false;
        m_changed.notify_all();
    }
}
