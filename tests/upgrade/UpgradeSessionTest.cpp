// The upgrade session run for real on loopback against the simulated recorder (and, where a test
// needs a reply the simulator never gives, a recorder scripted packet by packet), with a view that
// records every call.
#include "tests/upgrade/RecordingView.h"
#include "tests/upgrade/SessionTestKit.h"
#include "tests/upgrade/TestFiles.h"

#include "simulator/RecorderSim.h"
#include "tests/common/LoopbackSim.h"
#include "upgrade/UpgradeIds.h"
#include "upgrade/UpgradeSession.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

const std::string kBoxes = "box ";

std::string Complete(const std::string& text) {
    return RecordingView::Box("Complete", MessageIcon::Information, text);
}
std::string Failed(const std::string& text) {
    return RecordingView::Box("Error", MessageIcon::Information, text);
}

std::vector<std::string> WithoutProgress(const std::vector<std::string>& calls) {
    std::vector<std::string> out;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(out),
                 [](const std::string& c) { return c.rfind("progress ", 0) != 0; });
    return out;
}

class SessionTest : public ::testing::Test {
protected:
    void TearDown() override {
        session.reset();
        EXPECT_TRUE(AllSocketObjectsGone()) << "a connection object was never released";
        if (sim) {
            sim->stop();
        }
        g_nUpgradeKind = KIND_BIOS;
    }

    // Starts the simulated recorder on a free loopback port; the verdict comes soon after the
    // last end packet.
    void StartSim(const std::function<void(sim::SimOptions&)>& tweak = {}) {
        sim::SimOptions options = LoopbackSimOptions();
        options.upgrade.progressStep = 40;
        options.upgrade.progressInterval = 20ms;
        if (tweak) {
            tweak(options);
        }
        sim = std::make_unique<sim::RecorderSim>(options);
        sim->start();
        view.boxes.m_strIP = "127.0.0.1";
        view.boxes.m_nPort = sim->tcpPort();
    }

    void MakeSession(SessionTimings timings = {}, CNetSocketFactory& factory = DefaultNetSocketFactory()) {
        session = std::make_unique<CUpgradeSession>(view, timings, factory);
    }

    void Login(const std::string& user = "admin", const std::string& password = "admin") {
        view.loginAnswer = std::make_pair(user, password);
        view.loginWaitsForEnd = true;
        session->OnLoginButton();
        ASSERT_EQ(view.TextOf(IDC_LOGIN), "Logout");
    }

    void Choose(const std::vector<std::string>& paths) {
        view.openFilesAnswer = paths;
        session->ChooseFiles();
    }

    // Presses an upgrade button, waits for the upgrade to end, and returns what the view was told
    // meanwhile, without the button disabling itself (which the window's thread does while the
    // worker already runs).
    // The upgrade's ending, delivered once and last before the session is idle, goes to `ended`.
    std::vector<std::string> Press(int button) {
        const size_t mark = view.Mark();
        const size_t results = view.Results().size();
        session->OnUpgradeButton(button);
        EXPECT_TRUE(session->WaitUntilIdle(60s));
        std::vector<std::string> calls = view.CallsSince(mark);
        const std::string disable = "enable " + std::to_string(button) + " 0";
        EXPECT_EQ(std::count(calls.begin(), calls.end(), disable), 1) << "the button disables itself once";
        calls.erase(std::remove(calls.begin(), calls.end(), disable), calls.end());
        EXPECT_FALSE(view.IsEnabled(button));
        // A login refused by a stray reply meanwhile is an ending of its own.
        std::vector<UpgradeResult> all = view.Results();
        all.erase(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(results));
        std::erase_if(all, [](const UpgradeResult& r) { return r.ending == UpgradeEnding::LoginRefused; });
        EXPECT_EQ(all.size(), 1u) << "one ending per upgrade";
        ended = all.empty() ? UpgradeResult{} : all.back();
        const auto isEnding = [](const std::string& c) { return c.rfind("ended ", 0) == 0; };
        EXPECT_TRUE(!calls.empty() && isEnding(calls.back())) << "the ending comes last";
        calls.erase(std::remove_if(calls.begin(), calls.end(), isEnding), calls.end());
        return calls;
    }

    UpgradeResult ended;

    sim::UpgradeRecord LastUpgrade(size_t count = 1) {
        EXPECT_TRUE(
            sim->waitFor([count](const sim::SimState& s) { return s.upgrades.size() >= count; }, 20s));
        const auto state = sim->state();
        return state.upgrades.empty() ? sim::UpgradeRecord{} : state.upgrades.back();
    }

    TempDir dir;
    RecordingView view;
    std::unique_ptr<sim::RecorderSim> sim;
    std::unique_ptr<FlakyFactory> flaky; // outlives the session that uses it
    std::unique_ptr<CUpgradeSession> session;
};

// ---- the verdicts

