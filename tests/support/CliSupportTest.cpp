// The command-line tools' shared helpers: text from outside shown safely, CSV records, tables,
// password files, progress lines, the options both tools take.

#include "discovery/DeviceListCsv.h"
#include "support/VisibleText.h"
#include "support/cli/CliOptions.h"
#include "support/cli/Console.h"
#include "support/cli/PasswordInput.h"
#include "support/cli/TextTable.h"
#include "tests/common/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string Contents(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[256];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
    }
    return text;
}

} // namespace

// Text from outside: every control character but tab is shown as \xHH, the C1 ones whether they
// come as raw bytes or as UTF-8; everything else, valid UTF-8 or not, is kept byte for byte.
TEST(VisibleText, ControlCharactersBecomeVisibleEscapes) {
    struct Case {
        std::string in;
        std::string shown;
    } cases[] = {
        {"00:11:22:33:44:55", "00:11:22:33:44:55"},
        {"a\tb", "a\tb"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"\x1b]0;owned\x07", "\\x1b]0;owned\\x07"},
        {"\x1b[2J\r\n", "\\x1b[2J\\x0d\\x0a"},
        {"del\x7f", "del\\x7f"},
        {"\x9b"
         "2J",
         "\\x9b2J"}, // 8-bit CSI, not UTF-8
        {"\xc2\x9b"
         "2J",
         "\\xc2\\x9b2J"},                                             // U+009B in UTF-8
        {"\xc2\x80\xc2\x9f\xc2\xa0", "\\xc2\\x80\\xc2\\x9f\xc2\xa0"}, // C1 ends at U+009F
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7"},
        {"\xe9t\xe9", "\xe9t\xe9"}, // Latin-1 letters stay
        {"\xc0\x9b", "\xc0\\x9b"},  // an overlong form is no UTF-8
        {"\xe2\x82", "\xe2\\x82"},  // a sequence cut short
        {"x\\dir\\a.htm", "x\\dir\\a.htm"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VisibleText(c.in), c.shown);
        EXPECT_EQ(cli::Printable(c.in), c.shown);
    }
    EXPECT_EQ(VisibleLines("one\x1b\ntwo\r\n"), "one\\x1b\ntwo\\x0d\n");
}

TEST(CliCsv, QuotesOnlyWhatNeedsItNeutralisesFormulasAndEscapesControls) {
    struct Case {
        cli::TextRow fields;
        std::string record;
    } cases[] = {
        {{"1", "127.0.0.1", "37777"}, "1,127.0.0.1,37777\n"},
        {{"a,b", "say \"hi\"", "Mac Address ", " lead", ""},
         "\"a,b\",\"say \"\"hi\"\"\",\"Mac Address \",\" lead\",\n"},
        {{"two\nlines", "cr\rx"}, "two\\x0alines,cr\\x0dx\n"},
        {{"=1+1", "+1", "-1", "@SUM(A1)", "\tx", "\rx", "a=b"}, "'=1+1,'+1,'-1,'@SUM(A1),'\tx,\\x0dx,a=b\n"},
        {{"=HYPERLINK(\"http://x\",\"y\")"}, "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\"\n"},
        {{"\x1b[2J\x07", "\x9b"
                         "1m"},
         "\\x1b[2J\\x07,\\x9b1m\n"},
        {{}, "\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cli::CsvRecord(c.fields), c.record);
    }
    // One rule with the window's export, whose fields keep their bytes.
    for (const char* f : {"=1+1", "-1", "\rx", "a,b", " x"}) {
        EXPECT_EQ(CsvField(f), csvField(f)) << f;
    }
}

TEST(CliTable, ColumnsLineUpAndControlCharactersCannotReachTheTerminal) {
    const std::string table =
        cli::FormatTable({"No.", "IP Address", "Mac"},
                         {{"1", "10.0.0.1", "aa"}, {"10", "192.168.100.200", "\x1b[2J"}, {"2", "x", "b"}});
    EXPECT_EQ(table, "No.  IP Address       Mac\n"
                     "1    10.0.0.1         aa\n"
                     "10   192.168.100.200  \\x1b[2J\n"
                     "2    x                b\n");
    // Widths count the escapes as shown.
    EXPECT_EQ(cli::FormatTable({"A", "B"}, {{"\x07", "x"}, {"ab", "y"}}), "A     B\n\\x07  x\nab    y\n");
    // A short row leaves its last cells empty, without trailing blanks.
    EXPECT_EQ(cli::FormatTable({"A", "B"}, {{"x"}}), "A  B\nx\n");
}

TEST(CliPassword, FirstLineOfTheFileWithoutItsLineEnd) {
    TempDir dir;
    struct Case {
        std::string bytes;
        std::string password;
    };
    for (const Case& c : {Case{"admin\n", "admin"}, Case{"admin\r\nsecond line\n", "admin"},
                          Case{"no line end", "no line end"}, Case{"", ""}, Case{"\n", ""},
                          Case{"  blanks kept  \n", "  blanks kept  "}}) {
        const cli::PasswordReading r = cli::ReadPasswordFile(dir.Write("pw", c.bytes));
        EXPECT_TRUE(r.ok) << c.bytes;
        EXPECT_EQ(r.password, c.password);
    }
    const cli::PasswordReading missing = cli::ReadPasswordFile("/nonexistent/pw");
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error.find("/nonexistent/pw"), std::string::npos);

    EXPECT_FALSE(cli::ReadPasswordFile(dir.Write("huge", std::string(10000, 'x'))).ok);
}

