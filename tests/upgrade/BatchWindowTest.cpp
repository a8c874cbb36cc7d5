// The batch upgrade window against several simulated recorders on loopback, each answering its
// own way: every row ends with its own result and no message box, the saved report reads back as
// the table showed it, Stop starts no new recorder but lets a burning one finish, and closing
// while recorders are being sent to asks first. Also the window opened by kestrion --batch.
#include "tests/common/CsvText.h"
#include "tests/common/Files.h"
#include "tests/common/LoopbackSim.h"
#include "tests/upgrade/SessionTestKit.h"
#include "tests/upgrade/WindowTestKit.h"

#include "upgrade/BatchUpgradeDlg.h"
#include "upgrade/RecorderList.h"
#include "upgrade/UpgradeApp.h"

#include <QDir>
#include <QPixmap>
#include <QScopeGuard>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace std::chrono_literals;

namespace {

const QString kCloseQuestion =
    QStringLiteral("Recorders are still being upgraded. Stop them and close the window?");

class BatchWindow : public WindowTest {
protected:
    void TearDown() override {
        for (auto& sim : m_sims) {
            sim->stop();
        }
        WindowTest::TearDown();
    }

    // A simulated recorder on its own loopback port, answering quickly unless told otherwise.
    BatchRecorder AddSim(const std::function<void(sim::SimOptions&)>& tweak = {}) {
        sim::SimOptions options = LoopbackSimOptions();
        options.upgrade.settle = 20ms;
        options.upgrade.progressStep = 50;
        options.upgrade.progressInterval = 10ms;
        if (tweak) {
            tweak(options);
        }
        m_sims.push_back(std::make_unique<sim::RecorderSim>(options));
        m_sims.back()->start();
        const std::string mac = "00:11:22:33:44:0" + std::to_string(m_sims.size());
        return {"127.0.0.1", m_sims.back()->tcpPort(), mac};
    }

    // The window over `recorders`, with `length` bytes of BIOS image chosen and the account set;
    // a recorder has `verdictWaitMs` for its verdict.
    std::unique_ptr<CBatchUpgradeDlg> Open(std::vector<BatchRecorder> recorders, size_t length = 200000,
                                           uint32_t verdictWaitMs = 300) {
        SessionTimings timings;
        timings.verdictWaitMs = verdictWaitMs;
        auto window = std::make_unique<CBatchUpgradeDlg>(std::move(recorders), nullptr, timings, 5s);
        window->show();
        m_bios = m_dir.Write("fw.bin", PatternBytes("VX", length));
        EXPECT_TRUE(window->chooseFiles({QString::fromStdString(m_bios)}));
        window->setAccount(QStringLiteral("admin"), QStringLiteral("admin"));
        return window;
    }

    static QString Cell(const CBatchUpgradeDlg& window, int row, int column) {
        return window.table()->item(row, column)->text();
    }

    // A recorder on a slow link behind a small receive buffer: sending a large file takes it
    // many seconds, however much the system's buffers take in at first.
    static void SlowLink(sim::SimOptions& o) {
        o.upgrade.linkRate = 500000;
        o.receiveBuffer = 16384;
        o.upgrade.keepData = false;
    }
    static constexpr size_t kLargeImage = 16000000;

    static bool WaitUntil(const std::function<bool()>& done) { return QTest::qWaitFor(done, 30000); }

    std::vector<std::unique_ptr<sim::RecorderSim>> m_sims;
    std::string m_bios;
};

} // namespace

