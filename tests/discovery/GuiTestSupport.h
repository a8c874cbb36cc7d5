#pragma once

// Helpers for the Pellory window tests: a script that answers modal dialogs as they open, the main
// window's list menu driven for real, and a fake network of recorders on loopback that the tests
// tell how to answer.

#include "discovery/DiscoveryDialog.h"
#include "discovery/DiscoveryProtocol.h"
#include "tests/discovery/FakeRecorder.h"

#include "desktop/ListViewControl.h"
#include "desktop/TemplateDialog.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

// Answers the modal dialogs a command opens, one step per dialog shown, in order. Each step names
// the dialog class it expects and what to do with it (fill fields, press a button). A step's action
// runs from the event loop of the dialog it is given, so it may open a further modal dialog that a
// later step answers.
class DialogScript {
public:
    DialogScript() {
        m_timer.setInterval(2);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start();
    }

    template <class Dialog> DialogScript& then(std::function<void(Dialog&)> action) {
        m_steps.push_back(Step{[](QWidget* widget) { return qobject_cast<Dialog*>(widget) != nullptr; },
                               [action](QWidget* widget) { action(*qobject_cast<Dialog*>(widget)); }});
        return *this;
    }

    // Every step has been taken and its action has returned.
    bool done() const { return m_steps.empty() && m_running == 0; }
    // Runs the event loop until every step is done; false when the time ran out first.
    bool waitDone(int timeoutMs = 10000) const {
        return QTest::qWaitFor([this] { return done(); }, timeoutMs);
    }
    // The class names of the modal dialogs that did not match the step waiting for them.
    const std::vector<std::string>& unexpected() const { return m_unexpected; }

private:
    struct Step {
        std::function<bool(QWidget*)> matches;
        std::function<void(QWidget*)> run;
    };

    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible() || modal == m_claimed) {
            return;
        }
        if (m_steps.empty() || !m_steps.front().matches(modal)) {
            if (m_unexpected.empty() || m_unexpected.back() != modal->metaObject()->className()) {
                m_unexpected.push_back(modal->metaObject()->className());
            }
            return;
        }
        // The step is taken now and run from the event loop: a timer's handler is never
        // re-entered, so an action that opens another dialog must not run inside this one.
        Step step = m_steps.front();
        m_steps.pop_front();
        m_claimed = modal;
        ++m_running;
        // The dialog stays claimed while its action runs: an action that waits inside it (for a run
        // to end, say) does not make it a dialog nobody expected.
        QTimer::singleShot(0, &m_timer, [this, step, target = QPointer<QWidget>(modal)] {
            if (target) {
                step.run(target);
            }
            m_claimed = nullptr;
            --m_running;
        });
    }

    QTimer m_timer;
    std::deque<Step> m_steps;
    std::vector<std::string> m_unexpected;
    QPointer<QWidget> m_claimed;
    int m_running = 0;
};

// Clicks the dialog's button `id` as the technician does.
inline void press(desktop::TemplateDialog& dialog, int id) {
    dialog.itemAs<QPushButton>(id)->click();
}

// Opens the main window's list menu as a right click at `at` (in the list's viewport) does, or as
// the menu key does, and hands the menu, once shown, to `use`, which must close it.
inline void withListMenu(DiscoveryDialog& dialog, QPoint at, const std::function<void(QMenu&)>& use,
                         QContextMenuEvent::Reason reason = QContextMenuEvent::Mouse) {
    desktop::ListViewControl* list = dialog.deviceList();
    bool used = false;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu != nullptr && menu->isVisible() && !used) {
            used = true;
            use(*menu);
        }
    });
    poll.start();
    QContextMenuEvent event(reason, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(reason == QContextMenuEvent::Mouse ? static_cast<QWidget*>(list->viewport())
                                                               : static_cast<QWidget*>(list),
                            &event);
    EXPECT_TRUE(used) << "no menu was shown";
}

// Chooses the entry with this text as the keyboard does.
inline std::function<void(QMenu&)> choose(const char* text) {
    return [text](QMenu& menu) {
        for (QAction* action : menu.actions()) {
            if (action->text() == QString::fromUtf8(text)) {
                ASSERT_TRUE(action->isEnabled()) << text;
                menu.setActiveAction(action);
                QTest::keyClick(&menu, Qt::Key_Return);
                return;
            }
        }
        ADD_FAILURE() << "no entry " << text;
        menu.close();
    };
}

// One simulated recorder as the fake network plays it.
struct FakeDevice {
    std::uint32_t address;
    std::uint16_t port;
    std::uint32_t mask;
    std::uint32_t gateway;
    std::string mac;
};

// Several recorders behind one loopback socket: every search is answered with one reply per
// recorder, logins with the configured result, modify-IP requests with the configured results.
class FakeNetwork {
public:
    FakeNetwork() {
        m_recorder.setHandler([this](const Datagram& request) { return answer(request); });
    }

    std::uint16_t port() const { return m_recorder.port(); }
    FakeRecorder& recorder() { return m_recorder; }

    void setDevices(std::vector<FakeDevice> devices) {
        std::lock_guard lock(m_mutex);
        m_devices = std::move(devices);
    }
    // nullopt: logins go unanswered.
    void setLoginAnswer(std::optional<std::pair<std::uint8_t, std::uint8_t>> answer) {
        std::lock_guard lock(m_mutex);
        m_login = answer;
    }
    // The datagrams sent back for each modify-IP request.
    void setModifyAnswer(std::vector<Datagram> replies) {
        std::lock_guard lock(m_mutex);
        m_modify = std::move(replies);
    }

    // The requests of one command byte received so far, in order.
    std::vector<Datagram> requests(std::uint8_t command) const {
        std::vector<Datagram> found;
        for (const Datagram& request : m_recorder.requests()) {
            if (!request.empty() && request[0] == command) {
                found.push_back(request);
            }
        }
        return found;
    }

    static DeviceNetRecord recordOf(const FakeDevice& device) {
        DeviceNetRecord record;
        for (std::size_t i = 0; i < record.bytes.size(); ++i) {
            record.bytes[i] = std::uint8_t(0x40 + i);
        }
        record.setAddress(device.address);
        record.setMask(device.mask);
        record.setGateway(device.gateway);
        record.setPort(device.port);
        return record;
    }

private:
    std::vector<Datagram> answer(const Datagram& request) {
        std::lock_guard lock(m_mutex);
        std::vector<Datagram> replies;
        switch (request.empty() ? 0 : request[0]) {
        case DISC_SEARCH:
            for (const FakeDevice& device : m_devices) {
                replies.push_back(buildSearchReply(recordOf(device), DeviceIdentity::fromText(device.mac)));
            }
            break;
        case DISC_LOGIN:
            if (m_login) {
                replies.push_back(buildLoginReply(m_login->first, m_login->second));
            }
            break;
        case DISC_MODIFY_IP:
            replies = m_modify;
            break;
        default:
            break;
        }
        return replies;
    }

    mutable std::mutex m_mutex;
    std::vector<FakeDevice> m_devices;
    std::optional<std::pair<std::uint8_t, std::uint8_t>> m_login{{0, 0}};
    std::vector<Datagram> m_modify{buildModifyIpReply(0)};
    FakeRecorder m_recorder;
};