TEST_F(SessionTest, BiosUpgradeFollowsTheRecordersProgressToSuccess) {
    StartSim();
    MakeSession();
    Login();
    const auto bytes = PatternBytes("MZ", 5000);
    const std::string path = dir.Write("fw.bin", bytes);
    Choose({path});

    const auto calls = Press(IDC_BIOS);

    EXPECT_THAT(calls,
                ElementsAre("take", "progress 20", "progress 40", "progress 61", "progress 81",
                            "progress 100", RecordingView::Status("File has been sent, please wait..."),
                            "progress 0", "progress 0", "progress 0", "progress 40", "progress 0",
                            "progress 80", "progress 0", "progress 100",
                            Complete("BIOS Upgrade success,Device will reboot!..."),
                            RecordingView::Status("Current Progress"), "progress 0"));
    const auto record = LastUpgrade();
    EXPECT_EQ(record.kind, KIND_BIOS);
    EXPECT_EQ(record.announcedLength, 5000u);
    ASSERT_EQ(record.files.size(), 1u);
    EXPECT_EQ(record.files[0].data, bytes);
    EXPECT_EQ(record.problem, "");
    EXPECT_TRUE(record.complete);
    EXPECT_EQ(session->State().m_nChunksSent, 5);
    EXPECT_TRUE(FileExists(path)) << "only temporary packages are deleted";
}

TEST_F(SessionTest, FontUpgradeEndsWithoutAnyMessage) {
    StartSim();
    MakeSession();
    Login();
    Choose({dir.Write("font.hzk", PatternBytes("", 5000))});

    const auto calls = Press(IDC_FONT);

    EXPECT_THAT(WithoutProgress(calls),
                ElementsAre("take", RecordingView::Status("File has been sent, please wait..."),
                            RecordingView::Status("Current Progress")));
    EXPECT_EQ(LastUpgrade().kind, KIND_FONT);
}

TEST_F(SessionTest, RightAfterTheEndPacketIsSuccessWithNoFailureAfterIt) {
    StartSim([](sim::SimOptions& o) { o.upgrade.verdict = sim::Verdict::Right; });
    MakeSession();
    Login();
    Choose({dir.Write("fw.bin", PatternBytes("PK", 2048))});

    const auto calls = Press(IDC_BIOS);

    EXPECT_THAT(calls, ElementsAre("take", "progress 50", "progress 100",
                                   RecordingView::Status("File has been sent, please wait..."),
                                   Complete("BIOS Upgrade success,Device will reboot!..."),
                                   RecordingView::Status("Current Progress"), "progress 0"));
    EXPECT_EQ(ended.ending, UpgradeEnding::Success);
    EXPECT_EQ(ended.lastPercent, -1);
    EXPECT_EQ(ended.bytesSent, 2048);
}

TEST_F(SessionTest, SilenceEndsTheWaitWithTheKindsMessages) {
    StartSim([](sim::SimOptions& o) { o.upgrade.verdict = sim::Verdict::Silence; });
    SessionTimings timings;
    timings.verdictWaitMs = 300;
    MakeSession(timings);
    Login();

    Choose({dir.Write("index.htm", "<html><body>hello</body></html>")});
    EXPECT_THAT(WithoutProgress(Press(IDC_WEB)),
                ElementsAre("take", RecordingView::Status("File has been sent, please wait..."),
                            Failed("Send web data Failed!"), RecordingView::Status("Current Progress")));

    std::string boot = "\xC0\x80";
    boot += std::string(3000, 'b');
    Choose({dir.Write("boot.img", boot)});
    EXPECT_THAT(WithoutProgress(Press(IDC_BOOT)),
                ElementsAre("take", RecordingView::Status("File has been sent, please wait..."),
                            Failed("BOOT Upgrade Failed!"), Failed("Send boot data Failed!"),
                            RecordingView::Status("Current Progress")));
    EXPECT_EQ(LastUpgrade(2).kind, KIND_BOOT);
}

TEST_F(SessionTest, ErrorWordEndsTheWaitAtOnceWithTheWaitsMessages) {
    StartSim([](sim::SimOptions& o) { o.upgrade.verdict = sim::Verdict::Error; });
    SessionTimings timings;
    timings.verdictWaitMs = 600000; // far beyond Press's own limit
    MakeSession(timings);
    Login();
    Choose({dir.Write("fw.bin", PatternBytes("VX", 100))});

    const auto calls = Press(IDC_BIOS);

    EXPECT_THAT(calls, ElementsAre("take", "progress 100",
                                   RecordingView::Status("File has been sent, please wait..."),
                                   Failed("BIOS Upgrade Failed!"), Failed("Send bios data Failed!"),
                                   RecordingView::Status("Current Progress"), "progress 0"));
    EXPECT_EQ(LastUpgrade().verdict, "error");
    EXPECT_EQ(ended.ending, UpgradeEnding::RecorderError);
}

// Every kind against each verdict: the Part's messages for it (a success alone where the kind has
// a success text, nothing after a success), its ending, and a session idle as after any other
// upgrade, whose next Open files the classifier decides again.
struct KindRow {
    const char* label;
    const char* file;
    std::string content;
    int button;
    const char* success; // "" where the kind has no success text
    const char* failure; // "" where the kind has no failure text of its own
    const char* dataFailed;
};

struct VerdictRow {
    const char* label;
    sim::Verdict verdict;
    UpgradeEnding ending;
};

std::string BootImage(size_t length) {
    return "\xC0\x80" + std::string(length - 2, 'b');
}

// ctest shows each case by its labels, not by the row's bytes.
void PrintTo(const KindRow& row, std::ostream* os) {
    *os << row.label;
}
void PrintTo(const VerdictRow& row, std::ostream* os) {
    *os << row.label;
}

