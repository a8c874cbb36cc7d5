#include "discovery/ModifyResultWait.h"

void ModifyResultWait::post(const std::string& text) {
    {
        std::lock_guard lock(m_mutex);
        m_text = text;
    }
    m_posted.notify_all();
}

void ModifyResultWait::clear() {
    std::lock_guard lock(m_mutex);
    m_text.reset();
}

std::optional<std::string> ModifyResultWait::waitUntil(Clock::time_point deadline) {
    std::unique_lock lock(m_mutex);
    m_posted.wait_until(lock, deadline, [this] { return m_text.has_value(); });
    return m_text;
}
