#include "clientstore/DataFileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace {

// How often a waiting program tries the lock again.
constexpr std::chrono::milliseconds kRetry{25};

// The process named in the lock file, or empty.
std::string holderOf(int fd) {
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    std::string holder = n > 0 ? std::string(text, static_cast<std::size_t>(n)) : std::string();
    while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\r')) {
        holder.pop_back();
    }
    return holder.find_first_not_of("0123456789") == std::string::npos ? holder : std::string();
}

} // namespace

DataFileLock::~DataFileLock() {
    release();
}

std::filesystem::path DataFileLock::lockPathFor(const std::filesystem::path& dataFile) {
    std::filesystem::path lock = dataFile;
    lock += ".lock";
    return lock;
}

std::string DataFileLock::acquire(const std::filesystem::path& dataFile, std::chrono::milliseconds wait) {
    release();
    const std::filesystem::path lockPath = lockPathFor(dataFile);
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        return "the lock file " + lockPath.string() + " cannot be opened (" + std::strerror(errno) + ")";
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EINTR) {
            continue;
        }
        if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            const std::string holder = holderOf(fd);
            ::close(fd);
            if (error != EWOULDBLOCK) {
                return "the lock file " + lockPath.string() + " cannot be locked (" + std::strerror(error) +
                       ")";
            }
            return "it is in use by another program" +
                   (holder.empty() ? std::string() : " (process " + holder + ")") +
                   ", which holds the lock file " + lockPath.string();
        }
        std::this_thread::sleep_for(kRetry);
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        (void)!::pwrite(fd, pid.data(), pid.size(), 0);
    }
    m_fd = fd;
    return {};
}

void DataFileLock::release() {
    if (m_fd >= 0) {
        ::close(m_fd); // closing the only descriptor lets the lock go
        m_fd = -1;
    }
}