TEST_F(BatchWindow, EveryRowEndsWithItsOwnResultAndTheReportReadsBackAsShown) {
    const std::vector<BatchRecorder> recorders = {
        AddSim(),
        AddSim([](sim::SimOptions& o) { o.upgrade.verdict = sim::Verdict::Error; }),
        AddSim([](sim::SimOptions& o) { o.password = "other"; }),
        AddSim([](sim::SimOptions& o) { o.upgrade.verdict = sim::Verdict::Silence; }),
    };
    auto window = Open(recorders);
    window->start();
    ASSERT_TRUE(WaitUntil([&] { return !window->running(); }));

    const struct {
        const char* result;
        const char* percent; // as the report has it; the table adds "%"
        const char* bytes;
    } rows[] = {{"success", "100", "200000"},
                {"recorder-error", "", "200000"},
                {"login-refused", "", "0"},
                {"no-verdict", "", "200000"}};
    for (int r = 0; r < 4; ++r) {
        EXPECT_EQ(Cell(*window, r, CBatchUpgradeDlg::ColResult), QString::fromUtf8(rows[r].result)) << r;
        const QString percent = QString::fromUtf8(rows[r].percent);
        EXPECT_EQ(Cell(*window, r, CBatchUpgradeDlg::ColPercent),
                  percent.isEmpty() ? percent : percent + QLatin1Char('%'))
            << r;
        EXPECT_EQ(Cell(*window, r, CBatchUpgradeDlg::ColPhase), QStringLiteral("ended")) << r;
        EXPECT_FALSE(window->table()->item(r, CBatchUpgradeDlg::ColResult)->toolTip().isEmpty()) << r;
    }
    EXPECT_EQ(window->overallText(), QStringLiteral("4 of 4 done, 3 failed"));
    EXPECT_EQ(m_boxes.count(), 0u) << BoxLines(m_boxes).join(QLatin1Char('\n')).toStdString();
    // Each recorder got exactly what its own row says: the refusing one got no file at all.
    const size_t received[] = {1, 1, 0, 1};
    for (size_t i = 0; i < m_sims.size(); ++i) {
        EXPECT_EQ(m_sims[i]->state().upgrades.size(), received[i]) << i;
    }

    const std::string report = m_dir / "report.csv";
    ASSERT_TRUE(window->saveReport(QString::fromStdString(report)));
    const CsvText csv = ParseCsv(ReadFile(report), "\r\n");
    ASSERT_EQ(csv.records.size(), 5u);
    EXPECT_EQ(csv.records[0], (std::vector<std::string>{"Address", "Port", "MAC", "Files", "Kind", "Result",
                                                        "Last percent", "Bytes sent", "Start", "End"}));
    for (size_t r = 0; r < 4; ++r) {
        const std::vector<std::string>& line = csv.records[r + 1];
        ASSERT_EQ(line.size(), 10u);
        EXPECT_EQ(line[0], recorders[r].address);
        EXPECT_EQ(line[1], std::to_string(recorders[r].port));
        EXPECT_EQ(line[2], recorders[r].mac);
        EXPECT_EQ(line[3], m_bios);
        EXPECT_EQ(line[4], "BIOS image");
        EXPECT_EQ(line[5], rows[r].result);
        EXPECT_EQ(line[6], rows[r].percent);
        EXPECT_EQ(line[7], rows[r].bytes);
        EXPECT_FALSE(line[8].empty());
        EXPECT_LE(line[8], line[9]); // ISO times sort as text
    }
}

// One recorder at a time: Stop while the first burns its flash lets it finish, and the others
// never start. A recorder still being sent to is stopped at once.
TEST_F(BatchWindow, StopLetsABurningRecorderFinishAndStartsNoOther) {
    const std::vector<BatchRecorder> recorders = {
        AddSim([](sim::SimOptions& o) { o.upgrade.burn = 1500ms; }),
        AddSim(SlowLink),
        AddSim(),
    };
    auto window = Open(recorders, kLargeImage, 20000);
    window->setAtOnce(2);
    window->start();
    ASSERT_TRUE(WaitUntil([&] {
        return Cell(*window, 0, CBatchUpgradeDlg::ColPhase) == QStringLiteral("burning") &&
               Cell(*window, 1, CBatchUpgradeDlg::ColPhase).startsWith(QStringLiteral("sending "));
    }));
    EXPECT_EQ(Cell(*window, 2, CBatchUpgradeDlg::ColPhase), QStringLiteral("waiting"));
    window->stop();
    window->stop(); // pressed twice: the second changes nothing
    ASSERT_TRUE(WaitUntil([&] { return !window->running(); }));

    const std::vector<BatchRecord> records = window->records();
    const UpgradeEnding endings[] = {UpgradeEnding::Success, UpgradeEnding::Stopped, UpgradeEnding::Stopped};
    for (size_t r = 0; r < 3; ++r) {
        ASSERT_TRUE(records[r].result) << r;
        EXPECT_EQ(records[r].result->ending, endings[r]) << r;
    }
    // What went out before the stop is counted, not taken for nothing.
    EXPECT_GT(records[1].result->bytesSent, 0);
    EXPECT_LT(records[1].result->bytesSent, static_cast<int64_t>(kLargeImage));
    EXPECT_FALSE(records[2].started) << "the third recorder was started after Stop";
    EXPECT_TRUE(m_sims[2]->state().upgrades.empty());
    EXPECT_EQ(window->overallText(), QStringLiteral("3 of 3 done, 2 failed"));
    EXPECT_EQ(m_boxes.count(), 0u);
}

