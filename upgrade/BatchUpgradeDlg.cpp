#include "upgrade/BatchUpgradeDlg.h"

#include "desktop/MessageBox.h"
#include "package/UpgradePackage.h"
#include "support/VisibleText.h"
#include "upgrade/RecorderUpgrade.h"
#include "upgrade/UpgradeBatch.h"
#include "upgrade/UpgradeIds.h"
#include "upgrade/UpgradeProtocol.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <filesystem>

namespace {

constexpr const char* kWindowTitle = "Batch Upgrade";
constexpr const char* kNotStarted = "Not started: the batch was stopped.";

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

QString Megabytes(int64_t bytes) {
    return QString::number(static_cast<double>(bytes) / 1e6, 'f', 1) + QStringLiteral(" MB");
}

QString PhaseWord(RecorderPhase phase) {
    switch (phase) {
    case RecorderPhase::Waiting:
        return QStringLiteral("waiting");
    case RecorderPhase::Connecting:
        return QStringLiteral("connecting");
    case RecorderPhase::LoggingIn:
        return QStringLiteral("logging in");
    case RecorderPhase::Sending:
        return QStringLiteral("sending");
    case RecorderPhase::Burning:
        return QStringLiteral("burning");
    case RecorderPhase::Ended:
        return QStringLiteral("ended");
    }
    return {};
}

bool Failed(const BatchRecord& record) {
    return !record.result || record.result->ending != UpgradeEnding::Success;
}

unsigned MessageType(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Error:
        return desktop::MB_OK | desktop::MB_ICONERROR;
    case MessageIcon::Information:
        return desktop::MB_OK | desktop::MB_ICONINFORMATION;
    case MessageIcon::Exclamation:
        break;
    }
    return desktop::MB_OK | desktop::MB_ICONEXCLAMATION;
}

// Says nothing: the classifier's messages come back with its choice, and the window shows them.
class CQuietReport final : public CRecorderUpgradeReport {
public:
    void Line(const std::string&) override {}
    void ErrorLine(const std::string&) override {}
    void Phase(RecorderPhase) override {}
    void Progress(RecorderPhase, int, int64_t) override {}
    void ProgressEnded() override {}
};

} // namespace

CBatchUpgradeDlg::CBatchUpgradeDlg(std::vector<BatchRecorder> recorders, QWidget* parent,
                                   SessionTimings timings, std::chrono::milliseconds loginWait)
    : QDialog(parent), m_timings(timings), m_loginWait(loginWait), m_recorders(std::move(recorders)),
      m_rows(m_recorders.size()) {
    for (const BatchRecorder& r : m_recorders) {
        BatchRecord record;
        record.address = r.address;
        record.port = r.port;
        record.mac = r.mac;
        m_records.push_back(record);
    }
    buildLayout();
    updateOverall();
    updateButtons();
}

CBatchUpgradeDlg::~CBatchUpgradeDlg() {
    if (m_stopper) {
        m_stopper->StopAll();
    }
    finishBatch();
}

void CBatchUpgradeDlg::buildLayout() {
    setWindowTitle(QString::fromUtf8(kWindowTitle));
    m_overall = new QLabel(this);
    m_start = new QPushButton(QStringLiteral("Start"), this);
    m_stop = new QPushButton(QStringLiteral("Stop"), this);
    m_save = new QPushButton(QStringLiteral("Save report..."), this);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    connect(m_start, &QPushButton::clicked, this, &CBatchUpgradeDlg::start);
    connect(m_stop, &QPushButton::clicked, this, &CBatchUpgradeDlg::stop);
    connect(m_save, &QPushButton::clicked, this, &CBatchUpgradeDlg::askSaveReport);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_overall, 1);
    for (QPushButton* b : {m_start, m_stop, m_save, close}) {
        buttons->addWidget(b);
    }
    auto* page = new QVBoxLayout(this);
    page->addLayout(buildChoices());
    page->addWidget(buildTable(), 1);
    page->addLayout(buttons);
    resize(760, 360);
}

