#pragma once
// Test helper: runs recorder-sim as a child process on free loopback ports.
//
//   sim::SimProcess recorder({"--count", "3", "--verdict", "right"});
//   connect to 127.0.0.1:recorder.tcpPort(), send datagrams to 127.0.0.1:recorder.udpPort()
//   recorder.waitForLine([](const std::string& l) { return l.starts_with("upgrade 1:"); }, 10s);
//   EXPECT_EQ(recorder.stop(), 0);   // SIGTERM; the destructor does the same
//
// The constructor adds "--tcp-port 0 --udp-port 0" in front of the given arguments (a later
// option of the same name wins), waits for the ready line and throws std::runtime_error with
// what the program printed if it ends or stays silent instead. Standard output and standard
// error are both collected into lines().

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace sim {

class SimProcess {
public:
    static std::string defaultProgram() {
#ifdef KST_BIN_DIR
        return KST_BIN_DIR "/recorder-sim";
#else
        return "recorder-sim";
#endif
    }

    explicit SimProcess(const std::vector<std::string>& args = {},
                        const std::string& program = defaultProgram(),
                        std::chrono::milliseconds readyTimeout = std::chrono::seconds(20)) {
        std::vector<std::string> words{program, "--tcp-port", "0", "--udp-port", "0"};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);

        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC) != 0)
            throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
        int rc = posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[1]);
        if (rc != 0) {
            ::close(pipeFds[0]);
            throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
        }
        m_readFd = pipeFds[0];
        m_reader = std::thread([this] { readOutput(); });

        std::unique_lock lock(m_mutex);
        bool ready =
            m_changed.wait_for(lock, readyTimeout, [this] { return !m_readyLine.empty() || m_ended; });
        std::string ready_line = m_readyLine;
        std::string output;
        for (const auto& l : m_lines)
            output += l + "\n";
        lock.unlock();
        if (!ready || ready_line.empty()) {
            int status = stop();
            throw std::runtime_error(program +
                                     (ready ? " ended before it was ready" : " was not ready in time") +
                                     " (exit status " + std::to_string(status) + "), output:\n" + output);
        }
        m_tcpPort = portAfter(ready_line, " tcp=");
        m_udpPort = portAfter(ready_line, " udp=");
    }

    ~SimProcess() {
        stop();
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    uint16_t tcpPort() const {
        return m_tcpPort;
    }
    uint16_t udpPort() const {
        return m_udpPort;
    }
    pid_t pid() const {
        return m_pid;
    }

    // Every line printed so far on either stream, the ready line included.
    std::vector<std::string> lines() const {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

    // Waits until some printed line satisfies the predicate; true when one did in time.
    bool waitForLine(const std::function<bool(const std::string&)>& predicate,
                     std::chrono::milliseconds timeout) const {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] {
            for (const auto& l : m_lines)
                if (predicate(l))
                    return true;
            return false;
        });
    }

    // Sends SIGTERM, waits up to `grace` for the program to end (SIGKILL after that) and
    // returns its exit status, or 128 + the signal that ended it. Later calls return the same.
    int stop(std::chrono::milliseconds grace = std::chrono::seconds(10)) {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            std::unique_lock lock(m_mutex);
            bool ended = m_changed.wait_for(lock, grace, [this] { return m_ended; });
            lock.unlock();
            if (!ended)
                ::kill(m_pid, SIGKILL);
            int status = 0;
            while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            m_pid = -1;
        }
        if (m_reader.joinable())
            m_reader.join();
        if (m_readFd >= 0) {
            ::close(m_readFd);
            m_readFd = -1;
        }
        return m_status;
    }

private:
    // Collects the child's output line by line until it closes its end (it has exited).
    void readOutput() {
        std::string partial;
        char buffer[4096];
        for (;;) {
            ssize_t n = ::read(m_readFd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            partial.append(buffer, size_t(n));
            size_t end;
            while ((end = partial.find('\n')) != std::string::npos) {
                std::string line = partial.substr(0, end);
                partial.erase(0, end + 1);
                std::lock_guard lock(m_mutex);
                if (m_readyLine.empty() && line.rfind("recorder-sim ready ", 0) == 0)
                    m_readyLine = line;
                m_lines.push_back(std::move(line));
                m_changed.notify_all();
            }
        }
        std::lock_guard lock(m_mutex);
        if (!partial.empty())
            m_lines.push_back(partial);
        m_ended = true;
        m_changed.notify_all();
    }

    // The port of "key=ADDRESS:PORT" in the ready line; 0 for a side that is "off".
    static uint16_t portAfter(const std::string& line, const std::string& key) {
        size_t at = line.find(key);
        if (at == std::string::npos)
            return 0;
        std::string token = line.substr(at + key.size(), line.find(' ', at + key.size()) - at - key.size());
        size_t colon = token.rfind(':');
        return colon == std::string::npos ? 0 : uint16_t(std::stoul(token.substr(colon + 1)));
    }

    pid_t m_pid = -1;
    int m_readFd = -1;
    int m_status = -1;
    uint16_t m_tcpPort = 0;
    uint16_t m_udpPort = 0;
    std::thread m_reader;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_lines;
    std::string m_readyLine;
    bool m_ended = false;
};

} // namespace sim
