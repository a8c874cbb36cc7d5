#include "desktop/KeySequenceFilter.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include <algorithm>

namespace desktop {

KeySequenceFilter::KeySequenceFilter(QWidget* window, std::vector<int> keys)
    : QObject(window), m_window(window), m_keys(std::move(keys)) {
    // Watching the application, not each control, also covers controls made later.
    qApp->installEventFilter(this);
}

bool KeySequenceFilter::isInWindow(const QWidget* widget) const {
    return m_window && widget != nullptr && (widget == m_window || m_window->isAncestorOf(widget));
}

bool KeySequenceFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || m_keys.empty() || !watched->isWidgetType()) {
        return false;
    }
    auto* receiver = static_cast<QWidget*>(watched);
    if (!isInWindow(receiver)) {
        return false;
    }
    const int key = static_cast<QKeyEvent*>(event)->key();
    // isAncestorOf also holds for the widget itself, and a new press to the same widget may
    // reuse the address of the last one.
    const bool propagated = event == m_lastEvent && key == m_lastKey && m_lastReceiver &&
                            receiver != m_lastReceiver && receiver->isAncestorOf(m_lastReceiver);
    m_lastEvent = event;
    m_lastKey = key;
    m_lastReceiver = receiver;
    if (propagated) {
        return false;
    }

    // Once the sequence has matched, its last key alone matches again.
    const std::size_t next = std::min(m_progress, m_keys.size() - 1);
    if (key == m_keys[next]) {
        m_progress = next + 1;
        if (m_progress == m_keys.size()) {
            emit matched();
        }
    }
    return false;
}

} // namespace desktop
