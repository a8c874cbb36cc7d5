// kestrion-cli run as a child process against recorder-sim on free loopback ports: every way an
// upgrade can end, with its exit status and the window's messages, batches of recorders, the
// password sources, and the commands that need no recorder.

#include "simulator/SimProcess.h"
#include "tests/common/ChildProgram.h"
#include "tests/upgrade/TestFiles.h"
#include "upgrade/cli/ExitStatus.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

namespace {

const std::string kCli = KST_BIN_DIR "/kestrion-cli";
const std::string kWebDir = KST_SOURCE_DIR "/demo/web";

std::vector<std::string> DemoPages() {
    return {kWebDir + "/index.htm", kWebDir + "/live.htm", kWebDir + "/setup.htm"};
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A recorder-sim that answers quickly: short settle time and progress interval.
std::vector<std::string> SimArgs(std::vector<std::string> more) {
    std::vector<std::string> args = {"--settle", "50", "--progress-interval", "5", "--verbose"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

class KestrionCli : public ::testing::Test {
protected:
    void SetUp() override {
        m_passwordFile = m_dir.Write("pw", "admin\n");
        // The packages the tool builds go here, so that the test sees whether any is left.
        m_tmp = m_dir / "tmp";
        std::filesystem::create_directory(m_tmp);
    }

    // kestrion-cli upgrade against one recorder, with the account's password from a file.
    std::vector<std::string> UpgradeArgs(uint16_t port, std::vector<std::string> more,
                                         const std::vector<std::string>& files) {
        std::vector<std::string> args = {
            kCli,     "upgrade", "--host",          "127.0.0.1:" + std::to_string(port),
            "--user", "admin",   "--password-file", m_passwordFile};
        args.insert(args.end(), more.begin(), more.end());
        args.insert(args.end(), files.begin(), files.end());
        return args;
    }

    ChildResult Run(const std::vector<std::string>& args, std::map<std::string, std::string> env = {}) {
        env["TMPDIR"] = m_tmp;
        return RunProgram(args, {.env = env});
    }

    bool NoPackageLeft() const { return std::filesystem::is_empty(m_tmp); }

    std::string Bios(const std::string& name = "bios.bin") const {
        return m_dir.Write(name, std::string("VX") + std::string(3000, 'b'));
    }

    TempDir m_dir;
    std::string m_passwordFile;
    std::string m_tmp;
};

bool SimSaw(const sim::SimProcess& recorder, const std::string& part, std::chrono::milliseconds limit = 10s) {
    return recorder.waitForLine([&](const std::string& line) { return Has(line, part); }, limit);
}

bool SimPrinted(const sim::SimProcess& recorder, const std::string& part) {
    const auto lines = recorder.lines();
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return Has(l, part); });
}

uint16_t ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

} // namespace

TEST_F(KestrionCli, WebPagesUpgradeToSuccessWithProgressAndNoPackageLeft) {
    sim::SimProcess recorder(SimArgs({}));
    const ChildResult r = Run(UpgradeArgs(recorder.tcpPort(), {}, DemoPages()));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "Logged in.")) << r.out;
    // Not a terminal: the progress comes as plain lines, of the stream and then of the recorder.
    EXPECT_TRUE(Has(r.out, "Sending  100%")) << r.out;
    EXPECT_TRUE(Has(r.out, "File has been sent, please wait...")) << r.out;
    EXPECT_TRUE(Has(r.out, "Recorder 25%")) << r.out;
    EXPECT_TRUE(Has(r.out, "Recorder 100%")) << r.out;
    EXPECT_TRUE(Has(r.out, "Complete: WEB Upgrade success,Device will reboot!...")) << r.out;
    EXPECT_LT(r.out.find("File has been sent"), r.out.find("Recorder 100%"));
    // The last reply was a progress report, so the window shows no data failure either.
    EXPECT_FALSE(Has(r.err, "Failed")) << r.err;
    EXPECT_TRUE(NoPackageLeft());
    // The recorder took one web package, checked and complete.
    EXPECT_TRUE(SimSaw(recorder, "upgrade 1: web, 1 file"));
    EXPECT_TRUE(SimSaw(recorder, "verdict progress"));
    EXPECT_FALSE(SimPrinted(recorder, "fault"));
}

