// The discovery engine's listener for the command line: the window's list and status line
// become a list of the recorders found and the last status text, which the commands wait for.
#pragma once

#include "discovery/DiscoveryEngine.h"
#include "discovery/ModifyResultWait.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class CCliDiscoveryListener final : public DiscoveryListener {
public:
    using Clock = std::chrono::steady_clock;

    void deviceAdded(const DeviceAddedNotice& notice) override;
    void statusText(const std::string& text) override;

    // The recorders found so far, in the order found.
    std::vector<DeviceAddedNotice> Devices() const;
    // Waits until a recorder whose MAC text is `mac` (letters in either case, ':' or '-' between
    // the pairs) has been found, or the deadline.
    std::optional<DeviceAddedNotice> WaitForMac(const std::string& mac, Clock::time_point deadline);
    // Forgets the status text; the next one is waited for by WaitForStatus.
    void ClearStatus();
    std::optional<std::string> WaitForStatus(Clock::time_point deadline);
    // Where the status texts go, for a wait that is shared with the window.
    ModifyResultWait& ModifyResults() { return m_status; }

    // The MAC text in one spelling: capitals, ':' between the pairs.
    static std::string NormalMac(const std::string& mac);

private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<DeviceAddedNotice> m_devices;
    ModifyResultWait m_status;
};
