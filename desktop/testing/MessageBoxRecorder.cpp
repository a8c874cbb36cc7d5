#include "desktop/testing/MessageBoxRecorder.h"

#include <QTest>

namespace desktop {

MessageBoxRecorder::MessageBoxRecorder()
    : m_previous(setMessageBoxHandler([this](const MessageBoxRequest& request) { return record(request); })) {
}

MessageBoxRecorder::~MessageBoxRecorder() {
    setMessageBoxHandler(std::move(m_previous));
}

int MessageBoxRecorder::record(const MessageBoxRequest& request) {
    m_entries.push_back(
        Entry{request.caption, request.text, request.type, request.fromGuiThread, request.owner.data()});
    if (m_onShow) {
        m_onShow(m_entries.back());
    }
    if (m_answers.empty()) {
        return m_defaultAnswer;
    }
    const int answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

QStringList MessageBoxRecorder::texts() const {
    QStringList list;
    for (const Entry& entry : m_entries) {
        list.append(entry.text);
    }
    return list;
}

bool MessageBoxRecorder::waitForCount(std::size_t n, int timeoutMs) const {
    return QTest::qWaitFor([&] { return m_entries.size() >= n; }, timeoutMs);
}

} // namespace desktop