QLayout* CBatchUpgradeDlg::buildChoices() {
    auto* files = new QHBoxLayout;
    m_fileText = new QLineEdit(this);
    m_fileText->setReadOnly(true);
    auto* browse = new QPushButton(QStringLiteral("Files..."), this);
    connect(browse, &QPushButton::clicked, this, &CBatchUpgradeDlg::openFiles);
    m_kindText = new QLabel(this);
    files->addWidget(m_fileText, 1);
    files->addWidget(browse);
    files->addWidget(m_kindText);
    // A recorder takes no more of a name or password than its login request holds.
    m_user = new QLineEdit(QStringLiteral("admin"), this);
    m_user->setMaxLength(static_cast<int>(PacketHeader::kLoginUserSize));
    m_password = new QLineEdit(this);
    m_password->setMaxLength(static_cast<int>(PacketHeader::kLoginPasswordSize));
    m_password->setEchoMode(QLineEdit::Password);
    m_atOnce = new QSpinBox(this);
    m_atOnce->setRange(1, kMostAtOnce);
    m_atOnce->setValue(kDefaultAtOnce);
    auto* account = new QHBoxLayout;
    account->addWidget(m_user);
    account->addWidget(new QLabel(QStringLiteral("Password:"), this));
    account->addWidget(m_password);
    account->addWidget(new QLabel(QStringLiteral("At once:"), this));
    account->addWidget(m_atOnce);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Files:"), files);
    form->addRow(QStringLiteral("Name:"), account);
    return form;
}

QTableWidget* CBatchUpgradeDlg::buildTable() {
    m_table = new QTableWidget(static_cast<int>(m_recorders.size()), ColumnCount, this);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Address"), QStringLiteral("Port"),
                                        QStringLiteral("MAC"), QStringLiteral("Phase"),
                                        QStringLiteral("Recorder"), QStringLiteral("Result")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    for (int c : {ColAddress, ColPort, ColMac}) {
        m_table->horizontalHeader()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    }
    m_table->horizontalHeader()->setSectionResizeMode(ColPhase, QHeaderView::Stretch);
    for (size_t i = 0; i < m_recorders.size(); ++i) {
        const BatchRecorder& r = m_recorders[i];
        // The MAC text is bytes a recorder chose: each byte is shown as one character, control
        // characters as escapes, as in the report.
        const std::string mac = VisibleText(r.mac);
        const QString cells[] = {Text(r.address),
                                 QString::number(r.port),
                                 QString::fromLatin1(mac.data(), static_cast<qsizetype>(mac.size())),
                                 PhaseWord(RecorderPhase::Waiting),
                                 QString(),
                                 QString()};
        for (int c = 0; c < ColumnCount; ++c) {
            m_table->setItem(static_cast<int>(i), c, new QTableWidgetItem(cells[c]));
        }
    }
    return m_table;
}

void CBatchUpgradeDlg::openFiles() {
    QFileDialog dialog(this);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() == QDialog::Accepted) {
        chooseFiles(dialog.selectedFiles());
    }
}

bool CBatchUpgradeDlg::chooseFiles(const QStringList& paths) {
    if (running()) {
        return false;
    }
    std::vector<std::string> files;
    for (const QString& p : paths) {
        files.push_back(p.toStdString());
    }
    CQuietReport quiet;
    m_stamps = StampFiles(files);
    const FileChoice choice = ClassifyChoice(files, quiet, true);
    for (const FileChoice::Message& m : choice.messages) {
        desktop::messageBox(this, Text(m.text), Text(m.caption), MessageType(m.icon));
    }
    m_button = choice.button;
    m_files = m_button != 0 ? files : std::vector<std::string>{};
    m_fileList = m_button != 0 ? paths : QStringList();
    m_fileText->setText(m_button != 0 ? paths.join(QStringLiteral("; ")) : QString());
    m_kindText->setText(m_button != 0 ? QString::fromUtf8(ButtonContent(m_button)) : QString());
    updateButtons();
    return m_button != 0;
}

void CBatchUpgradeDlg::setAccount(const QString& user, const QString& password) {
    m_user->setText(user);
    m_password->setText(password);
}

void CBatchUpgradeDlg::setAtOnce(int count) {
    m_atOnce->setValue(count);
}

bool CBatchUpgradeDlg::buildSharedPackage(int button) {
    m_package.clear();
    if (button != IDC_WEB && button != IDC_LOGO) {
        return true;
    }
    std::string built;
    BuildUpgradePackage(static_cast<int>(m_files.size()), m_files.data(),
                        button == IDC_WEB ? kWebPackageName : kLogoPackageName, built);
    if (built.empty()) {
        desktop::appMessageBox(this,
                               QStringLiteral("The %1 package could not be built.")
                                   .arg(button == IDC_WEB ? QStringLiteral("web") : QStringLiteral("logo")));
        return false;
    }
    m_package = built;
    return true;
}

