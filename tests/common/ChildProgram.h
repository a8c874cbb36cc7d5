// Runs a program as a child process, without a shell: the arguments go to it as they are, its
// standard output and standard error are collected apart, and its end is waited for.
//
//   ChildResult r = RunProgram({KST_BIN_DIR "/kestrion-cli", "classify", "a.bin"});
//   r.status, r.out, r.err
//
//   ChildProgram child(args, {.env = {{"DVR_PW", "admin"}}, .input = "y\n"});
//   child.WaitForOutput("File has been sent", 10s);
//   child.Signal(SIGINT);
//   ChildResult r = child.Finish();
//
// The child runs in a session of its own, so it has no controlling terminal (a password prompt
// fails at once instead of waiting for a keyboard), unless `terminal` names a pseudo-terminal
// slave to become its controlling terminal and standard input.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct ChildOptions {
    std::map<std::string, std::string> env{}; // added to the test's environment, replacing a name
    std::optional<std::string> input{};       // standard input; /dev/null when none
    std::string cwd{};                        // working folder; the test's own when empty
    std::string terminal{};                   // pseudo-terminal slave, instead of `input`
};

struct ChildResult {
    int status = -1; // exit status, or 128 + the signal that ended it
    std::string out;
    std::string err;
};

class ChildProgram {
public:
    // args[0] is a path, or a name looked up in PATH. Throws when the program cannot be started.
    explicit ChildProgram(const std::vector<std::string>& args, const ChildOptions& options = {});
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    // Reads the child's output until standard output holds `text`; false when the child closed
    // its output first or the time is up.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit);
    void Signal(int signo);
    // Reads everything the child writes until it ends, at most `limit` (then it is killed).
    ChildResult Finish(std::chrono::milliseconds limit = std::chrono::seconds(120));
    const ChildResult& SoFar() const { return m_result; }

private:
    bool ReadSome(std::chrono::steady_clock::time_point deadline);

    pid_t m_pid = -1;
    int m_outFd = -1;
    int m_errFd = -1;
    ChildResult m_result;
};

// Runs a program to its end.
ChildResult RunProgram(const std::vector<std::string>& args, const ChildOptions& options = {});

// The full path of an outside program (PATH, then the system folders that PATH of a normal user
// leaves out, where fsck.cramfs lives); empty when it is not installed.
std::string FindProgram(const std::string& name);