const KindRow kKinds[] = {
    {"bios", "fw.bin", "MZ" + std::string(3000, 'x'), IDC_BIOS, "BIOS Upgrade success,Device will reboot!...",
     "BIOS Upgrade Failed!", "Send bios data Failed!"},
    {"web", "index.htm", "<html>hello</html>", IDC_WEB, "WEB Upgrade success,Device will reboot!...", "",
     "Send web data Failed!"},
    {"boot", "boot.img", BootImage(3000), IDC_BOOT, "BOOT Upgrade success,Device will reboot!...",
     "BOOT Upgrade Failed!", "Send boot data Failed!"},
    {"both", "big.img", BootImage(static_cast<size_t>(kLargeBootLength) + 1), IDC_BOTH,
     "BOOT Upgrade success,Device will reboot!...", "BOOT Upgrade Failed!", "Send boot data Failed!"},
    {"font", "font.hzk", std::string(3000, 'f'), IDC_FONT, "", "", "Send font data Failed!"},
    {"logo", "logo.bmp", "BM" + std::string(200, '\x11'), IDC_LOGO, "", "", "Send logo data Failed!"},
    {"exe", "setup.exe", "MZ" + std::string(3000, 'e'), IDC_EXE, "", "", "Send exe data Failed!"},
};

const VerdictRow kVerdicts[] = {
    {"right", sim::Verdict::Right, UpgradeEnding::Success},
    {"error", sim::Verdict::Error, UpgradeEnding::RecorderError},
    {"silence", sim::Verdict::Silence, UpgradeEnding::NoVerdict},
};

class KindVerdictTest : public SessionTest,
                        public ::testing::WithParamInterface<std::tuple<KindRow, VerdictRow>> {};

TEST_P(KindVerdictTest, EndsWithTheKindsMessagesAndLeavesTheSessionIdle) {
    const auto& [kind, verdict] = GetParam();
    StartSim([&](sim::SimOptions& o) { o.upgrade.verdict = verdict.verdict; });
    SessionTimings timings;
    // "right" and "error" must end the wait long before it could run out.
    timings.verdictWaitMs = verdict.verdict == sim::Verdict::Silence ? 300 : 600000;
    MakeSession(timings);
    Login();
    const std::string path = dir.Write(kind.file, kind.content);
    Choose({path});
    ASSERT_THAT(view.EnabledUpgradeButtons(), ElementsAre(kind.button));

    Press(kind.button);

    std::vector<std::string> boxes;
    if (verdict.ending == UpgradeEnding::Success) {
        if (*kind.success != '\0') {
            boxes.push_back(Complete(kind.success));
        }
    } else {
        if (*kind.failure != '\0') {
            boxes.push_back(Failed(kind.failure));
        }
        boxes.push_back(Failed(kind.dataFailed));
    }
    EXPECT_THAT(view.CallsStartingWith(kBoxes), ElementsAreArray(boxes));
    EXPECT_EQ(ended.ending, verdict.ending);
    EXPECT_EQ(ended.message, boxes.empty() ? "" : boxes.back().substr(boxes.back().rfind('|') + 1));
    EXPECT_FALSE(session->IsBusy());
    EXPECT_EQ(view.TextOf(IDC_STATUS), "Current Progress");

    view.ClearCalls();
    Choose({path});
    EXPECT_THAT(view.EnabledUpgradeButtons(), ElementsAre(kind.button)) << "Open files works again";
}

INSTANTIATE_TEST_SUITE_P(Endings, KindVerdictTest,
                         ::testing::Combine(::testing::ValuesIn(kKinds), ::testing::ValuesIn(kVerdicts)),
                         [](const auto& row) {
                             return std::string(std::get<0>(row.param).label) + "_" +
                                    std::get<1>(row.param).label;
                         });

TEST_F(SessionTest, AVerdictReceivedBeforeTheStartPacketDecidesNothing) {
    // The recorder says "right" along with its login reply, then "error" to the upgrade itself.
    StartSim([](sim::SimOptions& o) {
        o.upgrade.verdict = sim::Verdict::Error;
        o.upgrade.wordWithLogin = "right";
    });
    SessionTimings timings;
    timings.verdictWaitMs = 600000;
    MakeSession(timings);
    const std::string path = dir.Write("fw.bin", PatternBytes("MZ", 3000));
    for (int run = 0; run < 50; ++run) {
        const bool classifyFirst = run % 2 == 0;
        if (classifyFirst) {
            Choose({path});
        }
        Login();
        if (!classifyFirst) {
            Choose({path});
        }
        Press(IDC_BIOS);
        ASSERT_EQ(ended.ending, UpgradeEnding::RecorderError) << "run " << run;
        session->OnLoginButton(); // logout
    }
}

TEST_F(SessionTest, AContraryWordRightBehindTheVerdictChangesNothing) {
    struct Row {
        sim::Verdict verdict;
        const char* after;
        UpgradeEnding ending;
    };
    const std::string path = dir.Write("fw.bin", PatternBytes("MZ", 3000));
    for (const Row& row : {Row{sim::Verdict::Right, "error", UpgradeEnding::Success},
                           Row{sim::Verdict::Error, "right", UpgradeEnding::RecorderError}}) {
        SCOPED_TRACE(row.after);
        StartSim([&](sim::SimOptions& o) {
            o.upgrade.verdict = row.verdict;
            o.upgrade.wordAfterVerdict = row.after;
        });
        SessionTimings timings;
        timings.verdictWaitMs = 600000;
        MakeSession(timings);
        Login();
        for (int run = 0; run < 20; ++run) {
            Choose({path});
            Press(IDC_BIOS);
            ASSERT_EQ(ended.ending, row.ending) << "run " << run;
        }
    }
}

