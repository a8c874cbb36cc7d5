// What a batch is made of, without a window: the queue that runs rows a number at a time and
// stops starting them, the report it leaves behind, and the scan lists it is given.

#include "upgrade/UpgradeBatch.h"
#include "tests/common/CsvText.h"
#include "upgrade/BatchReport.h"
#include "upgrade/RecorderAddressCheck.h"
#include "upgrade/RecorderList.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

using namespace std::chrono_literals;

namespace {

std::chrono::system_clock::time_point At(int hour, int minute, int second) {
    // 2026-12-10 in seconds since the epoch, then the time of day.
    return std::chrono::system_clock::time_point(
        std::chrono::seconds(1796860800 + hour * 3600 + minute * 60 + second));
}

} // namespace

TEST(BatchReport, LinesAsWrittenByHand) {
    BatchRecord done;
    done.address = "10.0.0.5";
    done.mac = "00:11:22:33:44:55";
    done.files = {"/fw/a.bin", "/fw/b, c.bin"};
    done.kind = "BIOS image";
    done.result = UpgradeResult{UpgradeEnding::Success, 100, 6000, "Upgrade success!"};
    done.started = At(7, 31, 16);
    done.ended = At(7, 33, 2);
    BatchRecord hostile;
    hostile.address = "10.0.0.6";
    hostile.port = 37778;
    hostile.mac = "\x1b[2J=cmd";
    hostile.files = {"=HYPERLINK(\"x\")"};
    hostile.kind = "web pages";
    hostile.result = UpgradeResult{UpgradeEnding::LoginRefused, -1, 0, ""};
    hostile.started = At(7, 31, 16);
    hostile.ended = At(7, 31, 17);
    BatchRecord waiting;
    waiting.address = "10.0.0.7";

    EXPECT_EQ(BatchReportCsv({done, hostile, waiting}),
              "Address,Port,MAC,Files,Kind,Result,Last percent,Bytes sent,Start,End\r\n"
              "10.0.0.5,37777,00:11:22:33:44:55,\"/fw/a.bin; /fw/b, c.bin\",BIOS image,success,100,6000,"
              "2026-12-10T07:31:16Z,2026-12-10T07:33:02Z\r\n"
              "10.0.0.6,37778,\\x1b[2J=cmd,\"'=HYPERLINK(\"\"x\"\")\",web pages,login-refused,,0,"
              "2026-12-10T07:31:16Z,2026-12-10T07:31:17Z\r\n"
              "10.0.0.7,37777,,,,not ended,,,,\r\n");
    // Read back by the tests' own reader: ten cells on every line.
    for (const auto& record : ParseCsv(BatchReportCsv({done, hostile, waiting}), "\r\n").records) {
        EXPECT_EQ(record.size(), 10u);
    }
}

