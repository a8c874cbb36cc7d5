// The kit's child programs: arguments reach the program untouched, input, environment and folder
// are the ones asked for, both streams come back whole, and every way of ending is told apart.
#include "tests/common/ChildProgram.h"
#include "tests/common/TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <system_error>

using namespace std::chrono_literals;

namespace {

class ChildProgramTest : public ::testing::Test {
protected:
    TempDir m_dir{"kst-child"};
};

TEST_F(ChildProgramTest, ArgumentsInputEnvironmentAndEndings) {
    const std::string big(300000, 'x');
    struct Case {
        const char* what;
        std::vector<std::string> args;
        ChildOptions options;
        int status;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {"both streams apart", {"sh", "-c", "echo out; echo err >&2; exit 3"}, {}, 3, "out\n", "err\n"},
        {"no shell between", {"printf", "%s|", "a b", "'c'", "$HOME", "*"}, {}, 0, "a b|'c'|$HOME|*|", ""},
        {"input", {"cat"}, {.input = "line 1\nline 2"}, 0, "line 1\nline 2", ""},
        {"no input is an empty one", {"cat"}, {}, 0, "", ""},
        {"unread input", {"true"}, {.input = big}, 0, "", ""},
        {"more than a pipe holds, on both streams",
         {"sh", "-c", "cat; cat /proc/self/cmdline >&2"},
         {.input = big},
         0,
         big,
         std::string("cat\0/proc/self/cmdline\0", 23)},
        {"environment added",
         {"sh", "-c", "printf %s \"$KST_CHILD\""},
         {.env = {{"KST_CHILD", "a=b c"}}},
         0,
         "a=b c",
         ""},
        {"environment replaced",
         {"sh", "-c", "printf %s \"$HOME\""},
         {.env = {{"HOME", "/nowhere"}}},
         0,
         "/nowhere",
         ""},
        {"folder", {"pwd"}, {.cwd = m_dir.path().string()}, 0, m_dir.path().string() + "\n", ""},
        {"ended by a signal", {"sh", "-c", "kill -TERM $$"}, {}, 128 + SIGTERM, "", ""},
    };
    for (const Case& c : cases) {
        const ChildResult r = RunProgram(c.args, c.options);
        EXPECT_EQ(r.status, c.status) << c.what;
        EXPECT_EQ(r.out, c.out) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
    }
}

TEST_F(ChildProgramTest, WaitsForOutputAndStopsOnASignal) {
    ChildProgram child({"sh", "-c", "echo ready; exec cat"}, {.input = ""});
    ChildProgram silent({"sh", "-c", "echo ready; exec sleep 600"});
    ASSERT_TRUE(silent.WaitForOutput("ready", 60s));
    silent.Signal(SIGINT);
    EXPECT_EQ(silent.Finish().status, 128 + SIGINT);
    // A child that ends without the text: the wait ends with it instead of running out the time.
    EXPECT_FALSE(child.WaitForOutput("never printed", 600s));
    EXPECT_EQ(child.Finish().status, 0);
}

TEST_F(ChildProgramTest, AProgramThatCannotStartIsAnError) {
    EXPECT_THROW(ChildProgram({(m_dir / "missing").string()}), std::system_error);
    EXPECT_THROW(ChildProgram({"kst-no-such-program"}), std::system_error);
    EXPECT_EQ(FindProgram("kst-no-such-program"), "");
    EXPECT_EQ(RunProgram({FindProgram("sh"), "-c", "exit 0"}).status, 0);
}

} // namespace
