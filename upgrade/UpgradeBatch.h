// Many recorders' upgrades, a number at a time: the queue both the command line and the batch
// window run, and the one switch that stops it. Each recorder is its own single upgrade
// (RunRecorderUpgrade) with its own session, connection, worker and result; the queue hands out
// nothing but row numbers.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <set>

class CRecorderUpgradeView;

// The upgrades in progress, so that they can be stopped from another thread (a signal, the Stop
// button), and whether the queue may still start new ones.
class UpgradeStopper {
public:
    void Add(CRecorderUpgradeView* view);
    void Remove(CRecorderUpgradeView* view);
    // Stops every upgrade in progress and every one that starts later.
    void StopAll();
    // Starts no more upgrades and stops those still connecting, logging in or sending; those
    // whose files are all sent are left to finish and give their ending.
    void StopSending();
    // No new upgrade is to start.
    bool Stopped() const;

private:
    mutable std::mutex m_lock;
    std::set<CRecorderUpgradeView*> m_views;
    bool m_stopped = false;
};

// What the queue does with each row: `run` upgrades row i to its end and must not throw;
// `skipped` tells row i that it was never started because the batch was stopped first. Both are
// called on the queue's threads.
struct BatchRows {
    std::function<void(size_t row)> run;
    std::function<void(size_t row)> skipped;
};

// Runs rows 0 to count-1 in order, at most `jobs` at the same time (the calling thread is one
// of them), and returns when every row has ended or been skipped.
void RunUpgradeBatch(size_t count, unsigned jobs, const UpgradeStopper& stopper, const BatchRows& rows);
