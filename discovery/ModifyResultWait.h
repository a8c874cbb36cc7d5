#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

// The answer to a modify-IP request as the engine reports it (a status text), kept for whoever
// waits for it: a listener posts every status text here on the engine's notifier thread, and the
// thread that sent the request waits, without needing the listener's own thread to run.
class ModifyResultWait {
public:
    using Clock = std::chrono::steady_clock;

    // A status text from the engine. Any thread.
    void post(const std::string& text);
    // Forgets the last text: called before a request is sent, so that only its own answer counts.
    void clear();
    // The text posted since the last clear(), waiting for it until the deadline; nullopt when
    // none came in time.
    std::optional<std::string> waitUntil(Clock::time_point deadline);

private:
    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::optional<std::string> m_text;
};
