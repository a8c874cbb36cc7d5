#include "tests/common/ChildProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <system_error>

extern char** environ;

namespace {

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// The test's environment with the options' names added or replaced.
std::vector<std::string> ChildEnvironment(const std::map<std::string, std::string>& more) {
    std::vector<std::string> entries;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (!more.count(entry.substr(0, entry.find('='))))
            entries.push_back(entry);
    }
    for (const auto& [name, value] : more)
        entries.push_back(name + "=" + value);
    return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& t : texts)
        pointers.push_back(t.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Standard input as a memory file holding the whole text: the child reads it at its own pace and
// sees its end, and a child that never reads cannot block the test or raise SIGPIPE in it.
int InputFile(const std::string& text) {
    const int fd = ::memfd_create("child-input", MFD_CLOEXEC);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "memfd_create");
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno != EINTR) {
            const int error = errno;
            ::close(fd);
            throw std::system_error(error, std::generic_category(), "writing the child's input");
        }
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    ::lseek(fd, 0, SEEK_SET);
    return fd;
}

// Moves whatever one stream has ready into `into`; closes the stream at its end.
void Drain(const pollfd& p, int& fd, std::string& into) {
    if (fd < 0 || p.revents == 0)
        return;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0)
        into.append(buffer, static_cast<size_t>(n));
    else if (n == 0 || errno != EINTR)
        CloseFd(fd);
}

} // namespace

ChildProgram::ChildProgram(const std::vector<std::string>& args, const ChildOptions& options) {
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        throw std::system_error(error, std::generic_category(), "pipe2");
    }
    m_outFd = outPipe[0];
    m_errFd = errPipe[0];
    int inputFd = options.input && options.terminal.empty() ? InputFile(*options.input) : -1;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!options.terminal.empty())
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, options.terminal.c_str(), O_RDWR, 0);
    else if (inputFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, inputFd, STDIN_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    if (!options.cwd.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);

    std::vector<std::string> argText = args, envText = ChildEnvironment(options.env);
    const int rc = ::posix_spawnp(&m_pid, argText.at(0).c_str(), &actions, &attr, Pointers(argText).data(),
                                  Pointers(envText).data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    CloseFd(inputFd);
    if (rc != 0) {
        m_pid = -1;
        CloseFd(m_outFd);
        CloseFd(m_errFd);
        throw std::system_error(rc, std::generic_category(), "cannot start " + args[0]);
    }
}

ChildProgram::~ChildProgram() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        Finish();
    }
    CloseFd(m_outFd);
    CloseFd(m_errFd);
}

bool ChildProgram::WaitForOutput(const std::string& text, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (m_result.out.find(text) == std::string::npos) {
        if (!ReadSome(deadline))
            return false;
    }
    return true;
}

void ChildProgram::Signal(int signo) {
    if (m_pid > 0)
        ::kill(m_pid, signo);
}

ChildResult ChildProgram::Finish(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (ReadSome(deadline)) {
    }
    if (m_pid > 0) {
        if (m_outFd >= 0 || m_errFd >= 0)
            ::kill(m_pid, SIGKILL); // the time ran out
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        m_pid = -1;
    }
    return m_result;
}

// One read from whichever stream has something; false when both have ended or time is up.
bool ChildProgram::ReadSome(std::chrono::steady_clock::time_point deadline) {
    if (m_outFd < 0 && m_errFd < 0)
        return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
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

ChildResult RunProgram(const std::vector<std::string>& args, const ChildOptions& options) {
    ChildProgram child(args, options);
    return child.Finish();
}

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(std::string(path ? path : "") + ":/usr/sbin:/sbin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}