TEST_F(SessionTest, FileCutShortEndsAsASendFailureThatNamesIt) {
    struct Row {
        const char* label;
        int cutAtPercent; // -1: cut between classifying and pressing
        int64_t cutTo;
    };
    // Cut well past what the file reader may have buffered ahead at 10 percent.
    const int64_t length = 1024 * 1024;
    for (const Row& row : {Row{"while sent", 10, 300 * 1024}, Row{"before the start", -1, 1000}}) {
        SCOPED_TRACE(row.label);
        StartSim();
        MakeSession();
        Login();
        const std::string path = dir.Write("fw.bin", PatternBytes("MZ", static_cast<size_t>(length)));
        Choose({path});
        if (row.cutAtPercent < 0) {
            std::filesystem::resize_file(path, static_cast<uintmax_t>(row.cutTo));
        }
        view.onProgress = [&](int percent) {
            if (percent == row.cutAtPercent) {
                std::filesystem::resize_file(path, static_cast<uintmax_t>(row.cutTo));
            }
        };
        view.ClearCalls();

        Press(IDC_BIOS);
        view.onProgress = nullptr;

        const std::string text = "Read file " + path + " failed: " + std::to_string(row.cutTo) + " of " +
                                 std::to_string(length) + " bytes were sent";
        EXPECT_THAT(view.CallsStartingWith(kBoxes),
                    ElementsAre(RecordingView::Box("Error", MessageIcon::Error, text)));
        EXPECT_EQ(ended.ending, UpgradeEnding::SendFailed);
        EXPECT_EQ(ended.bytesSent, row.cutTo);
        EXPECT_TRUE(sim->state().upgrades.empty()) << "no end packet: the recorder never took it as whole";
        session.reset();
        sim->stop();
        ASSERT_TRUE(AllSocketObjectsGone());
    }
}

TEST_F(SessionTest, ProgressPastOneHundredShowsFullAndIsSuccess) {
    StartSim([](sim::SimOptions& o) {
        o.upgrade.progressStep = 250;
        o.upgrade.progressUntil = 250;
    });
    SessionTimings timings;
    timings.verdictWaitMs = 600000;
    MakeSession(timings);
    Login();
    Choose({dir.Write("fw.bin", PatternBytes("MZ", 3000))});

    Press(IDC_BIOS);

    EXPECT_THAT(view.CallsStartingWith(kBoxes),
                ElementsAre(Complete("BIOS Upgrade success,Device will reboot!...")));
    const auto shown = view.ProgressValues();
    EXPECT_EQ(*std::max_element(shown.begin(), shown.end()), 100);
    EXPECT_EQ(ended.ending, UpgradeEnding::Success);
    EXPECT_EQ(ended.lastPercent, 250);
}

// ---- streaming

TEST_F(SessionTest, SendSucceedingOnTheEighthAttemptContinuesTheStream) {
    StartSim();
    flaky = std::make_unique<FlakyFactory>(1, 7);
    FlakyFactory& factory = *flaky;
    MakeSession({}, factory);
    Login();
    const auto bytes = PatternBytes("MZ", 3000);
    Choose({dir.Write("fw.bin", bytes)});

    const auto calls = Press(IDC_BIOS);

    EXPECT_THAT(view.CallsStartingWith(kBoxes),
                ElementsAre(Complete("BIOS Upgrade success,Device will reboot!...")));
    const auto attempts = factory.Attempts();
    EXPECT_EQ(attempts.at(0), 1);
    EXPECT_EQ(attempts.at(1), 8);
    EXPECT_EQ(attempts.at(2), 1);
    const auto record = LastUpgrade();
    ASSERT_EQ(record.files.size(), 1u);
    EXPECT_EQ(record.files[0].data, bytes);
    EXPECT_EQ(record.problem, "");
    session.reset();
    EXPECT_GE(factory.Releases(), 1);
}

TEST_F(SessionTest, RetriesGoOnFromWhereASendCutShortStopped) {
    StartSim();
    // Each of the seven failing attempts gets 100 more bytes of chunk 1 out before it fails, as a
    // time-out part-way does; the eighth sends what is left. Sending the packet again from its
    // start would leave the recorder reading payload bytes as headers.
    flaky = std::make_unique<FlakyFactory>(1, 7, 100);
    FlakyFactory& factory = *flaky;
    MakeSession({}, factory);
    Login();
    const auto bytes = PatternBytes("MZ", 3000);
    Choose({dir.Write("fw.bin", bytes)});

    Press(IDC_BIOS);

    EXPECT_THAT(view.CallsStartingWith(kBoxes),
                ElementsAre(Complete("BIOS Upgrade success,Device will reboot!...")));
    const auto attempts = factory.Attempts();
    EXPECT_EQ(attempts.at(1), 8);
    EXPECT_EQ(attempts.at(2), 1);
    const auto record = LastUpgrade();
    EXPECT_EQ(record.problem, "");
    ASSERT_EQ(record.files.size(), 1u);
    EXPECT_EQ(record.files[0].data, bytes);
}

TEST_F(SessionTest, EightFailedSendsEndTheUpgrade) {
    StartSim();
    flaky = std::make_unique<FlakyFactory>(1, 8);
    FlakyFactory& factory = *flaky;
    MakeSession({}, factory);
    Login();
    Choose({dir.Write("fw.bin", PatternBytes("MZ", 3000))});

    const auto calls = Press(IDC_BIOS);

    EXPECT_THAT(calls, ElementsAre("take", "progress 34", RecordingView::Plain("Send Data Error"),
                                   RecordingView::Status("Current Progress"), "progress 0"));
    const auto attempts = factory.Attempts();
    EXPECT_EQ(attempts.at(1), 8);
    EXPECT_EQ(attempts.count(2), 0u) << "nothing is sent after the failed chunk";
    EXPECT_TRUE(session->HasConnection()) << "a failed upgrade keeps the connection";
}

