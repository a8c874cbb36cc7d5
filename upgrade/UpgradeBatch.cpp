#include "upgrade/UpgradeBatch.h"

#include "upgrade/RecorderUpgradeView.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

void UpgradeStopper::Add(CRecorderUpgradeView* view) {
    std::lock_guard lock(m_lock);
    m_views.insert(view);
    // A stopped batch starts no new row; one already starting when the stop came is ended at once.
    if (m_stopped) {
        view->RequestStop();
    }
}

void UpgradeStopper::Remove(CRecorderUpgradeView* view) {
    std::lock_guard lock(m_lock);
    m_views.erase(view);
}

void UpgradeStopper::StopAll() {
    std::lock_guard lock(m_lock);
    m_stopped = true;
    for (CRecorderUpgradeView* view : m_views) {
        view->RequestStop();
    }
}

void UpgradeStopper::StopSending() {
    std::lock_guard lock(m_lock);
    m_stopped = true;
    for (CRecorderUpgradeView* view : m_views) {
        view->RequestStopUnlessBurning();
    }
}

bool UpgradeStopper::Stopped() const {
    std::lock_guard lock(m_lock);
    return m_stopped;
}

void RunUpgradeBatch(size_t count, unsigned jobs, const UpgradeStopper& stopper, const BatchRows& rows) {
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t row = next++; row < count; row = next++) {
            if (stopper.Stopped()) {
                rows.skipped(row);
            } else {
                rows.run(row);
            }
        }
    };
    const size_t helpers = std::min<size_t>(std::max(jobs, 1u), std::max<size_t>(count, 1)) - 1;
    std::vector<std::thread> threads;
    threads.reserve(helpers);
    for (size_t j = 0; j < helpers; ++j) {
        threads.emplace_back(work);
    }
    work();
    for (auto& t : threads) {
        t.join();
    }
}