TEST_F(KestrionCli, RightWordIsSuccessWithNoFailureAfterIt) {
    sim::SimProcess recorder(SimArgs({"--verdict", "right"}));
    const ChildResult r = Run(UpgradeArgs(recorder.tcpPort(), {}, {Bios()}));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "Complete: BIOS Upgrade success,Device will reboot!...")) << r.out;
    EXPECT_FALSE(Has(r.err, "Failed")) << r.err;
    EXPECT_TRUE(SimSaw(recorder, "upgrade 1: BIOS"));
}

TEST_F(KestrionCli, AWordSentWithTheLoginReplyDecidesNothing) {
    // "right" with the login reply, then "error" for the upgrade: every run ends with the error,
    // at once, although the wait is long.
    sim::SimProcess recorder(SimArgs({"--verdict", "error", "--word-with-login", "right"}));
    const std::string bios = Bios();
    for (int run = 0; run < 50; ++run) {
        const ChildResult r = Run(UpgradeArgs(recorder.tcpPort(), {"--wait", "600"}, {bios}));
        ASSERT_EQ(r.status, 10) << "run " << run << "\n" << r.out << r.err;
    }
}

TEST_F(KestrionCli, JsonGivesOneObjectPerRecorderAndNothingElse) {
    sim::SimProcess good(SimArgs({"--progress-step", "250", "--progress-until", "250"}));
    sim::SimProcess bad(SimArgs({"--verdict", "error"}));
    const std::string bios = Bios();
    std::vector<std::string> args = {kCli,
                                     "upgrade",
                                     "--host",
                                     "127.0.0.1:" + std::to_string(good.tcpPort()),
                                     "--host",
                                     "127.0.0.1:" + std::to_string(bad.tcpPort()),
                                     "--user",
                                     "admin",
                                     "--password-file",
                                     m_passwordFile,
                                     "--format",
                                     "json",
                                     "--wait",
                                     "600",
                                     bios};
    const ChildResult r = Run(args);
    EXPECT_EQ(r.status, 10) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "Error: BIOS Upgrade Failed!")) << r.err;

    std::vector<nlohmann::json> lines;
    std::istringstream out(r.out);
    for (std::string line; std::getline(out, line);) {
        lines.push_back(nlohmann::json::parse(line)); // throws on anything that is no JSON
    }
    ASSERT_EQ(lines.size(), 2u) << r.out;
    const struct {
        uint16_t port;
        const char* result;
        int status;
        int lastPercent;
    } expected[] = {{good.tcpPort(), "success", 0, 250}, {bad.tcpPort(), "recorder-error", 10, -1}};
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(lines[i]["host"], "127.0.0.1");
        EXPECT_EQ(lines[i]["port"], expected[i].port);
        EXPECT_EQ(lines[i]["result"], expected[i].result);
        EXPECT_EQ(lines[i]["status"], expected[i].status);
        EXPECT_EQ(lines[i]["lastPercent"], expected[i].lastPercent);
        EXPECT_EQ(lines[i]["bytesSent"], 3002);
        EXPECT_TRUE(lines[i]["seconds"].is_number());
    }
}

// A web upgrade builds its package while the JSON lines are being written: the image writer's
// report goes to standard error and standard output stays JSON alone, with every job at once.
TEST_F(KestrionCli, JsonStaysAloneOnStandardOutputWhilePackagesAreBuilt) {
    sim::SimProcess first(SimArgs({"--verdict", "right"}));
    sim::SimProcess second(SimArgs({"--verdict", "right"}));
    std::vector<std::string> args = {kCli,
                                     "upgrade",
                                     "--host",
                                     "127.0.0.1:" + std::to_string(first.tcpPort()),
                                     "--host",
                                     "127.0.0.1:" + std::to_string(second.tcpPort()),
                                     "--jobs",
                                     "2",
                                     "--user",
                                     "admin",
                                     "--password-file",
                                     m_passwordFile,
                                     "--format",
                                     "json"};
    for (const std::string& page : DemoPages()) {
        args.push_back(page);
    }
    const ChildResult r = Run(args);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "Super block: 76 bytes")) << r.err;
    std::istringstream out(r.out);
    size_t lines = 0;
    for (std::string line; std::getline(out, line); ++lines) {
        EXPECT_EQ(nlohmann::json::parse(line)["result"], "success") << r.out;
    }
    EXPECT_EQ(lines, 2u) << r.out;
}

