#pragma once

// What the engine tests share: a listener that keeps every notification, an engine that counts
// the datagrams it has handled, and recorder records with opaque bytes that must come back.

#include "discovery/DiscoveryEngine.h"
#include "tests/discovery/FakeRecorder.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace enginetest {

// Keeps every notification; a test can hold deviceAdded at a gate to play a slow window.
class RecordingListener : public DiscoveryListener {
public:
    void deviceAdded(const DeviceAddedNotice& notice) override {
        std::unique_lock lock(m_mutex);
        ++m_waitingAtGate;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_gateClosed; });
        --m_waitingAtGate;
        if (m_closedReturned.load()) {
            ++m_callsAfterClose;
        }
        m_devices.push_back(notice);
        m_changed.notify_all();
    }

    void statusText(const std::string& text) override {
        std::lock_guard lock(m_mutex);
        if (m_closedReturned.load()) {
            ++m_callsAfterClose;
        }
        m_statuses.push_back(text);
        m_changed.notify_all();
    }

    void closeGate() {
        std::lock_guard lock(m_mutex);
        m_gateClosed = true;
    }

    void openGate() {
        {
            std::lock_guard lock(m_mutex);
            m_gateClosed = false;
        }
        m_changed.notify_all();
    }

    // Waits until a deviceAdded call is held at the closed gate.
    bool waitHeldAtGate() {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kGuard, [&] { return m_gateClosed && m_waitingAtGate > 0; });
    }

    bool waitDevices(std::size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kGuard, [&] { return m_devices.size() >= count; });
    }

    bool waitStatuses(std::size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kGuard, [&] { return m_statuses.size() >= count; });
    }

    std::vector<DeviceAddedNotice> devices() const {
        std::lock_guard lock(m_mutex);
        return m_devices;
    }

    std::vector<std::string> statuses() const {
        std::lock_guard lock(m_mutex);
        return m_statuses;
    }

    // Marks the engine as closed: any call from now on breaks the listener contract.
    void engineClosed() { m_closedReturned.store(true); }
    void engineStarted() { m_closedReturned.store(false); }
    int callsAfterClose() const {
        std::lock_guard lock(m_mutex);
        return m_callsAfterClose;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_gateClosed = false;
    int m_waitingAtGate = 0;
    std::vector<DeviceAddedNotice> m_devices;
    std::vector<std::string> m_statuses;
    std::atomic<bool> m_closedReturned{false};
    int m_callsAfterClose = 0;
};

// The engine with a count of datagrams it has handled, so a test can wait until a datagram that
// makes no notification (a duplicate, an ignored result, its own echo) has been dealt with.
class CountingEngine : public DiscoveryEngine {
public:
    using DiscoveryEngine::DiscoveryEngine;
    ~CountingEngine() override { close(); } // the receive thread uses the members below

    bool waitHandled(std::uint64_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kGuard, [&] { return m_handled >= count; });
    }

protected:
    void onDatagram(const std::uint8_t* bytes, std::size_t length) override {
        DiscoveryEngine::onDatagram(bytes, length);
        {
            std::lock_guard lock(m_mutex);
            ++m_handled;
        }
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_handled = 0;
};

inline DeviceNetRecord recordFor(std::uint32_t address, std::uint16_t port) {
    DeviceNetRecord record;
    for (std::size_t i = 0; i < record.bytes.size(); ++i) {
        record.bytes[i] = std::uint8_t(0x80 + i); // opaque bytes that must come back unchanged
    }
    record.setAddress(address);
    record.setMask(0xFFFFFF00);
    record.setGateway((address & 0xFFFFFF00) | 1);
    record.setPort(port);
    return record;
}

// A configuration without repeated searches, for tests that count what the recorder hears.
inline DiscoveryEngineConfig quiet(DiscoveryEngineConfig config) {
    config.searchRepeats.clear();
    return config;
}

inline constexpr std::uint32_t kRecorderA = 0xC0A8016C; // 192.168.1.108 (only ever inside datagrams)
inline constexpr std::uint32_t kRecorderB = 0xC0A8016D;

} // namespace enginetest