TEST_F(SessionTest, GivingUpInsideAPacketClosesTheConnection) {
    StartSim();
    // All eight attempts fail, each after 100 more bytes of chunk 1 went out: the recorder is left
    // inside the packet and would read whatever came next on the connection as its rest.
    flaky = std::make_unique<FlakyFactory>(1, 8, 100);
    FlakyFactory& factory = *flaky;
    MakeSession({}, factory);
    Login();
    Choose({dir.Write("fw.bin", PatternBytes("MZ", 3000))});

    EXPECT_THAT(Press(IDC_BIOS), ElementsAre("take", "progress 34", RecordingView::Plain("Send Data Error"),
                                             RecordingView::Status("Current Progress"), "progress 0"));
    EXPECT_EQ(factory.Attempts().at(1), 8);
    const auto record = LastUpgrade();
    EXPECT_EQ(record.verdict, "none") << "the recorder saw the connection end inside the upgrade";
    EXPECT_TRUE(session->HasConnection()) << "the object stays, as after any failed upgrade";

    // The next upgrade fails at its start packet instead of running into the broken one.
    Choose({dir.Write("fw2.bin", PatternBytes("MZ", 3000))});
    EXPECT_THAT(Press(IDC_BIOS), Contains(RecordingView::Plain("Send data error")));
    EXPECT_EQ(sim->state().upgrades.size(), 1u);
}

TEST_F(SessionTest, TwoFilesGoAfterOneStartPacketWithChunksFromZeroEach) {
    StartSim();
    MakeSession();
    Login();
    const auto first = PatternBytes("MZ", 3000);
    const auto second = PatternBytes("MZ2", 2500);
    Choose({dir.Write("a.bin", first), dir.Write("b.bin", second)});

    Press(IDC_BIOS);

    const auto record = LastUpgrade();
    const auto state = sim->state();
    EXPECT_EQ(state.upgrades.size(), 1u) << "one start packet";
    EXPECT_EQ(record.announcedLength, 2500u) << "the last classified file's length";
    ASSERT_EQ(record.files.size(), 2u);
    EXPECT_EQ(record.files[0].data, first);
    EXPECT_EQ(record.files[1].data, second);
    // The simulator checks every chunk number against the one due (0 again for the second file).
    EXPECT_EQ(record.problem, "");
    EXPECT_THAT(state.faults, IsEmpty());
    EXPECT_EQ(session->State().m_nChunksSent, 6);
}

TEST_F(SessionTest, TwoBootImagesGoWithBothAndAnnounceTheLastLength) {
    StartSim();
    MakeSession();
    Login();
    Choose({dir.Sparse("small.img", "\xC0\x80", 1000000), dir.Sparse("large.img", "\xC0\x80", 2000000)});
    ASSERT_THAT(view.EnabledUpgradeButtons(), ElementsAre(IDC_BOTH));

    Press(IDC_BOTH);

    const auto record = LastUpgrade();
    EXPECT_EQ(record.kind, KIND_BOOT);
    EXPECT_EQ(record.announcedLength, 2000000u);
    ASSERT_EQ(record.files.size(), 2u);
    EXPECT_EQ(record.files[0].size, 1000000u);
    EXPECT_EQ(record.files[1].size, 2000000u);
    EXPECT_THAT(view.CallsStartingWith(kBoxes),
                ElementsAre(Complete("BOOT Upgrade success,Device will reboot!...")));
}

TEST_F(SessionTest, WorkerThatCannotOpenItsFileReportsTheFileNamesText) {
    StartSim();
    MakeSession();
    Login();
    const std::string path = dir.Write("fw.bin", "MZ");
    Choose({path});
    ::unlink(path.c_str());

    const auto calls = Press(IDC_BIOS);

    EXPECT_THAT(calls,
                ElementsAre("take",
                            RecordingView::Box("Error", MessageIcon::Error, "Open file " + path + " ,failed"),
                            RecordingView::Status("Current Progress"), "progress 0"));
}

// ---- packages

TEST_F(SessionTest, WebPackageIsSentAloneAndDeletedWhileABiosFileStays) {
    StartSim();
    MakeSession();
    Login();
    const std::string first = dir.Write("a.htm", "<html>first page</html>");
    const std::string last = dir.Write("b.htm", "<html>the second, longer page</html>");
    Choose({first, last});

    const auto calls = Press(IDC_WEB);

    EXPECT_THAT(view.CallsStartingWith(kBoxes),
                ElementsAre(Complete("WEB Upgrade success,Device will reboot!...")));
    const auto record = LastUpgrade();
    EXPECT_EQ(record.kind, KIND_WEB);
    EXPECT_EQ(record.announcedLength, std::filesystem::file_size(last))
        << "the last input's length, not the package's";
    ASSERT_EQ(record.files.size(), 1u);
    EXPECT_THAT(record.files[0].entries, ElementsAre("Install.lua", "web.cramfs"));
    EXPECT_THAT(record.files[0].imageNames, Contains("a.htm"));
    EXPECT_THAT(record.files[0].imageNames, Contains("b.htm"));
    EXPECT_EQ(record.problem, "");
    const std::string package = session->State().m_strFiles[0];
    EXPECT_NE(package, "");
    EXPECT_EQ(std::filesystem::path(package).filename(), "tmp_web.bin");
    EXPECT_FALSE(FileExists(package));
    EXPECT_FALSE(FileExists(std::filesystem::path(package).parent_path()));
    EXPECT_EQ(session->State().m_nFileCount, 1);

    const std::string bios = dir.Write("fw.bin", PatternBytes("MZ", 1500));
    Choose({bios});
    Press(IDC_BIOS);
    EXPECT_TRUE(FileExists(bios));
    EXPECT_EQ(LastUpgrade(2).kind, KIND_BIOS);
}