// The exit status comes from the ending alone: no message text is looked at, so rewording one
// cannot change a status. Every ending and the status documented for it.
TEST(KestrionStatusOf, EveryEndingHasItsDocumentedStatus) {
    const std::pair<UpgradeEnding, int> table[] = {
        {UpgradeEnding::Success, 0},       {UpgradeEnding::NoConnectionObject, 1},
        {UpgradeEnding::FileRefused, 3},   {UpgradeEnding::PackageFailed, 4},
        {UpgradeEnding::ConnectFailed, 5}, {UpgradeEnding::LoginRefused, 6},
        {UpgradeEnding::NoLoginReply, 7},  {UpgradeEnding::SendFailed, 8},
        {UpgradeEnding::NoVerdict, 9},     {UpgradeEnding::RecorderError, 10},
        {UpgradeEnding::Stopped, 130},
    };
    for (const auto& [ending, status] : table) {
        EXPECT_EQ(ExitCode(StatusOf(ending)), status) << EndingWord(ending);
    }
}

TEST_F(KestrionCli, FontUpgradeSucceedsWithoutAnyMessage) {
    sim::SimProcess recorder(SimArgs({}));
    const std::string font = m_dir.Write("font.hzk", std::string(5000, 'f'));
    const ChildResult r = Run(UpgradeArgs(recorder.tcpPort(), {}, {font}));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(Has(r.out, "Complete:")) << r.out;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_TRUE(Has(r.out, "succeeded")) << r.out;
}

TEST_F(KestrionCli, RefusedLoginEndsWithItsStatusAndSendsNothing) {
    sim::SimProcess recorder(SimArgs({"--password", "other"}));
    const ChildResult r = Run(UpgradeArgs(recorder.tcpPort(), {}, DemoPages()));
    EXPECT_EQ(r.status, 6) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "ERROR: Login failed!")) << r.err;
    EXPECT_FALSE(Has(r.out, "Logged in.")) << r.out;
    EXPECT_TRUE(SimSaw(recorder, "refused"));
    EXPECT_FALSE(SimPrinted(recorder, "upgrade 1"));
    EXPECT_TRUE(NoPackageLeft());
}

TEST_F(KestrionCli, RefusedFilesEndBeforeAnyRecorderIsContacted) {
    sim::SimProcess recorder(SimArgs({}));
    struct Case {
        std::vector<std::string> files;
        std::string message;
    };
    const std::string text = m_dir.Write("notes.txt", "hello");
    const std::vector<Case> cases = {
        {{text}, "Kestrion: Not BIOS Upgrade file!"},
        {{Bios(), kWebDir + "/index.htm"}, "Kestrion: These files are not the same styles!"},
        {{m_dir / "missing.bin"}, "Error: Open file " + (m_dir / "missing.bin").string() + " ,failed"},
        {std::vector<std::string>(11, kWebDir + "/index.htm"),
         "Kestrion: Too many files! At most 10 files can be sent at once."},
    };
    for (const Case& c : cases) {
        const ChildResult r = Run(UpgradeArgs(recorder.tcpPort(), {}, c.files));
        EXPECT_EQ(r.status, 3) << c.message << "\n" << r.out << r.err;
        EXPECT_TRUE(Has(r.err, c.message)) << r.err;
        EXPECT_FALSE(Has(r.out, "Logging in")) << r.out;
    }
    EXPECT_FALSE(SimPrinted(recorder, "login as"));
}