TEST_F(BatchWindow, ClosingWhileSendingAsksFirstAndStopsOnlyOnYes) {
    auto window = Open({AddSim(SlowLink)}, kLargeImage);
    window->start();
    ASSERT_TRUE(WaitUntil(
        [&] { return Cell(*window, 0, CBatchUpgradeDlg::ColPhase).startsWith(QStringLiteral("sending ")); }));

    m_boxes.queueAnswer(desktop::IDNO);
    window->close();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->running());
    m_boxes.queueAnswer(desktop::IDYES);
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->running());
    EXPECT_EQ(m_boxes.texts(), QStringList({kCloseQuestion, kCloseQuestion}));
    EXPECT_EQ(m_boxes.last().buttons(), desktop::MB_YESNO);

    // Closing an idle window asks nothing.
    auto idle = Open({AddSim()});
    idle->close();
    EXPECT_EQ(m_boxes.count(), 2u);
}

// kestrion --batch FILE: the recorders of either scan list, or one message and status 2.
TEST_F(BatchWindow, KestrionBatchOpensTheRecordersOfAScanList) {
    const struct {
        const char* name;
        const char* text;
        std::vector<std::string> rows; // "address port mac" of each row; empty: refused
        const char* message;
    } cases[] = {
        {"site.csv",
         "No.,IP Address,Port Number,Subnet Mask,Default Gateway,Mac Address \r\n"
         "1,10.0.0.5,37777,255.255.255.0,10.0.0.1,00:11:22:33:44:55\r\n"
         "2,10.0.0.6,37778,255.255.255.0,10.0.0.1,00:11:22:33:44:56\r\n",
         {"10.0.0.5 37777 00:11:22:33:44:55", "10.0.0.6 37778 00:11:22:33:44:56"},
         ""},
        {"site.json",
         R"([{"no":1,"ip":"10.0.0.7","port":37777,"mac":"aa:bb:cc:dd:ee:ff"}])",
         {"10.0.0.7 37777 aa:bb:cc:dd:ee:ff"},
         ""},
        {"bad.json",
         R"([{"ip":"10.0.0.300","port":37777}])",
         {},
         "bad.json: 10.0.0.300:37777: not a dotted IPv4 address"},
        {"bad.csv", "a,b\n", {}, "bad.csv: line 1 has no column \"IP Address\""},
        {"ctl.csv",
         "IP Address,Port Number,Mac Address \n10.0.0.5\x1b[2J,37777,aa\n",
         {},
         "ctl.csv: 10.0.0.5\\x1b[2J:37777: not a dotted IPv4 address"},
        {"empty.csv", "", {}, "empty.csv: the file names no recorder"},
        {"headings.csv", "IP Address,Port Number\r\n", {}, "headings.csv: the file names no recorder"},
        {"none.json", "[]", {}, "none.json: the file names no recorder"},
        // One recorder upgraded by two rows at once would be sent the firmware twice over.
        {"twice.json",
         R"([{"ip":"10.0.0.7","port":37777},{"ip":"10.0.0.7","port":37777}])",
         {},
         "twice.json: the recorder 10.0.0.7:37777 is named twice"},
        {"huge.csv", "", {}, "huge.csv: larger than 16 MB, too large for a list of recorders"},
    };
    for (const auto& c : cases) {
        m_boxes.clear();
        const std::string path = m_dir.Write(c.name, std::string_view(c.name) == "huge.csv"
                                                         ? std::string(kMostRecorderListBytes + 1, '\n')
                                                         : c.text);
        CUpgradeApp app(
            {QStringLiteral("kestrion"), QStringLiteral("--batch"), QString::fromStdString(path)});
        std::vector<std::string> shown;
        // A list refused before any window opens leaves the call pending: it goes with `scope`.
        QObject scope;
        QTimer::singleShot(0, &scope, [&] {
            CBatchUpgradeDlg* window = app.BatchWindow();
            if (window == nullptr) {
                return;
            }
            for (int r = 0; r < window->table()->rowCount(); ++r) {
                shown.push_back((Cell(*window, r, CBatchUpgradeDlg::ColAddress) + QLatin1Char(' ') +
                                 Cell(*window, r, CBatchUpgradeDlg::ColPort) + QLatin1Char(' ') +
                                 Cell(*window, r, CBatchUpgradeDlg::ColMac))
                                    .toStdString());
            }
            window->close();
        });
        const int status = app.InitInstance();
        EXPECT_EQ(shown, c.rows) << c.name;
        EXPECT_EQ(status, c.rows.empty() ? 2 : 0) << c.name;
        if (c.rows.empty()) {
            ASSERT_EQ(m_boxes.count(), 1u) << c.name;
            EXPECT_TRUE(m_boxes.last().text.contains(QString::fromUtf8(c.message)))
                << m_boxes.last().text.toStdString();
        } else {
            EXPECT_EQ(m_boxes.count(), 0u) << c.name;
        }
    }
}

