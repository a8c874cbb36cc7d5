#pragma once
// Test helper: runs one of the project's programs as a child process, with its standard output and
// standard error collected apart, and waits for it.
//
//   ChildProgram child({KST_BIN_DIR "/kestrion-cli", "classify", "a.bin"});
//   ChildResult r = child.Finish();            // r.status, r.out, r.err
//
//   ChildProgram child(args, {{"DVR_PW", "admin"}});
//   child.WaitForOutput("File has been sent", 10s);
//   child.Signal(SIGINT);
//
// The child runs in a session of its own, so it has no controlling terminal (a password prompt
// fails at once instead of waiting for a keyboard), unless `terminal` names a pseudo-terminal
// slave to become its controlling terminal. Standard input is /dev/null.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

struct ChildResult {
    int status = -1; // exit status, or 128 + the signal that ended it
    std::string out;
    std::string err;
};

class ChildProgram {
public:
    explicit ChildProgram(std::vector<std::string> args, const std::map<std::string, std::string>& env = {},
                          const std::string& terminal = {}) {
        int outPipe[2], errPipe[2];
        if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe2 failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (terminal.empty())
            posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        else
            posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, terminal.c_str(), O_RDWR, 0);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);

        std::vector<std::string> envText;
        for (char** e = environ; *e != nullptr; ++e) {
            std::string entry = *e;
            if (!env.count(entry.substr(0, entry.find('='))))
                envText.push_back(entry);
        }
        for (const auto& [name, value] : env)
            envText.push_back(name + "=" + value);
        std::vector<char*> argv, envp;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : envText)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        const int rc = posix_spawn(&m_pid, args[0].c_str(), &actions, &attr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
        ::close(outPipe[1]);
        ::close(errPipe[1]);
        m_outFd = outPipe[0];
        m_errFd = errPipe[0];
        if (rc != 0) {
            m_pid = -1;
            throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
        }
    }

    ~ChildProgram() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            Finish();
        }
        CloseFd(m_outFd);
        CloseFd(m_errFd);
    }
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    // Reads the child's output until standard output holds `text` or the time is up.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (m_result.out.find(text) == std::string::npos) {
            if (!ReadSome(deadline))
                return false;
        }
        return true;
    }

    void Signal(int signo) {
        if (m_pid > 0)
            ::kill(m_pid, signo);
    }

    // Reads everything the child writes until it ends, at most `limit` (then it is killed).
    ChildResult Finish(std::chrono::milliseconds limit = std::chrono::seconds(120)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (ReadSome(deadline)) {
        }
        if (m_pid > 0) {
            if (m_outFd >= 0 || m_errFd >= 0)
                ::kill(m_pid, SIGKILL); // the time ran out
            int status = 0;
            while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
            m_result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            m_pid = -1;
        }
        return m_result;
    }

    const ChildResult& SoFar() const { return m_result; }

private:
    static void CloseFd(int& fd) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }

    // One read from whichever stream has something; false when both have ended or time is up.
    bool ReadSome(std::chrono::steady_clock::time_point deadline) {
        if (m_outFd < 0 && m_errFd < 0)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd fds[2] = {{m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}};
        const int n = ::poll(fds, 2, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR)
            return true;
        if (n <= 0)
            return false;
        Drain(fds[0], m_outFd, m_result.out);
        Drain(fds[1], m_errFd, m_result.err);
        return true;
    }

    static void Drain(const pollfd& p, int& fd, std::string& into) {
        if (fd < 0 || p.revents == 0)
            return;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            into.append(buffer, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            CloseFd(fd);
    }

    pid_t m_pid = -1;
    int m_outFd = -1;
    int m_errFd = -1;
    ChildResult m_result;
};

// Runs a program to its end.
inline ChildResult RunProgram(const std::vector<std::string>& args,
                              const std::map<std::string, std::string>& env = {}) {
    ChildProgram child(args, env);
    return child.Finish();
}