TEST_F(KestrionCli, SilenceAndErrorEndWithTheirOwnStatuses) {
    struct Case {
        const char* verdict;
        int status;
        const char* line;
        const char* wait;
    };
    // "error" ends the wait at once: a wait of ten minutes would outlast the test.
    for (const Case& c :
         {Case{"silence", 9, "No verdict from", "0.5"}, Case{"error", 10, "answered \"error\"", "600"}}) {
        sim::SimProcess recorder(SimArgs({"--verdict", c.verdict}));
        const ChildResult r = Run(UpgradeArgs(recorder.tcpPort(), {"--wait", c.wait}, {Bios()}));
        EXPECT_EQ(r.status, c.status) << c.verdict << "\n" << r.out << r.err;
        EXPECT_TRUE(Has(r.out, "File has been sent, please wait...")) << r.out;
        // The window's messages for a BIOS upgrade without verdict.
        EXPECT_TRUE(Has(r.err, "Error: BIOS Upgrade Failed!")) << r.err;
        EXPECT_TRUE(Has(r.err, "Error: Send bios data Failed!")) << r.err;
        EXPECT_TRUE(Has(r.err, c.line)) << r.err;
        EXPECT_LT(r.err.find("BIOS Upgrade Failed!"), r.err.find("Send bios data Failed!"));
    }
}

TEST_F(KestrionCli, NoRecorderListeningIsAConnectFailure) {
    const uint16_t port = ClosedPort();
    const ChildResult r = Run(UpgradeArgs(port, {}, {Bios()}));
    EXPECT_EQ(r.status, 5) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "Kestrion: Connect 127.0.0.1 failed!")) << r.err;
}

TEST_F(KestrionCli, ThreeRecordersInParallelEndWithATable) {
    sim::SimProcess a(SimArgs({})), b(SimArgs({})), c(SimArgs({}));
    std::vector<std::string> args = {kCli,     "upgrade", "--jobs",         "3",
                                     "--user", "admin",   "--password-env", "KST_DVR_PW"};
    for (const auto* s : {&a, &b, &c}) {
        args.push_back("--host");
        args.push_back("127.0.0.1:" + std::to_string(s->tcpPort()));
    }
    for (const auto& page : DemoPages()) {
        args.push_back(page);
    }
    const ChildResult r = Run(args, {{"KST_DVR_PW", "admin"}});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    for (const auto* s : {&a, &b, &c}) {
        const std::string name = "127.0.0.1:" + std::to_string(s->tcpPort());
        // Every line of a recorder carries its name; the table ends the output.
        EXPECT_TRUE(Has(r.out, "[" + name + "] Complete: WEB Upgrade success,Device will reboot!..."))
            << r.out;
        const auto row = r.out.find("\n" + name + "  ");
        ASSERT_NE(row, std::string::npos) << r.out;
        EXPECT_TRUE(Has(r.out.substr(row, r.out.find('\n', row + 1) - row), "upgraded")) << r.out;
        EXPECT_TRUE(SimSaw(*s, "upgrade 1: web"));
    }
    EXPECT_TRUE(Has(r.out, "Recorder") && Has(r.out, "Result")) << r.out;
    EXPECT_TRUE(NoPackageLeft());
}

// The lists are written out by hand as pellory-cli scan writes them, header and quoting included.
TEST_F(KestrionCli, HostsFromEitherListFormatAddToHostAndEachEndPrintsItsLine) {
    sim::SimProcess a(SimArgs({})), b(SimArgs({"--verdict", "error"})), c(SimArgs({}));
    const auto port = [](const sim::SimProcess& s) { return std::to_string(s.tcpPort()); };
    const std::string csv =
        m_dir.Write("list.csv", "No.,IP Address,Port Number,Subnet Mask,Default Gateway,\"Mac Address \"\r\n"
                                "1,127.0.0.1," +
                                    port(a) +
                                    ",255.0.0.0,127.0.0.254,\"00:11:22:33:44:55, x\"\r\n"
                                    "2,127.0.0.1," +
                                    port(b) + ",255.0.0.0,127.0.0.254,\"a \"\"b\"\"\"\r\n");
    const std::string json = m_dir.Write(
        "list.json",
        "[\n  {\n    \"no\": 1,\n    \"ip\": \"127.0.0.1\",\n    \"port\": " + port(a) +
            ",\n    \"mask\": \"255.0.0.0\",\n    \"gateway\": \"127.0.0.254\",\n    \"mac\": \"m\"\n  },\n"
            "  {\"no\": 2, \"ip\": \"127.0.0.1\", \"port\": " +
            port(b) + ", \"mask\": \"\", \"gateway\": \"\", \"mac\": \"\"}\n]\n");
    for (const std::string& list : {csv, json}) {
        const ChildResult r = Run({kCli, "upgrade", "--hosts-from", list, "--host", "127.0.0.1:" + port(c),
                                   "--jobs", "3", "--user", "admin", "--password-file", m_passwordFile,
                                   "--format", "json", "--wait", "600", Bios()});
        EXPECT_EQ(r.status, 10) << list << "\n" << r.out << r.err;
        std::map<std::string, std::string> results;
        std::istringstream out(r.out);
        for (std::string line; std::getline(out, line);) {
            const nlohmann::json j = nlohmann::json::parse(line);
            results[std::to_string(j["port"].get<int>())] = j["result"];
        }
        const std::map<std::string, std::string> expected = {
            {port(a), "success"}, {port(b), "recorder-error"}, {port(c), "success"}};
        EXPECT_EQ(results, expected) << list << "\n" << r.out;
    }
}