int64_t CBatchUpgradeDlg::bytesToSend() const {
    std::error_code error;
    if (!m_package.empty()) {
        return static_cast<int64_t>(std::filesystem::file_size(m_package, error));
    }
    int64_t total = 0;
    for (const std::string& f : m_files) {
        const auto size = std::filesystem::file_size(f, error);
        total += error ? 0 : static_cast<int64_t>(size);
    }
    return total;
}

void CBatchUpgradeDlg::start() {
    if (running() || m_button == 0 || m_recorders.empty()) {
        return;
    }
    // Files changed since they were chosen are chosen again, so that the batch sends what the
    // classifier sees now.
    if (!ChangedSinceStamped(m_stamps).empty() && !chooseFiles(m_fileList)) {
        return;
    }
    if (!buildSharedPackage(m_button)) {
        return;
    }
    const int64_t total = bytesToSend();
    for (size_t i = 0; i < m_records.size(); ++i) {
        BatchRecord& record = m_records[i];
        record.files = m_files;
        record.kind = ButtonContent(m_button);
        record.result.reset();
        record.started.reset();
        record.ended.reset();
        m_rows[i] = RowState{RecorderPhase::Waiting, total, {}};
        showPhase(i, PhaseWord(RecorderPhase::Waiting));
        m_table->item(static_cast<int>(i), ColPercent)->setText({});
        m_table->item(static_cast<int>(i), ColResult)->setText({});
        m_table->item(static_cast<int>(i), ColResult)->setToolTip({});
    }

    UpgradeRequest base;
    base.user = m_user->text().toStdString();
    base.password = m_password->text().toStdString();
    base.files = m_files;
    base.timings = m_timings;
    base.loginWait = m_loginWait;
    base.sharedPackage = m_package;
    base.stamps = m_stamps;
    base.button = m_button;
    m_stopper = std::make_unique<UpgradeStopper>();
    const auto sink = [this](size_t row, const BatchRowEvent& event) { rowEvent(row, event); };
    BatchRows rows;
    rows.run = [this, base, sink, recorders = m_recorders, stopper = m_stopper.get()](size_t row) {
        CBatchRowReport report(this, row, sink);
        report.Phase(RecorderPhase::Connecting);
        UpgradeRequest request = base;
        request.recorder = {recorders[row].address, recorders[row].port};
        try {
            report.Ended(RunRecorderUpgrade(request, report, *stopper).result);
        } catch (const std::exception& e) {
            report.Ended(std::nullopt, e.what());
        }
    };
    rows.skipped = [this, sink](size_t row) {
        CBatchRowReport(this, row, sink).Ended(UpgradeResult{UpgradeEnding::Stopped, -1, 0, kNotStarted});
    };
    const auto jobs = static_cast<unsigned>(m_atOnce->value());
    m_batch = std::make_unique<std::thread>([this, rows, jobs, count = m_recorders.size()] {
        RunUpgradeBatch(count, jobs, *m_stopper, rows);
        QMetaObject::invokeMethod(
            this, [this] { batchEnded(); }, Qt::QueuedConnection);
    });
    updateOverall();
    updateButtons();
}

void CBatchUpgradeDlg::stop() {
    if (m_stopper) {
        m_stopper->StopSending();
    }
}

void CBatchUpgradeDlg::rowEvent(size_t row, const BatchRowEvent& event) {
    RowState& state = m_rows[row];
    BatchRecord& record = m_records[row];
    switch (event.kind) {
    case BatchRowEvent::Kind::Phase:
        if (!record.started) {
            record.started = event.when;
        }
        state.phase = event.phase;
        showPhase(row, PhaseWord(event.phase));
        break;
    case BatchRowEvent::Kind::Progress:
        if (event.phase == RecorderPhase::Burning) {
            m_table->item(static_cast<int>(row), ColPercent)
                ->setText(QStringLiteral("%1%").arg(event.percent));
        } else {
            showPhase(
                row,
                QStringLiteral("sending %1 of %2").arg(Megabytes(event.bytesSent), Megabytes(state.total)));
        }
        break;
    case BatchRowEvent::Kind::Error:
        state.lastError = event.text;
        break;
    case BatchRowEvent::Kind::Ended:
        rowEnded(row, event);
        break;
    }
}