// The picture for the README: a site's batch mid-run, one recorder done, one burning its flash,
// one being sent to and one waiting its turn. Written to KST_SCREENSHOT_DIR when it is set.
TEST_F(BatchWindow, ScreenshotMidRun) {
    const std::vector<BatchRecorder> recorders = {
        AddSim(),
        AddSim([](sim::SimOptions& o) {
            o.upgrade.burn = 20000ms;
            o.upgrade.progressStep = 10;
        }),
        AddSim(SlowLink),
        AddSim(),
    };
    auto window = Open(recorders, kLargeImage, 60000);
    window->setAtOnce(2);
    window->start();
    ASSERT_TRUE(WaitUntil([&] {
        return Cell(*window, 0, CBatchUpgradeDlg::ColResult) == QStringLiteral("success") &&
               Cell(*window, 1, CBatchUpgradeDlg::ColPercent).endsWith(QStringLiteral("0%")) &&
               Cell(*window, 1, CBatchUpgradeDlg::ColPercent) != QStringLiteral("0%") &&
               Cell(*window, 2, CBatchUpgradeDlg::ColPhase).startsWith(QStringLiteral("sending ")) &&
               Cell(*window, 3, CBatchUpgradeDlg::ColPhase) == QStringLiteral("waiting");
    }));
    EXPECT_EQ(window->overallText(), QStringLiteral("1 of 4 done, 0 failed"));
    const QPixmap picture = window->grab();
    EXPECT_EQ(picture.size(), window->size());
    const QString folder = qEnvironmentVariable("KST_SCREENSHOT_DIR");
    if (!folder.isEmpty()) {
        EXPECT_TRUE(picture.save(QDir(folder).filePath(QStringLiteral("kestrion-batch.png")), "PNG"));
    }
    m_boxes.queueAnswer(desktop::IDYES);
    window->close();
    EXPECT_FALSE(window->running());
}

