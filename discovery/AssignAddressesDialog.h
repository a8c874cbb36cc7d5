#pragma once

#include "discovery/ModifyIpPlan.h"
#include "discovery/RecorderChange.h"

#include "desktop/TemplateDialog.h"

#include <chrono>
#include <cstdint>
#include <thread>
#include <unordered_set>
#include <vector>

class DiscoveryEngine;
class ModifyResultWait;

namespace desktop {
class ListViewControl;
}

// What the window hands to the dialog: its engine, where the engine's status texts arrive, the
// recorders chosen and every recorder listed.
struct AssignAddressesSetup {
    DiscoveryEngine* engine = nullptr;
    ModifyResultWait* modifyResults = nullptr;
    std::vector<ListedRecorder> chosen; // numbered in this order
    std::vector<ListedRecorder> listed; // every row of the list: their addresses are taken
    std::uint64_t generation = 0;       // the engine's table the rows belong to
    std::unordered_set<std::uint32_t> machineAddresses;
    std::uint32_t mask = 0; // shown at first
    std::uint32_t gateway = 0;
    // Each recorder's login and the answer to its new settings, together.
    std::chrono::milliseconds timeout{10000};
};

// New addresses for the recorders chosen in the list, numbered from a first address and passing
// over every address a listed recorder or this machine uses. The table shows each recorder's MAC
// address, current address and new address while the boxes are typed in; nothing is sent before
// Start. Start logs in to each recorder in turn and gives it its new settings, showing each
// result as it comes; Stop (or closing the dialog) ends the run before the next recorder, never
// between a recorder's login and its new address.
//
// Each recorder is changed on a worker thread of its own while the dialog keeps drawing; its
// result is queued back to the dialog's thread, which then starts the next.
class AssignAddressesDialog : public desktop::TemplateDialog {
    Q_OBJECT
public:
    static constexpr int IDD = 141;
    static constexpr int IDC_FIRST_ADDRESS = 1101;
    static constexpr int IDC_SUBNET_MASK = 1102;
    static constexpr int IDC_GATEWAY = 1103;
    static constexpr int IDC_USERNAME = 1104;
    static constexpr int IDC_PASSWORD = 1105;
    static constexpr int IDC_RECORDERS = 1106;
    static constexpr int IDC_START = 1107;
    static constexpr int IDC_STOP = 1108;

    enum Column { ColumnMac, ColumnAddress, ColumnNewAddress, ColumnResult };

    static const desktop::DialogTemplate& dialogTemplate();

    explicit AssignAddressesDialog(AssignAddressesSetup setup, QWidget* parent = nullptr);
    ~AssignAddressesDialog() override;

    desktop::ListViewControl* recorderList() const;
    bool isRunning() const { return m_running; }
    // As Stop: the recorder being changed is let finish, the others are left.
    void stopAfterCurrent();

signals:
    // The result of the recorder in this table row is shown.
    void resultShown(int row);
    // The run has ended: every recorder done, or the rest left after a stop.
    void runEnded();

protected:
    void onInitDialog() override;
    void doDataExchange(desktop::DataExchange& exchange) override;
    void onCommand(int id) override;
    void onCancel() override;

private:
    // The new address column as the boxes now number the recorders; blank while they do not.
    void showPlan();
    // The plan the boxes give, checked whole; empty after telling the technician why not.
    std::vector<PlannedChange> checkedPlan();
    void refuse(const std::string& text, int box);
    // The recorders listed, with those that answered since the dialog opened: their addresses are
    // taken too.
    std::vector<ListedRecorder> listedNow() const;
    void start();
    void changeNext();
    void changed(const ChangeResult& result);
    void endRun();

    const AssignAddressesSetup m_setup;
    std::uint32_t m_dwFirstAddress = 0;
    std::uint32_t m_dwMask = 0;
    std::uint32_t m_dwGateway = 0;
    QString m_strUserName;
    QString m_strPassword;

    std::vector<PlannedChange> m_changes;
    std::size_t m_next = 0;
    bool m_running = false;
    bool m_stopRequested = false;
    bool m_closeWhenDone = false;
    std::thread m_worker;
};