TEST_F(SessionTest, LogoPackageGoesWithItsOwnImage) {
    StartSim();
    MakeSession();
    Login();
    Choose({dir.Write("logo.bmp", "BM" + std::string(200, '\x11'))});

    Press(IDC_LOGO);

    const auto record = LastUpgrade();
    EXPECT_EQ(record.kind, KIND_LOGO);
    ASSERT_EQ(record.files.size(), 1u);
    EXPECT_THAT(record.files[0].entries, ElementsAre("Install.lua", "logo.cramfs"));
    EXPECT_FALSE(FileExists(session->State().m_strFiles[0]));
    // A logo upgrade has no message of its own; the progress reports spare the data failure one.
    EXPECT_THAT(view.CallsStartingWith(kBoxes), IsEmpty());
}

TEST_F(SessionTest, PackageThatCannotBeDeletedIsReported) {
    StartSim();
    MakeSession();
    Login();
    Choose({dir.Write("index.htm", "<html></html>")});
    std::string package;
    view.onMessageBox = [&](const std::string& text) {
        if (text.rfind("WEB Upgrade success", 0) == 0) {
            // Something the deletion cannot remove stands where the package was.
            package = session->State().m_strFiles[0];
            std::filesystem::remove(package);
            std::filesystem::create_directory(package);
            std::ofstream(package + "/stray") << "x";
        }
    };

    const auto calls = Press(IDC_WEB);

    ASSERT_NE(package, "");
    EXPECT_THAT(
        WithoutProgress(calls),
        ElementsAre("take", RecordingView::Status("File has been sent, please wait..."),
                    Complete("WEB Upgrade success,Device will reboot!..."),
                    RecordingView::Status("Current Progress"),
                    RecordingView::Box("Error", MessageIcon::Error, "Delete file " + package + " failed!")));
    std::filesystem::remove_all(std::filesystem::path(package).parent_path());
}

// ---- connection and login

TEST_F(SessionTest, LoginSendsTheRequestAndLogoutClosesTheConnection) {
    StartSim();
    MakeSession();
    Login("admin", "admin");
    EXPECT_THAT(view.Calls(), ElementsAre("take", "login-dialog", "login-ok admin|admin",
                                          RecordingView::Text(IDC_LOGIN, "Logout"),
                                          RecordingView::Enabled(IDC_OPEN_FILES), "end-login"));
    ASSERT_TRUE(sim->waitFor([](const sim::SimState& s) { return s.logins.size() == 1; }, 10s));
    EXPECT_TRUE(sim->state().logins[0].accepted);

    view.ClearCalls();
    session->OnLoginButton();
    EXPECT_THAT(view.Calls(),
                ElementsAre("take", RecordingView::Text(IDC_LOGIN, "Login"),
                            RecordingView::Disabled(IDC_OPEN_FILES), RecordingView::Disabled(IDC_BIOS),
                            RecordingView::Disabled(IDC_WEB), RecordingView::Disabled(IDC_BOOT),
                            RecordingView::Disabled(IDC_BOTH), RecordingView::Disabled(IDC_FONT),
                            RecordingView::Disabled(IDC_LOGO), RecordingView::Disabled(IDC_EXE)));
    EXPECT_FALSE(session->HasConnection());
    EXPECT_TRUE(AllSocketObjectsGone());
}

TEST_F(SessionTest, RefusedLoginClosesTheConnectionAndLeavesTheDialogOpen) {
    StartSim();
    MakeSession();
    view.loginAnswer = std::make_pair(std::string("admin"), std::string("wrong"));
    view.loginWaitsForEnd = false;

    session->OnLoginButton();

    const std::string refused = RecordingView::Box("ERROR", MessageIcon::Exclamation, "Login failed!");
    ASSERT_TRUE(view.WaitFor(refused));
    EXPECT_TRUE(AllSocketObjectsGone());
    EXPECT_FALSE(session->HasConnection());
    ASSERT_TRUE(view.WaitFor("ended login-refused|-1|0"));
    EXPECT_THAT(view.Calls(), ElementsAre("take", "login-dialog", "login-ok admin|wrong", refused,
                                          "ended login-refused|-1|0"));
}

TEST_F(SessionTest, CancelAfterOkDoesNotWithdrawTheLogin) {
    StartSim();
    MakeSession();
    view.loginAnswer = std::make_pair(std::string("admin"), std::string("admin"));
    view.loginWaitsForEnd = false; // the user cancels right after OK

    session->OnLoginButton();

    ASSERT_TRUE(view.WaitFor("end-login"));
    EXPECT_THAT(view.Calls(), ElementsAre("take", "login-dialog", "login-ok admin|admin",
                                          RecordingView::Text(IDC_LOGIN, "Logout"),
                                          RecordingView::Enabled(IDC_OPEN_FILES), "end-login"));
    EXPECT_TRUE(session->HasConnection());
}

