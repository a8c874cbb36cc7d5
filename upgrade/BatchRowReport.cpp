#include "upgrade/BatchRowReport.h"

#include <QMetaObject>

CBatchRowReport::CBatchRowReport(QObject* receiver, size_t row, Sink sink)
    : m_receiver(receiver), m_row(row), m_sink(std::move(sink)) {}

void CBatchRowReport::Post(BatchRowEvent event) {
    // Queued: the receiver drops the call when it is gone before the call runs.
    QMetaObject::invokeMethod(
        m_receiver, [sink = m_sink, row = m_row, event = std::move(event)] { sink(row, event); },
        Qt::QueuedConnection);
}

void CBatchRowReport::ErrorLine(const std::string& text) {
    BatchRowEvent event;
    event.kind = BatchRowEvent::Kind::Error;
    event.text = text;
    Post(std::move(event));
}

void CBatchRowReport::Phase(RecorderPhase phase) {
    BatchRowEvent event;
    event.phase = phase;
    Post(std::move(event));
}

void CBatchRowReport::Progress(RecorderPhase phase, int percent, int64_t bytesSent) {
    BatchRowEvent event;
    event.kind = BatchRowEvent::Kind::Progress;
    event.phase = phase;
    event.percent = percent;
    event.bytesSent = bytesSent;
    Post(std::move(event));
}

void CBatchRowReport::Ended(const std::optional<UpgradeResult>& result, const std::string& why) {
    BatchRowEvent event;
    event.text = why;
    event.kind = BatchRowEvent::Kind::Ended;
    event.phase = RecorderPhase::Ended;
    event.result = result;
    Post(std::move(event));
}
