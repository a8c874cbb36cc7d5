// The batch upgrade window: one firmware for many recorders. A table with a row per recorder
// (address, port, MAC, phase, the recorder's percent, the ending), the files chosen once by the
// classifier's rules, one account for all, how many at once, Start, Stop and a CSV report.
//
// Each row runs one single upgrade (RunRecorderUpgrade) with its own session, connection, worker
// and view on a thread of the batch queue; its news arrives here as queued calls only, and no row
// ever shows a message box. Web pages and logo bitmaps are packed once, and the package is sent
// to every recorder.
#pragma once

#include "upgrade/BatchReport.h"
#include "upgrade/BatchRowReport.h"
#include "upgrade/FileStamp.h"
#include "upgrade/UpgradeSession.h"

#include <QDialog>
#include <QStringList>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class QLabel;
class QLayout;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class UpgradeStopper;

// A recorder to upgrade, as the list of recorders or a scan file names it.
struct BatchRecorder {
    std::string address;
    uint32_t port = 37777;
    std::string mac;
};

class CBatchUpgradeDlg : public QDialog {
    Q_OBJECT
public:
    enum Column { ColAddress, ColPort, ColMac, ColPhase, ColPercent, ColResult, ColumnCount };
    static constexpr int kDefaultAtOnce = 4;
    static constexpr int kMostAtOnce = 32;
    // Asked before a window that is still sending to recorders goes, whoever closes it.
    static constexpr const char* kCloseQuestion =
        "Recorders are still being upgraded. Stop them and close the window?";

    // `timings` and `loginWait` are those of every row's session.
    explicit CBatchUpgradeDlg(std::vector<BatchRecorder> recorders, QWidget* parent = nullptr,
                              SessionTimings timings = {},
                              std::chrono::milliseconds loginWait = std::chrono::seconds(10));
    ~CBatchUpgradeDlg() override;

    // The files to send, classified as Open files does; the classifier's messages are shown.
    // False (and no files) when they were refused.
    bool chooseFiles(const QStringList& paths);
    void setAccount(const QString& user, const QString& password);
    void setAtOnce(int count);
    // Start and Stop, as their buttons. Start does nothing without files or while running.
    void start();
    void stop();
    // Writes the report to `path`; false after a message when it cannot be written.
    bool saveReport(const QString& path);

    bool running() const { return m_batch != nullptr; }
    // Stops every recorder, burning ones included, and waits for the rows to end.
    void stopAll();
    QTableWidget* table() const { return m_table; }
    QString overallText() const;
    std::vector<BatchRecord> records() const { return m_records; }

    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct RowState {
        RecorderPhase phase = RecorderPhase::Waiting;
        int64_t total = 0;
        std::string lastError;
    };

    void buildLayout();
    QLayout* buildChoices();
    QTableWidget* buildTable();
    void openFiles();
    void askSaveReport();
    void rowEvent(size_t row, const BatchRowEvent& event);
    void rowEnded(size_t row, const BatchRowEvent& event);
    void showPhase(size_t row, const QString& text);
    void batchEnded();
    void updateOverall();
    void updateButtons();
    // Whether the window may close now; asks first while recorders are being upgraded, and stops
    // them when the answer is yes.
    bool mayClose();
    void finishBatch();
    bool buildSharedPackage(int button);
    int64_t bytesToSend() const;

    const SessionTimings m_timings;
    const std::chrono::milliseconds m_loginWait;
    std::vector<BatchRecorder> m_recorders;
    std::vector<BatchRecord> m_records;
    std::vector<RowState> m_rows;
    std::vector<std::string> m_files;
    QStringList m_fileList;          // the same, as chosen
    std::vector<FileStamp> m_stamps; // the files when they were chosen
    int m_button = 0;
    std::string m_package; // shared web or logo package while a batch runs

    std::unique_ptr<UpgradeStopper> m_stopper;
    std::unique_ptr<std::thread> m_batch;

    QLineEdit* m_fileText = nullptr;
    QLabel* m_kindText = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QSpinBox* m_atOnce = nullptr;
    QTableWidget* m_table = nullptr;
    QLabel* m_overall = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_save = nullptr;
};