// Web pages are packed once, before the first recorder starts, and that one package goes to
// every recorder; it is gone once the batch has ended.
TEST_F(BatchWindow, WebPagesArePackedOnceForEveryRecorder) {
    const std::string tmp = m_dir / "tmp";
    std::filesystem::create_directory(tmp);
    const bool hadTmp = qEnvironmentVariableIsSet("TMPDIR");
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QByteArray::fromStdString(tmp));
    // An empty TMPDIR left behind would make every later temporary folder fail.
    const auto restore = qScopeGuard([&] { hadTmp ? qputenv("TMPDIR", oldTmp) : qunsetenv("TMPDIR"); });
    const auto silent = [](sim::SimOptions& o) { o.upgrade.verdict = sim::Verdict::Silence; };
    const std::vector<BatchRecorder> recorders = {AddSim(silent), AddSim(silent)};
    auto window = Open(recorders, 1000, 60000);
    const QString web = QStringLiteral(KST_SOURCE_DIR "/demo/web/");
    ASSERT_TRUE(window->chooseFiles({web + "index.htm", web + "live.htm", web + "setup.htm"}));
    window->start();
    ASSERT_TRUE(WaitUntil([&] {
        return Cell(*window, 0, CBatchUpgradeDlg::ColPhase) == QStringLiteral("burning") &&
               Cell(*window, 1, CBatchUpgradeDlg::ColPhase) == QStringLiteral("burning");
    }));
    // A row burns once its end packet is sent; the recorder records the upgrade once it has read it.
    for (const auto& recorder : m_sims) {
        ASSERT_TRUE(recorder->waitFor([](const sim::SimState& s) { return s.upgrades.size() == 1; }, 10s));
    }
    const auto packages = std::distance(std::filesystem::directory_iterator(tmp), {});
    EXPECT_EQ(packages, 1);
    m_boxes.queueAnswer(desktop::IDYES);
    window->close();
    EXPECT_TRUE(std::filesystem::is_empty(tmp));

    for (const auto& recorder : m_sims) {
        const sim::SimState state = recorder->state();
        ASSERT_EQ(state.upgrades.size(), 1u);
        ASSERT_EQ(state.upgrades[0].files.size(), 1u);
        EXPECT_EQ(state.upgrades[0].files[0].problem, "");
        EXPECT_EQ(state.upgrades[0].files[0].imageNames,
                  (std::vector<std::string>{"index.htm", "live.htm", "setup.htm"}));
    }
    for (const BatchRecord& r : window->records()) {
        EXPECT_EQ(r.kind, "web pages");
    }
}

// A recorder whose turn comes after the chosen file was rewritten or removed gets nothing, and
// its row says why; the recorders before it got the file the batch started with.
TEST_F(BatchWindow, ALateRecorderGetsNothingOfAFileChangedSinceStart) {
    const struct {
        const char* what;
        std::function<void(const std::string&)> change;
        const char* why;
    } cases[] = {
        {"rewritten",
         [](const std::string& path) { std::ofstream(path, std::ios::binary | std::ios::in) << "VXchanged"; },
         " was changed since the batch started: not sent."},
        {"removed", [](const std::string& path) { std::filesystem::remove(path); },
         " was removed since the batch started: not sent."},
    };
    for (const auto& c : cases) {
        auto window =
            Open({AddSim([](sim::SimOptions& o) { o.upgrade.burn = 1500ms; }), AddSim()}, 200000, 20000);
        window->setAtOnce(1);
        window->start();
        ASSERT_TRUE(WaitUntil(
            [&] { return Cell(*window, 0, CBatchUpgradeDlg::ColPhase) == QStringLiteral("burning"); }));
        c.change(m_bios);
        ASSERT_TRUE(WaitUntil([&] { return !window->running(); }));

        EXPECT_EQ(Cell(*window, 0, CBatchUpgradeDlg::ColResult), QStringLiteral("success")) << c.what;
        EXPECT_EQ(Cell(*window, 1, CBatchUpgradeDlg::ColResult), QStringLiteral("file-refused")) << c.what;
        EXPECT_EQ(window->table()->item(1, CBatchUpgradeDlg::ColResult)->toolTip(),
                  QString::fromStdString(m_bios + c.why))
            << c.what;
        const size_t n = m_sims.size();
        EXPECT_EQ(m_sims[n - 2]->state().upgrades.size(), 1u) << c.what;
        EXPECT_TRUE(m_sims[n - 1]->state().upgrades.empty()) << c.what;
        EXPECT_EQ(m_boxes.count(), 0u) << c.what;
    }
}

