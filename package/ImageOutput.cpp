#include "package/ImageOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ctime>

namespace {

// Folder part of a path, with its trailing '/'; empty for a bare name.
std::string FolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a link names, when the link leads to one; the path itself otherwise.
std::string ResolvedTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved))
        return path;
    return resolved;
}

} // namespace

ImageOutput::~ImageOutput() {
    Discard();
}

bool ImageOutput::Open(const std::string& path) {
    Discard();
    m_target = ResolvedTarget(path);
    struct stat st {};
    const bool exists = ::stat(m_target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        // No rename can replace a device; what is written goes straight to it. Never waiting:
        // a FIFO with no reader is refused rather than hanging the caller.
        m_fd = ::open(m_target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK);
        return m_fd >= 0;
    }
    // A new image gets the mode a newly created file gets; a replaced one keeps its mode.
    return OpenTemporary(m_target, exists ? st.st_mode & 07777 : 0666);
}

bool ImageOutput::OpenTemporary(const std::string& target, mode_t mode) {
    const std::string stem = FolderOf(target) + "." + NameOf(target) + ".";
    unsigned seed = static_cast<unsigned>(::getpid()) ^ static_cast<unsigned>(std::time(nullptr)) ^
                    static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(this));
    for (int attempt = 0; attempt < 100; ++attempt) {
        seed = seed * 1103515245u + 12345u;
        std::string name = stem + std::to_string(seed % 1000000u) + ".part";
        int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            m_fd = fd;
            m_temporary = name;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool ImageOutput::Commit(const char** step) {
    int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        *step = "fclose";
        int error = errno;
        Discard();
        errno = error;
        return false;
    }
    if (!m_temporary.empty() && ::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        *step = "rename";
        int error = errno;
        Discard();
        errno = error;
        return false;
    }
    m_temporary.clear();
    return true;
}

void ImageOutput::Discard() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_temporary.empty())
        ::unlink(m_temporary.c_str());
    m_temporary.clear();
}
