#pragma once

#include "discovery/DeviceMarks.h"
#include "discovery/DiscoveryEngine.h"
#include "discovery/ModifyResultWait.h"

#include "desktop/TemplateDialog.h"

#include <QColor>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <thread>

namespace desktop {
class ListViewControl;
}
class AssignAddressesDialog;
class CBatchUpgradeDlg;

struct DiscoveryWindowOptions {
    DiscoveryEngineConfig engine;
    // Shows the Add button, which the window otherwise keeps hidden.
    bool showAddButton = false;
    // Asks where "Export list..." saves the list, starting from the path suggested; an empty
    // answer cancels. Unset: a save dialog asks.
    std::function<QString(QWidget* parent, const QString& suggested)> chooseExportPath;
    // This computer's addresses and subnets, against which rows are marked. Unset: the
    // interfaces as the system lists them.
    std::function<std::vector<LocalNetwork>()> localNetworks;
};

// Pellory's main window: the recorders the discovery engine finds, the status line that shows
// the answers to address changes, and the commands Refresh, Modify IP and (hidden unless asked
// for) Add, which registers a recorder in the client's data file.
//
// Each list row carries the index of its row in the engine's device table, and every command acts
// on that index, never on the row's place in the list, so the list may be reordered without the
// commands losing their recorder. A click on a column heading sorts the list by that column; rows
// found later go straight to their sorted place. The list's context menu opens a recorder's web
// page, copies its address or MAC address, and exports the list as CSV; none of it touches the
// status line, which shows only the answers to address changes. A row whose address another row
// or this computer uses, or that lies outside this computer's subnets, is marked with a colour and
// a tooltip that says why.
//
// The engine reports on its own thread; its reports are queued to this window's thread. A login
// waits for the recorder on a worker thread while the window keeps drawing and adding rows but
// takes no command, under a busy cursor.
class DiscoveryDialog : public desktop::TemplateDialog, public DiscoveryListener {
    Q_OBJECT
public:
    static constexpr int IDD = 102;
    static constexpr int IDC_DEVICE_LIST = 1001;
    static constexpr int IDC_ADD = 1002;
    static constexpr int IDC_REFRESH = 1015;
    static constexpr int IDC_MODIFY_IP = 1020;
    static constexpr int IDC_STATUS = 1031;

    // List columns.
    enum Column { ColumnNumber, ColumnAddress, ColumnPort, ColumnMask, ColumnGateway, ColumnMac };

    // The window's background, behind the status line's red text.
    static constexpr QColor kBackground{198, 206, 225};
    static constexpr QColor kStatusText{255, 0, 0};

    // The command text that needs a selected recorder and has none.
    static constexpr const char* kSelectDeviceText = "Pleae select one device at least.";
    static constexpr const char* kSelectOneDeviceText = "Please select only one device to modify its IP.";

    // The entries of the list's context menu.
    static constexpr const char* kOpenWebPageText = "Open web page";
    static constexpr const char* kCopyAddressText = "Copy address";
    static constexpr const char* kCopyMacText = "Copy MAC address";
    static constexpr const char* kExportListText = "Export list...";
    static constexpr const char* kUpgradeText = "Upgrade...";
    static constexpr const char* kAssignAddressesText = "Assign addresses...";
    // Upgrade refused: two selected rows answer at the same address and port.
    static constexpr const char* kSharedAddressText =
        "More than one selected recorder answers at %1:%2. Give each its own address (Modify IP) "
        "before upgrading them.";
    static constexpr const char* kCloseWhileAssigningText =
        "Addresses are being assigned. Stop after the recorder being changed and close Pellory once "
        "the results are read?";

    using Options = DiscoveryWindowOptions;

    static const desktop::DialogTemplate& dialogTemplate();

    explicit DiscoveryDialog(const Options& options = {}, QWidget* parent = nullptr);
    ~DiscoveryDialog() override;

    desktop::ListViewControl* deviceList() const;
    QString statusLine() const;
    // The engine row behind a list row; nullopt for a row that does not exist.
    std::optional<std::size_t> engineRow(int listRow) const;
    // Whether a login is waiting for its recorder.
    bool isBusy() const { return m_busy; }
    DiscoveryEngine& engine() { return m_engine; }
    // Opens the batch upgrade window with the selected recorders (address, port, MAC), and
    // returns it; null when none is selected, or after a message when two share an address.
    CBatchUpgradeDlg* upgradeSelected();

signals:
    // A list row was added for the engine's row.
    void rowAdded(int listRow);
    // A login has ended, whatever its outcome, and the window takes commands again.
    void loginEnded();

protected:
    void onInitDialog() override;
    void onCommand(int id) override;
    void onClose() override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

public:
    // Keeps the window's size for the next run before the window ends; a batch window still
    // sending asks first, and No keeps both windows open.
    void done(int result) override;

    // Where the window's size is kept: the program's own settings.
    static constexpr const char* kSettingsName = "Pellory";

public:
    // DiscoveryListener: called on the engine's notifier thread, queued to the window's.
    void deviceAdded(const DeviceAddedNotice& notice) override;
    void statusText(const std::string& text) override;

private:
    // Whether the batch windows opened from the list may end: asks while any still sends, and
    // stops them all on yes.
    bool mayEndBatches();
    void addRow(const DeviceAddedNotice& notice);
    // The list takes every pixel beyond the template's size; the controls below it follow.
    void placeControls();
    void restoreWindowSize();
    void setStatusLine(const QString& text);
    void onRefresh();
    void readLocalNetworks();
    void onModifyIp();
    void onAdd();
    void onListDoubleClicked();
    // The list's context menu for the list row it was opened on (-1: none), at globalPos.
    void showListMenu(int listRow, const QPoint& globalPos);
    void exportList();
    void assignAddresses();
    void showAbout();
    // The engine row of the list's selection mark, after telling the user when there is none.
    std::optional<std::size_t> selectedEngineRow();

    void beginLogin(std::size_t row, const QString& userName, const QString& password);
    void endLogin(std::size_t row, std::uint64_t generation, const DiscoveryEngine::LoginOutcome& outcome);
    void modifyAddresses(std::size_t row);

    const Options m_options;
    DiscoveryEngine m_engine;
    bool m_busy = false;
    bool m_userChoseRow = false;
    // The address assigning open over the window, and whether the window closes after it.
    AssignAddressesDialog* m_assigning = nullptr;
    bool m_closeAfterAssigning = false;
    std::thread m_loginThread;
    // Every status text, for the address assigning that waits for each answer on its worker.
    ModifyResultWait m_modifyResults;
    // Where the last export went, offered again for the next.
    QString m_exportPath;
    // Read when the list starts empty, not for every row of a burst of replies.
    std::vector<LocalNetwork> m_localNetworks;
};
