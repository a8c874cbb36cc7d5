// What one row's upgrade tells, carried to the batch window's thread as queued calls: the row's
// threads never wait for the window, and nothing of one row reaches another's.
#pragma once

#include "upgrade/RecorderUpgradeReport.h"
#include "upgrade/UpgradeResult.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// One piece of news of a row, stamped where it happened.
struct BatchRowEvent {
    enum class Kind { Phase, Progress, Error, Ended };
    Kind kind = Kind::Phase;
    RecorderPhase phase = RecorderPhase::Waiting;
    int percent = 0;
    int64_t bytesSent = 0;
    std::string text;                    // Error: the line
    std::optional<UpgradeResult> result; // Ended: none when the upgrade gave no ending
    std::chrono::system_clock::time_point when = std::chrono::system_clock::now();
};

class CBatchRowReport final : public CRecorderUpgradeReport {
public:
    using Sink = std::function<void(size_t row, const BatchRowEvent& event)>;
    // `sink` runs on the thread of `receiver`, and not at all once `receiver` is gone.
    CBatchRowReport(QObject* receiver, size_t row, Sink sink);

    void Line(const std::string&) override {}
    void ErrorLine(const std::string& text) override;
    void Phase(RecorderPhase phase) override;
    void Progress(RecorderPhase phase, int percent, int64_t bytesSent) override;
    void ProgressEnded() override {}
    void Ended(const std::optional<UpgradeResult>& result, const std::string& why = {});

private:
    void Post(BatchRowEvent event);

    QObject* const m_receiver;
    const size_t m_row;
    Sink m_sink;
};