TEST_F(SessionTest, FailedConnectKeepsTheObjectUntilTheNextLoginPress) {
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size), 0);
    ::close(probe); // nobody listens there now: the connection is refused at once
    view.boxes.m_strIP = "127.0.0.1";
    view.boxes.m_nPort = ntohs(address.sin_port);
    MakeSession();
    view.loginAnswer = std::make_pair(std::string("admin"), std::string("admin"));
    view.loginWaitsForEnd = false;

    session->OnLoginButton();

    EXPECT_THAT(view.Calls(),
                ElementsAre("take", "login-dialog", "login-ok admin|admin", RecordingView::Disabled(IDC_BIOS),
                            RecordingView::Disabled(IDC_WEB), RecordingView::Disabled(IDC_BOOT),
                            RecordingView::Disabled(IDC_BOTH),
                            RecordingView::Plain("Connect 127.0.0.1 failed!"), "ended connect-failed|-1|0"));
    EXPECT_TRUE(session->HasConnection());
    view.ClearCalls();
    session->OnLoginButton(); // drops the object silently
    EXPECT_FALSE(session->HasConnection());
    EXPECT_THAT(view.CallsStartingWith("login-dialog"), IsEmpty());
}

class NoSockets final : public CNetSocketFactory {
public:
    bool Create(Zorvik::CNetSocketOwner*, Zorvik::CNetSocket**) override { return false; }
    void Release(Zorvik::CNetSocket*&) override {}
};

TEST_F(SessionTest, ConnectionObjectThatCannotBeMadeClosesTheWindow) {
    NoSockets factory;
    MakeSession({}, factory);
    view.loginAnswer = std::make_pair(std::string("a"), std::string("b"));
    view.loginWaitsForEnd = false;
    session->OnLoginButton();
    session->SendMacValue();
    const std::string failed = RecordingView::Plain("CreateObject failed! exit system!");
    const std::string endedCall = "ended no-connection-object|-1|0";
    EXPECT_THAT(view.Calls(), ElementsAre("take", "login-dialog", "login-ok a|b", failed, "close", endedCall,
                                          "take", failed, "close", endedCall));
    session.reset();
}

TEST_F(SessionTest, MacValueGoesOnAConnectionOfItsOwn) {
    StartSim();
    MakeSession();
    Login();
    view.boxes.m_dwMacValue = 0xDEADBEEF;
    view.ClearCalls();

    session->SendMacValue();

    EXPECT_THAT(view.Calls(), ElementsAre("take", "ended success|-1|0"));
    ASSERT_TRUE(sim->waitFor([](const sim::SimState& s) { return !s.macValues.empty(); }, 10s));
    EXPECT_THAT(sim->state().macValues, ElementsAre(0xDEADBEEFu));
    EXPECT_EQ(sim->state().connections, 2u);
    EXPECT_TRUE(session->HasConnection());
}

TEST_F(SessionTest, UpgradeButtonWithoutConnectionReportsASendFailure) {
    MakeSession();
    const std::string path = dir.Write("fw.bin", "MZ");
    session->ClassifyCommandLineFile(path);
    ASSERT_THAT(view.EnabledUpgradeButtons(), ElementsAre(IDC_BIOS));
    view.ClearCalls();

    session->OnUpgradeButton(IDC_BIOS);

    EXPECT_THAT(view.Calls(), ElementsAre("take", RecordingView::Plain("Send data error"),
                                          "ended send-failed|-1|0", RecordingView::Disabled(IDC_BIOS)));
    EXPECT_FALSE(session->IsBusy());
}

TEST_F(SessionTest, WebButtonWithoutConnectionLeavesNoPackageBehind) {
    MakeSession();
    session->ClassifyCommandLineFile(dir.Write("index.htm", "<html></html>"));
    session->OnUpgradeButton(IDC_WEB);
    EXPECT_THAT(view.CallsStartingWith(kBoxes), ElementsAre(RecordingView::Plain("Send data error")));
    const std::string package = session->State().m_strFiles[0];
    ASSERT_NE(package, "");
    EXPECT_FALSE(FileExists(package));
    EXPECT_FALSE(FileExists(std::filesystem::path(package).parent_path()));
}

// ---- releasing the connection while an upgrade runs

// A recorder that stops reading after the first bytes, so that the worker is caught mid-stream.
void StallingRecorder(sim::SimOptions& o) {
    o.receiveBuffer = 4096;
    o.upgrade.stall = 60s;
    o.upgrade.stallAfterBytes = 64 * 1024;
    o.upgrade.keepData = false;
}

TEST_F(SessionTest, LogoutDuringAnUpgradeEndsItWithoutTouchingAReleasedObject) {
    StartSim(StallingRecorder);
    MakeSession();
    Login();
    Choose({dir.Sparse("fw.bin", "MZ", 64 * 1024 * 1024)});
    const size_t mark = view.Mark();
    session->OnUpgradeButton(IDC_BIOS);
    ASSERT_TRUE(view.WaitFor("progress 0", mark));
    session->OnUpgradeButton(IDC_BIOS); // busy: nothing
    EXPECT_TRUE(session->IsBusy());

    session->OnLoginButton(); // logout while the worker is sending

    ASSERT_TRUE(session->WaitUntilIdle(30s));
    EXPECT_THAT(view.CallsStartingWith(kBoxes), ElementsAre(RecordingView::Plain("Send Data Error")));
    EXPECT_EQ(view.TextOf(IDC_LOGIN), "Login");
    EXPECT_FALSE(session->HasConnection());
    EXPECT_TRUE(AllSocketObjectsGone());
}