TEST(RecorderList, TakesTheMacOfEitherFormatWhenThereIsOne) {
    const struct {
        const char* text;
        std::vector<std::string> macs;
    } cases[] = {
        {"No.,IP Address,Port Number,Subnet Mask,Default Gateway,Mac Address \r\n"
         "1,10.0.0.5,37777,255.255.255.0,10.0.0.1,00:11:22:33:44:55\r\n"
         "2,10.0.0.6,37778,255.255.255.0,10.0.0.1,\r\n",
         {"00:11:22:33:44:55", ""}},
        {"IP Address,Port Number\n10.0.0.5,37777\n", {""}},
        {R"([{"ip":"10.0.0.5","port":37777,"mac":"aa:bb"},{"ip":"10.0.0.6","port":1},)"
         R"({"ip":"10.0.0.7","port":2,"mac":5}])",
         {"aa:bb", "", ""}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> macs;
        for (const ListedRecorder& r : ParseRecorderList(c.text, "list")) {
            macs.push_back(r.mac);
        }
        EXPECT_EQ(macs, c.macs) << c.text;
    }
}

TEST(RecorderList, CheckedAddressTakesOnlyDottedAddressesAndPortsInRange) {
    const struct {
        ListedRecorder listed;
        const char* error; // empty: accepted
    } cases[] = {
        {{"10.0.0.5", "37777", ""}, ""},
        {{"10.0.0.5", "65535", ""}, ""},
        {{"10.0.0.5", "0", ""}, "list: 10.0.0.5:0: the port must be a number from 1 to 65535"},
        {{"10.0.0.5", "65536", ""}, "list: 10.0.0.5:65536: the port must be a number from 1 to 65535"},
        {{"10.0.0.5", "-1", ""}, "list: 10.0.0.5:-1: the port must be a number from 1 to 65535"},
        {{"10.0.0.5", "", ""}, "list: 10.0.0.5:: the port must be a number from 1 to 65535"},
        {{"recorder\x1b", "1", ""}, "list: recorder\\x1b:1: not a dotted IPv4 address"},
    };
    for (const auto& c : cases) {
        try {
            const RecorderAddress address = CheckedAddress(c.listed, "list");
            EXPECT_STREQ(c.error, "") << c.listed.Text();
            EXPECT_EQ(address.Text(), c.listed.Text());
        } catch (const RecorderListError& e) {
            EXPECT_EQ(e.what(), std::string(c.error));
        }
    }
}

// What is no list is refused without being read whole: a device that never ends, a folder.
TEST(RecorderList, ReadsNoFurtherThanAListCanBe) {
    const struct {
        const char* path;
        const char* error;
    } cases[] = {
        {"/dev/zero", "/dev/zero: larger than 16 MB, too large for a list of recorders"},
        {"/", "/: cannot be read"},
        {"/dev/null", "/dev/null: the file names no recorder"},
    };
    for (const auto& c : cases) {
        try {
            ReadRecorderList(c.path);
            ADD_FAILURE() << c.path << " was taken for a list";
        } catch (const RecorderListError& e) {
            EXPECT_EQ(e.what(), std::string(c.error));
        }
    }
}

// The one rule behind --host and the lists: a text names its port or takes the one given.
TEST(RecorderAddressCheck, NamesARecorderOrSaysWhyNot) {
    const struct {
        const char* text;
        const char* address; // "host:port" when accepted
        const char* refusal;
    } cases[] = {
        {"10.0.0.5", "10.0.0.5:37777", ""},
        {"10.0.0.5:80", "10.0.0.5:80", ""},
        {"10.0.0.5:080", "10.0.0.5:80", ""},
        {"10.0.0.5:", "", "the port must be a number from 1 to 65535"},
        {"10.0.0.5:123456", "", "the port must be a number from 1 to 65535"},
        {"10.0.0.5:1:2", "", "the port must be a number from 1 to 65535"},
        {"10.0.0.300:0", "", "the port must be a number from 1 to 65535"},
        {"10.0.0.300", "", "not a dotted IPv4 address"},
        {"", "", "not a dotted IPv4 address"},
        {" 10.0.0.5", "", "not a dotted IPv4 address"},
        {"host.example:80", "", "not a dotted IPv4 address"},
    };
    for (const auto& c : cases) {
        const RecorderAddressCheck check = CheckRecorderAddress(c.text, 37777);
        EXPECT_EQ(check.address ? check.address->Text() : "", c.address) << c.text;
        EXPECT_EQ(check.refusal, c.refusal) << c.text;
    }
}

// The queue's threads, watched by the rows themselves.
class BatchQueue : public ::testing::Test {
protected:
    // Runs `count` rows `jobs` at a time; each row calls `during` first.
    void Run(size_t count, unsigned jobs, const std::function<void(size_t)>& during = {}) {
        m_ran.assign(count, 0);
        m_skipped.assign(count, 0);
        BatchRows rows;
        rows.run = [&](size_t row) {
            {
                std::lock_guard lock(m_lock);
                ++m_ran[row];
                m_mostAtOnce = std::max(m_mostAtOnce, ++m_atOnce);
            }
            if (during) {
                during(row);
            }
            std::lock_guard lock(m_lock);
            --m_atOnce;
        };
        rows.skipped = [&](size_t row) {
            std::lock_guard lock(m_lock);
            ++m_skipped[row];
        };
        RunUpgradeBatch(count, jobs, m_stopper, rows);
    }

    // Holds each of the first `n` rows until all `n` run at once; false when they never did.
    std::function<void(size_t)> TogetherAtFirst(size_t n) {
        return [this, n](size_t row) {
            if (row >= n) {
                return;
            }
            std::unique_lock lock(m_lock);
            // Arrivals only count up: a row that saw all n may end before the others wake.
            ++m_arrived;
            m_changed.notify_all();
            const bool together = m_changed.wait_for(lock, 20s, [&] { return m_arrived >= n; });
            m_together = m_together && together;
        };
    }

    UpgradeStopper m_stopper;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<int> m_ran;
    std::vector<int> m_skipped;
    size_t m_atOnce = 0;
    size_t m_mostAtOnce = 0;
    size_t m_arrived = 0;
    bool m_together = true;
};

TEST_F(BatchQueue, RunsEveryRowOnceAndJobsAtATime) {
    const struct {
        size_t count;
        unsigned jobs;
        size_t together;
    } cases[] = {{7, 3, 3}, {2, 8, 2}, {5, 1, 1}, {0, 4, 0}};
    for (const auto& c : cases) {
        m_together = true;
        m_mostAtOnce = m_arrived = 0;
        Run(c.count, c.jobs, TogetherAtFirst(c.together));
        EXPECT_EQ(m_ran, std::vector<int>(c.count, 1)) << c.count << " rows, " << c.jobs << " jobs";
        EXPECT_EQ(m_skipped, std::vector<int>(c.count, 0));
        EXPECT_TRUE(m_together) << c.count << " rows, " << c.jobs << " jobs";
        EXPECT_EQ(m_mostAtOnce, c.together);
    }
}

TEST_F(BatchQueue, AStopStartsNoFurtherRowButTellsEachOneSkipped) {
    Run(4, 1, [&](size_t row) {
        if (row == 1) {
            m_stopper.StopSending();
        }
    });
    EXPECT_EQ(m_ran, (std::vector<int>{1, 1, 0, 0}));
    EXPECT_EQ(m_skipped, (std::vector<int>{0, 0, 1, 1}));
    EXPECT_TRUE(m_stopper.Stopped());
}