void CBatchUpgradeDlg::rowEnded(size_t row, const BatchRowEvent& event) {
    RowState& state = m_rows[row];
    BatchRecord& record = m_records[row];
    state.phase = RecorderPhase::Ended;
    record.result = event.result;
    record.ended = event.when;
    const int r = static_cast<int>(row);
    showPhase(row, PhaseWord(RecorderPhase::Ended));
    QTableWidgetItem* result = m_table->item(r, ColResult);
    if (event.result) {
        result->setText(QString::fromUtf8(EndingWord(event.result->ending)));
        // The session's own message; an ending decided outside the session has the line that
        // said why.
        result->setToolTip(Text(!event.result->message.empty() ? event.result->message : state.lastError));
        const int percent = event.result->lastPercent;
        m_table->item(r, ColPercent)->setText(percent >= 0 ? QStringLiteral("%1%").arg(percent) : QString());
    } else {
        result->setText(QStringLiteral("no result"));
        result->setToolTip(Text(event.text));
    }
    updateOverall();
}

void CBatchUpgradeDlg::showPhase(size_t row, const QString& text) {
    m_table->item(static_cast<int>(row), ColPhase)->setText(text);
}

void CBatchUpgradeDlg::batchEnded() {
    finishBatch();
    updateOverall();
    updateButtons();
}

void CBatchUpgradeDlg::finishBatch() {
    if (m_batch) {
        // The rows never wait for this thread, so the join cannot wait on it either.
        m_batch->join();
        m_batch.reset();
    }
    m_stopper.reset();
    if (!m_package.empty()) {
        RemoveUpgradePackage(m_package);
        m_package.clear();
    }
}

QString CBatchUpgradeDlg::overallText() const {
    return m_overall->text();
}

void CBatchUpgradeDlg::updateOverall() {
    size_t done = 0;
    size_t failed = 0;
    for (const BatchRecord& r : m_records) {
        if (r.ended) {
            ++done;
            failed += Failed(r) ? 1 : 0;
        }
    }
    m_overall->setText(
        QStringLiteral("%1 of %2 done, %3 failed").arg(done).arg(m_records.size()).arg(failed));
}

void CBatchUpgradeDlg::updateButtons() {
    m_start->setEnabled(!running() && m_button != 0 && !m_recorders.empty());
    m_stop->setEnabled(running());
    m_atOnce->setEnabled(!running());
    m_user->setEnabled(!running());
    m_password->setEnabled(!running());
}

void CBatchUpgradeDlg::askSaveReport() {
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save report"), QString(),
                                                      QStringLiteral("CSV files (*.csv)"));
    if (!path.isEmpty()) {
        saveReport(path);
    }
}

bool CBatchUpgradeDlg::saveReport(const QString& path) {
    const std::string csv = BatchReportCsv(m_records);
    // Written aside and renamed over the old report only when whole: a failure leaves any report
    // already there as it was, and the rows stay in the window to be saved elsewhere.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) ||
        !file.commit()) {
        desktop::messageBox(this,
                            QStringLiteral("Cannot write the report to %1: %2").arg(path, file.errorString()),
                            QStringLiteral("Error"), desktop::MB_OK | desktop::MB_ICONERROR);
        return false;
    }
    return true;
}

bool CBatchUpgradeDlg::mayClose() {
    if (!running()) {
        return true;
    }
    if (desktop::messageBox(this, QString::fromUtf8(kCloseQuestion), windowTitle(),
                            desktop::MB_YESNO | desktop::MB_ICONQUESTION) != desktop::IDYES) {
        return false;
    }
    stopAll();
    return true;
}

void CBatchUpgradeDlg::stopAll() {
    if (!running()) {
        return;
    }
    m_stopper->StopAll();
    finishBatch();
    updateOverall();
    updateButtons();
}

void CBatchUpgradeDlg::closeEvent(QCloseEvent* event) {
    if (!mayClose()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CBatchUpgradeDlg::reject() {
    if (mayClose()) {
        QDialog::reject();
    }
}