TEST(CliPassword, FromTheEnvironmentAndTheFileFirst) {
    ::setenv("KST_CLI_TEST_PW", "from env", 1);
    cli::PasswordSource source;
    source.variable = "KST_CLI_TEST_PW";
    EXPECT_EQ(cli::ReadPassword(source, "").password, "from env");
    ::setenv("KST_CLI_TEST_PW", "", 1);
    const cli::PasswordReading empty = cli::ReadPassword(source, "");
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(empty.password, "");
    ::unsetenv("KST_CLI_TEST_PW");
    EXPECT_FALSE(cli::ReadPassword(source, "").ok);

    TempDir dir;
    source.file = dir.Write("pw", "from file\n");
    EXPECT_EQ(cli::ReadPassword(source, "").password, "from file");
}

TEST(CliConsole, ProgressInAFileIsPlainLinesAtItsSteps) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    cli::Console console(out, err, true); // a file is no terminal: no bar whatever is asked
    EXPECT_FALSE(console.DrawsBar());
    for (int p : {0, 3, 9, 10, 15, 25, 99, 100, 100}) {
        console.Progress("Sending ", p);
    }
    console.Line("File has been sent, please wait...");
    for (int p : {0, 25, 25, 50}) {
        console.Progress("Recorder", p, 1);
    }
    console.ErrorLine("Error: Send bios data Failed!");
    console.Progress("\x1b]0;x\x07", 100);
    console.Line("two\nlines \x1b[2J\x9b");
    console.ErrorLine("Open file a\x1b\x07 ,failed");
    EXPECT_EQ(Contents(out), "Sending  0%\nSending  10%\nSending  25%\nSending  99%\nSending  100%\n"
                             "File has been sent, please wait...\n"
                             "Recorder 0%\nRecorder 25%\nRecorder 50%\n"
                             "\\x1b]0;x\\x07 100%\ntwo\nlines \\x1b[2J\\x9b\n");
    EXPECT_EQ(Contents(err), "Error: Send bios data Failed!\nOpen file a\\x1b\\x07 ,failed\n");
    std::fclose(out);
    std::fclose(err);
}

TEST(CliConsole, ParallelLabelsCountEachOnTheirOwn) {
    std::FILE* out = std::tmpfile();
    cli::Console console(out, out, false);
    for (int p = 1; p <= 20; ++p) {
        console.Progress("[a] Sending ", p);
        console.Progress("[b] Sending ", p);
    }
    console.EndProgress("[a] Sending ");
    console.Progress("[a] Sending ", 5); // counts afresh after its end
    EXPECT_EQ(Contents(out), "[a] Sending  1%\n[b] Sending  1%\n[a] Sending  10%\n[b] Sending  10%\n"
                             "[a] Sending  20%\n[b] Sending  20%\n[a] Sending  5%\n");
    std::fclose(out);
}

TEST(CliOptions, PortNumbersFromOneTo65535) {
    EXPECT_EQ(cli::PortNumber("1"), 1);
    EXPECT_EQ(cli::PortNumber("5050"), 5050);
    EXPECT_EQ(cli::PortNumber("065535"), std::nullopt); // six digits
    EXPECT_EQ(cli::PortNumber("65535"), 65535);
    for (const char* bad : {"", "0", "00000", "65536", "99999", "-1", "+1", "50 ", " 50", "5a", "0x10"}) {
        EXPECT_EQ(cli::PortNumber(bad), std::nullopt) << bad;
    }
}

namespace {

// A program with one command that logs in, parsed from the words given; the status
// ParseCommandLine returned, and what went to standard error.
struct Parsed {
    std::optional<int> status;
    std::string err;
    cli::PasswordOptions password;
};

Parsed ParseWords(std::vector<std::string> words) {
    Parsed parsed;
    CLI::App app("A test program", "tool");
    app.require_subcommand(1);
    CLI::App* login = app.add_subcommand("login", "Log in");
    parsed.password.AddTo(*login);
    words.insert(words.begin(), "tool");
    std::vector<char*> argv;
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    parsed.status = cli::ParseCommandLine(app, static_cast<int>(argv.size()), argv.data(), 7);
    parsed.err = testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
    return parsed;
}

} // namespace

TEST(CliOptions, BadCommandLinesAreRefusedWithTheUsageStatus) {
    Parsed p = ParseWords({"login", "--password-file", "pw"});
    EXPECT_EQ(p.status, std::nullopt) << p.err;
    EXPECT_EQ(p.password.source.file, "pw");
    EXPECT_FALSE(p.password.ArgumentGiven());

    p = ParseWords({"login", "--password-env", "PW"});
    EXPECT_EQ(p.status, std::nullopt) << p.err;
    EXPECT_EQ(p.password.source.variable, "PW");

    // A plain password is taken in, so that the program can say why it refuses it.
    p = ParseWords({"login", "--password", "secret"});
    EXPECT_EQ(p.status, std::nullopt) << p.err;
    EXPECT_TRUE(p.password.ArgumentGiven());

    EXPECT_EQ(ParseWords({"login", "--help"}).status, 0);
    EXPECT_EQ(ParseWords({"--help"}).status, 0);

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"login", "--password-file", "pw", "--password-env", "PW"},
          std::vector<std::string>{"login", "--nonsense"}, std::vector<std::string>{}}) {
        p = ParseWords(bad);
        EXPECT_EQ(p.status, 7);
        EXPECT_EQ(p.err.rfind("tool: ", 0), 0u) << p.err;
        EXPECT_NE(p.err.find("\nRun tool --help for the options.\n"), std::string::npos) << p.err;
    }
}

TEST(CliOptions, RefusalNamesTheProgramAndWhereTheOptionsAre) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(cli::Refuse("tool", "--x 1: too small", 2), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "tool: --x 1: too small\nRun tool --help for the options.\n");
}