TEST_F(KestrionCli, BatchReportsTheFailuresInItsTableAndStatus) {
    sim::SimProcess good(SimArgs({})), refusing(SimArgs({"--password", "other"})),
        silent(SimArgs({"--verdict", "silence"}));
    auto args = [&](std::vector<const sim::SimProcess*> recorders) {
        std::vector<std::string> a = {kCli,     "upgrade", "--jobs",          "3",           "--wait", "0.5",
                                      "--user", "admin",   "--password-file", m_passwordFile};
        for (const auto* s : recorders) {
            a.push_back("--host");
            a.push_back("127.0.0.1:" + std::to_string(s->tcpPort()));
        }
        a.push_back(Bios());
        return a;
    };
    // One kind of failure: its own status.
    ChildResult r = Run(args({&good, &refusing}));
    EXPECT_EQ(r.status, 6) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "login refused")) << r.out;
    EXPECT_TRUE(Has(r.out, "upgraded")) << r.out;
    // Two kinds: the status that says so.
    r = Run(args({&good, &refusing, &silent}));
    EXPECT_EQ(r.status, 11) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "no verdict in time")) << r.out;
}

TEST_F(KestrionCli, PasswordIsAskedOnTheTerminalWithoutEcho) {
    sim::SimProcess recorder(SimArgs({}));
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);

    ChildProgram child({kCli, "upgrade", "--host", "127.0.0.1:" + std::to_string(recorder.tcpPort()),
                        "--user", "admin", Bios()},
                       {.env = {{"TMPDIR", m_tmp}}, .terminal = slave});
    // Read what the terminal shows until the prompt is there, then type the password.
    std::string screen;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!Has(screen, "Password for admin: ") && std::chrono::steady_clock::now() < deadline) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 200) > 0) {
            char buffer[256];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) {
                screen.append(buffer, static_cast<size_t>(n));
            }
        }
    }
    ASSERT_TRUE(Has(screen, "Password for admin: ")) << screen;
    ASSERT_EQ(::write(master, "admin\n", 6), 6);
    const ChildResult r = child.Finish();
    // Whatever the terminal shows afterwards must not hold the password.
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0) {
            break;
        }
        char buffer[256];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        screen.append(buffer, static_cast<size_t>(n));
    }
    ::close(master);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(Has(screen, "admin\n") || Has(screen, "admin\r")) << screen;
    EXPECT_TRUE(SimSaw(recorder, "login as \"admin\" accepted"));
}

