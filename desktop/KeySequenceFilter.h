#pragma once

#include <QObject>
#include <QPointer>

#include <vector>

class QWidget;

// A hidden key sequence: watches every key press that reaches a window, in any of its controls,
// before the control handles it, and emits matched() when the keys have been pressed in order.
// Other keys may come between them, and progress is never undone: with the sequence Q, J, the
// keys Q, X, Y, J match, J alone does not, and after a match each further J matches again. The
// keys themselves go on to the controls unchanged.

namespace desktop {

class KeySequenceFilter : public QObject {
    Q_OBJECT
public:
    // keys are Qt::Key values; a letter matches with or without Shift.
    KeySequenceFilter(QWidget* window, std::vector<int> keys);

    // How many keys of the sequence have been seen in order (all of them once it has matched).
    std::size_t progress() const { return m_progress; }

signals:
    void matched();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isInWindow(const QWidget* widget) const;

    QPointer<QWidget> m_window;
    std::vector<int> m_keys;
    std::size_t m_progress = 0;
    // A key press that a control ignores travels on to its parents as the same event; it counts
    // once, when it reaches its first receiver.
    const QEvent* m_lastEvent = nullptr;
    int m_lastKey = 0;
    QPointer<QWidget> m_lastReceiver;
};

} // namespace desktop
