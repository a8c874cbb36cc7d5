#include "discovery/cli/CliDiscoveryListener.h"

#include "discovery/ModifyIpPlan.h"

#include <algorithm>
#include <cctype>

void CCliDiscoveryListener::deviceAdded(const DeviceAddedNotice& notice) {
    std::lock_guard lock(m_lock);
    m_devices.push_back(notice);
    m_changed.notify_all();
}

void CCliDiscoveryListener::statusText(const std::string& text) {
    m_status.post(text);
}

std::vector<DeviceAddedNotice> CCliDiscoveryListener::Devices() const {
    std::lock_guard lock(m_lock);
    return m_devices;
}

std::string CCliDiscoveryListener::NormalMac(const std::string& mac) {
    return normalMac(mac);
}

std::optional<DeviceAddedNotice> CCliDiscoveryListener::WaitForMac(const std::string& mac,
                                                                   Clock::time_point deadline) {
    const std::string wanted = NormalMac(mac);
    std::unique_lock lock(m_lock);
    std::optional<DeviceAddedNotice> found;
    m_changed.wait_until(lock, deadline, [&] {
        auto it = std::find_if(m_devices.begin(), m_devices.end(),
                               [&](const DeviceAddedNotice& n) { return NormalMac(n.macText) == wanted; });
        if (it != m_devices.end()) {
            found = *it;
        }
        return found.has_value();
    });
    return found;
}

void CCliDiscoveryListener::ClearStatus() {
    m_status.clear();
}

std::optional<std::string> CCliDiscoveryListener::WaitForStatus(Clock::time_point deadline) {
    return m_status.waitUntil(deadline);
}