TEST_F(KestrionCli, BadOptionsAreUsageErrorsAndNothingIsSent) {
    sim::SimProcess recorder(SimArgs({}));
    const std::string host = "127.0.0.1:" + std::to_string(recorder.tcpPort());
    const std::string bios = Bios();
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{"upgrade", "--host", host, "--user", "admin", "--password", "admin", bios}, "process list"},
        {{"upgrade", "--host", host, "--user", "admin", "--password-file", m_dir / "none", bios},
         "cannot read the password file"},
        {{"upgrade", "--host", host, "--user", "admin", "--password-env", "KST_NO_SUCH_VARIABLE", bios},
         "KST_NO_SUCH_VARIABLE is not set"},
        // No terminal to ask on (the child has none).
        {{"upgrade", "--host", host, "--user", "admin", bios}, "no terminal"},
        {{"upgrade", "--host", "127.0.0", "--user", "admin", "--password-file", m_passwordFile, bios},
         "not a dotted IPv4 address"},
        {{"upgrade", "--host", "127.0.0.1:0", "--user", "admin", "--password-file", m_passwordFile, bios},
         "from 1 to 65535"},
        {{"upgrade", "--host", host, "--host", host, "--user", "admin", "--password-file", m_passwordFile,
          bios},
         "named twice"},
        {{"upgrade", "--host", host, "--user", "administrator", "--password-file", m_passwordFile, bios},
         "at most 8 bytes"},
        {{"upgrade", "--host", host, "--user", "admin", "--password-file", m_passwordFile, "--wait", "0",
          bios},
         "--wait"},
        {{"upgrade", "--host", host, "--user", "admin", "--password-file", m_passwordFile, "--jobs", "0",
          bios},
         "--jobs"},
        {{"upgrade", "--host", host, "--password-file", m_passwordFile, bios}, "--user"},
        {{"upgrade", "--host", host, "--user", "admin", "--password-file", m_passwordFile}, "files"},
        {{"upgrade", "--host", host, "--user", "admin", "--password-file", m_passwordFile, "--password-env",
          "X", bios},
         "excludes"},
        {{"upgrade", "--user", "admin", "--password-file", m_passwordFile, bios},
         "give --host or --hosts-from"},
        {{"upgrade", "--hosts-from", m_dir.Write("junk.csv", "a,b\n1,2\n"), "--user", "admin",
          "--password-file", m_passwordFile, bios},
         "no column \"IP Address\""},
        {{"upgrade", "--hosts-from", m_dir.Write("junk.json", "[{\"ip\": 5}]"), "--user", "admin",
          "--password-file", m_passwordFile, bios},
         "recorder 1 lacks"},
        {{"upgrade", "--hosts-from", m_dir.Write("cut.json", "[{\"ip\": \"127.0.0.1\""), "--user", "admin",
          "--password-file", m_passwordFile, bios},
         "not readable JSON"},
        {{"upgrade", "--hosts-from",
          m_dir.Write("ctl.csv", "No.,IP Address,Port Number\n1,127.0.0.1\x1b[2J,37777\n"), "--user", "admin",
          "--password-file", m_passwordFile, bios},
         "127.0.0.1\\x1b[2J:37777: not a dotted IPv4 address"},
        {{"upgrade", "--hosts-from", m_dir / "none.csv", "--user", "admin", "--password-file", m_passwordFile,
          bios},
         "cannot be read"},
        {{"upgrade", "--host", host, "--hosts-from",
          m_dir.Write("again.json",
                      "[{\"ip\": \"127.0.0.1\", \"port\": " + std::to_string(recorder.tcpPort()) + "}]"),
          "--user", "admin", "--password-file", m_passwordFile, bios},
         "named twice"},
        {{"mac", "--host", host, "--value", "-1"}, "--value"},
        {{"package", "out.bin", bios}, "--web or --logo"},
        {{"frobnicate"}, "subcommand"},
        {{}, "subcommand"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {kCli};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ChildResult r = Run(args);
        EXPECT_EQ(r.status, 2) << c.message << "\n" << r.out << r.err;
        EXPECT_TRUE(Has(r.err, c.message)) << c.message << "\n" << r.err;
        EXPECT_TRUE(Has(r.err, "--help")) << r.err;
    }
    EXPECT_FALSE(SimPrinted(recorder, "login as"));
    EXPECT_FALSE(SimPrinted(recorder, "MAC value"));
    EXPECT_TRUE(NoPackageLeft());
}