TEST_F(SessionTest, ClosingTheSessionStopsAStreamingUpgradeAtOnce) {
    StartSim(StallingRecorder);
    MakeSession();
    Login();
    Choose({dir.Sparse("fw.bin", "MZ", 64 * 1024 * 1024)});
    const size_t mark = view.Mark();
    session->OnUpgradeButton(IDC_BIOS);
    ASSERT_TRUE(view.WaitFor("progress 0", mark));

    session->RequestStop();
    EXPECT_TRUE(session->WaitUntilStopped(20s));
    session.reset();

    EXPECT_THAT(view.CallsStartingWith(kBoxes), IsEmpty());
}

TEST_F(SessionTest, ClosingTheSessionEndsTheVerdictWait) {
    StartSim([](sim::SimOptions& o) { o.upgrade.verdict = sim::Verdict::Silence; });
    MakeSession(); // the full twenty minutes
    Login();
    Choose({dir.Write("index.htm", "<html></html>")});
    const size_t mark = view.Mark();
    session->OnUpgradeButton(IDC_WEB);
    ASSERT_TRUE(view.WaitFor(RecordingView::Status("File has been sent, please wait..."), mark));
    const std::string package = session->State().m_strFiles[0];

    session.reset();

    EXPECT_THAT(view.CallsStartingWith(kBoxes), IsEmpty());
    EXPECT_FALSE(FileExists(package)) << "the package goes even when the session ends";
}

// ---- replies the simulated recorder never sends

class ScriptedSessionTest : public SessionTest {
protected:
    void SetUp() override {
        peer.OnRequest([this](TestPeer& p, const RequestEvent& r) {
            if (r.type == RequestType::Login) {
                p.Reply(BuildLoginReply(0));
            } else if (onRequest) {
                onRequest(p, r);
            }
        });
        view.boxes.m_strIP = "127.0.0.1";
        view.boxes.m_nPort = peer.Port();
    }

    std::function<void(TestPeer&, const RequestEvent&)> onRequest;
    TestPeer peer;
};

TEST_F(ScriptedSessionTest, StrayRefusalDuringAnUpgradeEndsItWithoutTouchingAReleasedObject) {
    onRequest = [](TestPeer& p, const RequestEvent& r) {
        if (r.type == RequestType::Data && r.chunkNumber == 10) {
            p.SetReading(false);         // the worker blocks on full buffers ...
            p.Reply(BuildLoginReply(1)); // ... while the refusal closes its connection
        }
    };
    MakeSession();
    Login();
    Choose({dir.Sparse("fw.bin", "MZ", 64 * 1024 * 1024)});

    const auto calls = Press(IDC_BIOS);

    EXPECT_THAT(view.CallsStartingWith(kBoxes),
                ElementsAre(RecordingView::Box("ERROR", MessageIcon::Exclamation, "Login failed!"),
                            RecordingView::Plain("Send Data Error")));
    EXPECT_FALSE(session->HasConnection());
    EXPECT_TRUE(AllSocketObjectsGone());
}

TEST_F(ScriptedSessionTest, ProgressFromAnEarlierUpgradeSparesTheDataFailureMessage) {
    bool first = true;
    onRequest = [&](TestPeer& p, const RequestEvent& r) {
        if (r.type == RequestType::End && first) {
            first = false;
            // Answer once the worker is waiting, so that the view's lines come in one order.
            view.WaitFor(RecordingView::Status("File has been sent, please wait..."));
            p.Reply(BuildUpgradeReply("", 2, 0));
            p.Reply(BuildUpgradeReply("", 2, 40));
            p.Reply(BuildUpgradeReply("", 2, 100));
        }
    };
    SessionTimings timings;
    timings.verdictWaitMs = 300;
    MakeSession(timings);
    Login();
    Choose({dir.Write("fw.bin", PatternBytes("MZ", 1000))});
    EXPECT_THAT(Press(IDC_BIOS),
                ElementsAre("take", "progress 100",
                            RecordingView::Status("File has been sent, please wait..."), "progress 0",
                            "progress 0", "progress 0", "progress 40", "progress 0", "progress 100",
                            Complete("BIOS Upgrade success,Device will reboot!..."),
                            RecordingView::Status("Current Progress"), "progress 0"));

    Choose({dir.Write("fw2.bin", PatternBytes("MZ", 1000))});
    EXPECT_THAT(Press(IDC_BIOS), ElementsAre("take", "progress 100",
                                             RecordingView::Status("File has been sent, please wait..."),
                                             Failed("BIOS Upgrade Failed!"),
                                             RecordingView::Status("Current Progress"), "progress 0"));
    EXPECT_TRUE(peer.WaitForRequests(RequestType::Start, 2));
}

TEST(PutDataPacketHeader, WritesTheHeaderInFrontOfThePayload) {
    std::vector<uint8_t> packet(32 + 3, 0xEE);
    PutDataPacketHeader(packet.data(), 0x01020304, 3);
    const std::vector<uint8_t> expected = {0xC7, 0,    0, 0, 3, 0, 0, 0, 0,    0,    0x04, 0x03,
                                           0x02, 0x01, 0, 0, 0, 0, 0, 0, 0,    0,    0,    0,
                                           0,    0,    0, 0, 0, 0, 0, 0, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(packet, expected);
}

} // namespace