// A report that cannot be written says where and why, and leaves the rows to be saved elsewhere,
// over an earlier report.
TEST_F(BatchWindow, AReportThatCannotBeWrittenSaysWhyAndLosesNothing) {
    auto window = Open({AddSim()});
    window->start();
    ASSERT_TRUE(WaitUntil([&] { return !window->running(); }));
    const std::string blocker = m_dir.Write("not-a-folder", "x");
    const std::string old = m_dir.Write("old.csv", "an earlier report");
    const struct {
        std::string path;
        const char* reason;
    } cases[] = {
        {blocker + "/report.csv", "Not a directory"},
        {m_dir.path().string(), "refers to a directory"},
    };
    for (const auto& c : cases) {
        m_boxes.clear();
        EXPECT_FALSE(window->saveReport(QString::fromStdString(c.path))) << c.path;
        ASSERT_EQ(m_boxes.count(), 1u) << c.path;
        const QString text = m_boxes.last().text;
        EXPECT_TRUE(text.startsWith(QString::fromStdString("Cannot write the report to " + c.path + ": ")))
            << text.toStdString();
        EXPECT_TRUE(text.contains(QString::fromUtf8(c.reason), Qt::CaseInsensitive)) << text.toStdString();
    }
    ASSERT_TRUE(window->saveReport(QString::fromStdString(old)));
    const CsvText csv = ParseCsv(ReadFile(old), "\r\n");
    ASSERT_EQ(csv.records.size(), 2u);
    EXPECT_EQ(csv.records[1][5], "success");
}

// A recorder that accepts the login twice and sends junk among its replies: the row ends once,
// with the verdict and the last percent the recorder gave, and no message box.
TEST_F(BatchWindow, ARecorderThatSaysTooMuchStillEndsItsRowOnce) {
    TestPeer peer;
    peer.OnRequest([](TestPeer& p, const RequestEvent& r) {
        Packet32 junk{};
        junk.fill(0xA5);
        if (r.type == RequestType::Login) {
            p.Reply(BuildLoginReply(0));
            p.Reply(junk);
            p.Reply(BuildLoginReply(0));
        } else if (r.type == RequestType::End) {
            p.Reply(junk);
            p.Reply(BuildUpgradeReply("", 2, 30));
            p.Reply(BuildUpgradeReply("right", 0, 0));
        }
    });
    // Its MAC text carries a terminal escape: shown, never acted on.
    auto window = Open({{"127.0.0.1", peer.Port(),
                         "\x1b]0;x\x07"
                         "AB"}},
                       200000, 20000);
    EXPECT_EQ(Cell(*window, 0, CBatchUpgradeDlg::ColMac), QStringLiteral("\\x1b]0;x\\x07AB"));
    window->start();
    ASSERT_TRUE(WaitUntil([&] { return !window->running(); }));
    EXPECT_EQ(Cell(*window, 0, CBatchUpgradeDlg::ColResult), QStringLiteral("success"));
    EXPECT_EQ(Cell(*window, 0, CBatchUpgradeDlg::ColPhase), QStringLiteral("ended"));
    EXPECT_EQ(Cell(*window, 0, CBatchUpgradeDlg::ColPercent), QStringLiteral("30%"));
    EXPECT_EQ(window->overallText(), QStringLiteral("1 of 1 done, 0 failed"));
    EXPECT_EQ(m_boxes.count(), 0u) << BoxLines(m_boxes).join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(peer.WaitForRequests(RequestType::Start, 1));
}

// Files changed between choosing and Start are chosen again: a file gone by then starts nothing,
// and the classifier says why.
TEST_F(BatchWindow, StartChoosesAChangedFileAgain) {
    auto window = Open({AddSim()});
    std::filesystem::remove(m_bios);
    window->start();
    EXPECT_FALSE(window->running());
    ASSERT_EQ(m_boxes.count(), 1u);
    EXPECT_EQ(m_boxes.last().text, QString::fromStdString("Open file " + m_bios + " ,failed"));
    EXPECT_TRUE(m_sims[0]->state().upgrades.empty());
    EXPECT_TRUE(m_sims[0]->state().logins.empty());
}