TEST_F(KestrionCli, InterruptEndsTheUpgradeAndDeletesThePackage) {
    sim::SimProcess recorder(SimArgs({"--verdict", "silence"}));
    ChildProgram child(UpgradeArgs(recorder.tcpPort(), {}, DemoPages()), {.env = {{"TMPDIR", m_tmp}}});
    ASSERT_TRUE(child.WaitForOutput("File has been sent, please wait...", 20s)) << child.SoFar().out;
    EXPECT_FALSE(NoPackageLeft()); // the package lives until the upgrade ends
    child.Signal(SIGINT);
    const ChildResult r = child.Finish();
    EXPECT_EQ(r.status, 130) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "interrupted")) << r.err;
    EXPECT_TRUE(NoPackageLeft());
}

TEST_F(KestrionCli, MacValueGoesToTheRecorder) {
    sim::SimProcess recorder(SimArgs({}));
    const ChildResult r = Run({kCli, "mac", "--host", "127.0.0.1", "--port",
                               std::to_string(recorder.tcpPort()), "--value", "4294967295"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "MAC value 4294967295 sent")) << r.out;
    EXPECT_TRUE(SimSaw(recorder, "MAC value 4294967295"));

    const ChildResult refused =
        Run({kCli, "mac", "--host", "127.0.0.1:" + std::to_string(ClosedPort()), "--value", "1"});
    EXPECT_EQ(refused.status, 5) << refused.out << refused.err;
    EXPECT_TRUE(Has(refused.err, "Kestrion: Connect 127.0.0.1 failed!")) << refused.err;
}

TEST_F(KestrionCli, ClassifyTellsEachFileAndTheChoice) {
    ChildResult r = Run({kCli, "classify", kWebDir + "/index.htm", kWebDir + "/setup.htm"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "index.htm: web pages (Web), 170 bytes")) << r.out;
    // The start packet announces the last file's length.
    EXPECT_TRUE(Has(r.out, "Web button; the start packet announces 214 bytes")) << r.out;

    const std::string boot = m_dir.Write("boot.img", std::string("\xC0\x80", 2) + std::string(1202178, 'x'));
    r = Run({kCli, "classify", boot});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Has(r.out, "boot image (Boot), 1202180 bytes")) << r.out;

    r = Run({kCli, "classify", Bios(), m_dir.Write("notes.txt", "hello")});
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "notes.txt: refused")) << r.out;
    EXPECT_TRUE(Has(r.err, "Kestrion: Not BIOS Upgrade file!")) << r.err;
}

// File names are shown with their control characters as escapes, a line feed included.
TEST_F(KestrionCli, ClassifyShowsFileNamesWithoutControlCharacters) {
    const std::string page = m_dir.Write("a\nb\x1b[2J\x9b.htm", "<html></html>");
    ChildResult r = Run({kCli, "classify", page});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "a\\x0ab\\x1b[2J\\x9b.htm: web pages (Web)")) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;

    const std::string gone = m_dir / "gone\x07\r.bin";
    r = Run({kCli, "classify", gone});
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "Open file " + (m_dir / "gone\\x07\\x0d.bin").string() + " ,failed")) << r.err;
    for (const char c : r.out + r.err)
        EXPECT_TRUE(static_cast<unsigned char>(c) >= 32 || c == '\n') << static_cast<int>(c);
}

TEST_F(KestrionCli, PackageIsWrittenOnlyForTheKindAskedFor) {
    const std::string out = m_dir / "web.bin";
    ChildResult r = Run({kCli, "package", "--web", out, kWebDir + "/index.htm", kWebDir + "/live.htm"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    ASSERT_TRUE(FileExists(out));
    // unzip, as an outside reader, finds the installer script and the image.
    const ChildResult list = RunProgram({"/usr/bin/unzip", "-l", out});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_TRUE(Has(list.out, "Install.lua") && Has(list.out, "web.cramfs")) << list.out;
    EXPECT_TRUE(NoPackageLeft());
    // The package was built beside its place: no temporary folder stays there.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"pw", "tmp", "web.bin"}));

    // Web pages are no logo: refused, and nothing written.
    const std::string logo = m_dir / "logo.bin";
    r = Run({kCli, "package", "--logo", logo, kWebDir + "/index.htm"});
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "these files are web pages, not logo bitmaps")) << r.err;
    EXPECT_FALSE(FileExists(logo));
}
