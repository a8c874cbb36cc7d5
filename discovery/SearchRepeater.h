#pragma once

// Runs an action again after given delays, on a thread of its own, until told otherwise.
//
// A search reply can be lost when many recorders answer at once; a recorder that hears the
// search again answers again. The engine therefore sends each search at once and lets this
// class send it again a little later, without making its caller wait.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

class SearchRepeater {
public:
    using Clock = std::chrono::steady_clock;

    explicit SearchRepeater(std::function<void()> action) : m_action(std::move(action)) {}
    ~SearchRepeater() { stop(); }
    SearchRepeater(const SearchRepeater&) = delete;
    SearchRepeater& operator=(const SearchRepeater&) = delete;

    // Cancels what is pending and runs the action once after each delay, counted from now.
    void schedule(std::span<const std::chrono::milliseconds> delays);
    // Drops what is pending. An action already running finishes before this returns, so none
    // runs once it has returned until the next schedule().
    void cancel();
    // Cancels and ends the thread. schedule() starts it again.
    void stop();
    // How many times the action has been started (for tests).
    unsigned runs() const;

private:
    void run();
    void cancelLocked(std::unique_lock<std::mutex>& lock);

    const std::function<void()> m_action;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Clock::time_point> m_due; // ascending
    bool m_bStop = false;
    bool m_bRunning = false; // the action is running, outside the lock
    unsigned m_runs = 0;
    std::thread m_thread;
};
