#pragma once

#include "desktop/MessageBox.h"

#include <deque>
#include <functional>
#include <vector>

// Stands in for message boxes while it exists: every box is recorded instead of shown and answered
// at once. Boxes asked for by worker threads are still handed to the window thread first, so a
// test must keep the event loop running (waitForCount does) while a worker waits for its answer.

namespace desktop {

class MessageBoxRecorder {
public:
    struct Entry {
        QString caption;
        QString text;
        unsigned type = MB_OK;
        bool fromGuiThread = false;
        const QWidget* owner = nullptr;

        unsigned buttons() const { return type & MB_TYPEMASK; }
        unsigned icon() const { return type & MB_ICONMASK; }
    };

    MessageBoxRecorder();
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    // The answer to every box not given one by queueAnswer (IDOK at first).
    void answerWith(int id) { m_defaultAnswer = id; }
    // The answer to the next box; several queue up in order.
    void queueAnswer(int id) { m_answers.push_back(id); }
    // Runs for each box before it is answered, on the window thread, as if the box were open.
    void onShow(std::function<void(const Entry&)> action) { m_onShow = std::move(action); }

    const std::vector<Entry>& entries() const { return m_entries; }
    std::size_t count() const { return m_entries.size(); }
    // The latest entry; an empty one when there is none.
    Entry last() const { return m_entries.empty() ? Entry{} : m_entries.back(); }
    // The texts in order, for compact assertions.
    QStringList texts() const;
    void clear() { m_entries.clear(); }

    // Runs the event loop until at least n boxes have been recorded or timeoutMs has passed.
    bool waitForCount(std::size_t n, int timeoutMs = 5000) const;

private:
    int record(const MessageBoxRequest& request);

    std::vector<Entry> m_entries;
    std::deque<int> m_answers;
    int m_defaultAnswer = IDOK;
    std::function<void(const Entry&)> m_onShow;
    MessageBoxHandler m_previous;
};

} // namespace desktop
