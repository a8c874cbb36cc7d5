#include "support/cli/PasswordInput.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace cli {

const char* const kPasswordArgumentRefused =
    "passwords are not taken as arguments, where every user could read them in the process list: "
    "use --password-file FILE, --password-env VARIABLE, or type it when asked";

namespace {

// A line longer than this is no password anyone types; refusing it keeps a wrong file (a binary,
// a device) from being read whole.
constexpr std::size_t kLongestLine = 4096;

std::string ErrnoText(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer);
}

void DropLineEnd(std::string& line) {
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
}

// The terminal as it was before echo was turned off, for the signal handler to put back.
int g_ttyFd = -1;
termios g_ttySaved{};

extern "C" void RestoreTerminalAndDie(int signo) {
    if (g_ttyFd >= 0) {
        tcsetattr(g_ttyFd, TCSAFLUSH, &g_ttySaved);
    }
    // The handler was installed to run once: the signal now takes its default course.
    raise(signo);
}

constexpr int kPromptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

class QuietTerminal {
public:
    explicit QuietTerminal(int fd) : m_fd(fd) {
        if (tcgetattr(fd, &m_saved) != 0) {
            return;
        }
        g_ttySaved = m_saved;
        g_ttyFd = fd;
        struct sigaction action {};
        action.sa_handler = RestoreTerminalAndDie;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        for (std::size_t i = 0; i < std::size(kPromptSignals); ++i) {
            sigaction(kPromptSignals[i], &action, &m_oldActions[i]);
        }
        termios quiet = m_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL | ICANON;
        m_quiet = tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
        m_active = true;
    }
    ~QuietTerminal() {
        if (!m_active) {
            return;
        }
        if (m_quiet) {
            tcsetattr(m_fd, TCSAFLUSH, &m_saved);
        }
        for (std::size_t i = 0; i < std::size(kPromptSignals); ++i) {
            sigaction(kPromptSignals[i], &m_oldActions[i], nullptr);
        }
        g_ttyFd = -1;
    }
    QuietTerminal(const QuietTerminal&) = delete;
    QuietTerminal& operator=(const QuietTerminal&) = delete;
    bool quiet() const { return m_quiet; }

private:
    int m_fd;
    termios m_saved{};
    struct sigaction m_oldActions[std::size(kPromptSignals)]{};
    bool m_active = false;
    bool m_quiet = false;
};

// Writes the whole text unless the terminal stops taking it.
void WriteWhole(int fd, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        written += static_cast<std::size_t>(n);
    }
}

// The line typed at the terminal, without its end; `ended` tells whether a line end came.
PasswordReading ReadTypedLine(int fd, bool& ended) {
    PasswordReading result;
    std::string line;
    ended = false;
    for (;;) {
        char c;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        if (c == '\n') {
            ended = true;
            break;
        }
        if (line.size() >= kLongestLine) {
            result.error = "the password typed is too long";
            break;
        }
        line.push_back(c);
    }
    if (result.error.empty()) {
        if (!ended && line.empty()) {
            result.error = "no password was typed";
        } else {
            DropLineEnd(line);
            result.ok = true;
            result.password = std::move(line);
        }
    }
    return result;
}

PasswordReading AskOnTerminal(const std::string& prompt) {
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return {false,
                {},
                "no password given and no terminal to ask on: use --password-file FILE or "
                "--password-env VARIABLE"};
    }
    PasswordReading result;
    {
        QuietTerminal terminal(fd);
        if (!terminal.quiet()) {
            ::close(fd);
            return {false, {}, "the terminal's echo cannot be turned off to ask for the password"};
        }
        WriteWhole(fd, prompt);
        bool ended = false;
        result = ReadTypedLine(fd, ended);
        // A prompt ended by end-of-file leaves the cursor after the prompt.
        if (!ended) {
            (void)!::write(fd, "\n", 1);
        }
    }
    ::close(fd);
    return result;
}

} // namespace

PasswordReading ReadPasswordFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {false, {}, "cannot read the password file " + path + ": " + ErrnoText(errno)};
    }
    std::string line;
    char c;
    while (in.get(c) && c != '\n') {
        if (line.size() >= kLongestLine) {
            return {false, {}, "the first line of " + path + " is too long to be a password"};
        }
        line.push_back(c);
    }
    if (in.bad()) {
        return {false, {}, "cannot read the password file " + path};
    }
    DropLineEnd(line);
    return {true, std::move(line), {}};
}

PasswordReading ReadPassword(const PasswordSource& source, const std::string& prompt) {
    if (!source.file.empty()) {
        return ReadPasswordFile(source.file);
    }
    if (!source.variable.empty()) {
        const char* value = std::getenv(source.variable.c_str());
        if (value == nullptr) {
            return {false, {}, "the environment variable " + source.variable + " is not set"};
        }
        return {true, value, {}};
    }
    return AskOnTerminal(prompt);
}

} // namespace cli
