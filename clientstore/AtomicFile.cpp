#include "clientstore/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace {

// A buffered stream buffer over a file descriptor that remembers a failed write: once a write
// fails, every later write and sync fails too, so the caller cannot miss it.
class FdStreamBuf : public std::streambuf {
public:
    explicit FdStreamBuf(int fd) : m_fd(fd), m_buffer(kBufferSize) {
        setp(m_buffer.data(), m_buffer.data() + m_buffer.size());
    }

protected:
    int_type overflow(int_type ch) override {
        if (!drain()) {
            return traits_type::eof();
        }
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(ch);
            pbump(1);
        }
        return traits_type::not_eof(ch);
    }

    int sync() override { return drain() ? 0 : -1; }

private:
    static constexpr std::size_t kBufferSize = 1 << 16;

    bool drain() {
        if (m_failed) {
            return false;
        }
        const char* data = pbase();
        std::size_t left = static_cast<std::size_t>(pptr() - pbase());
        setp(m_buffer.data(), m_buffer.data() + m_buffer.size());
        while (left > 0) {
            const ssize_t n = ::write(m_fd, data, left);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                m_failed = true;
                return false;
            }
            data += n;
            left -= static_cast<std::size_t>(n);
        }
        return true;
    }

    int m_fd;
    std::vector<char> m_buffer;
    bool m_failed = false;
};

// Permissions for a file that does not exist yet: what open(..., 0666) would give.
mode_t newFileMode() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        unsigned mask = 0;
        if (std::sscanf(line.c_str(), "Umask: %o", &mask) == 1) {
            return 0666 & ~static_cast<mode_t>(mask);
        }
    }
    return 0644;
}

// Makes the rename itself durable. A failure here cannot be undone (the new file is already in
// place), so it is not reported as a failed save.
void syncFolder(const std::filesystem::path& folder) {
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

} // namespace

bool replaceFileAtomically(const std::filesystem::path& path,
                           const std::function<void(std::ostream&)>& write) {
    std::error_code ec;
    std::filesystem::path target = path;
    if (std::filesystem::is_symlink(path, ec)) {
        target = std::filesystem::weakly_canonical(path, ec);
        if (ec) {
            return false;
        }
    }
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) {
        folder = ".";
    }

    struct stat old {};
    mode_t mode = 0;
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists) {
        // Never put a file in place of a folder or a device, and leave a file alone that this
        // process could not open for writing: it was made read-only on purpose.
        if (!S_ISREG(old.st_mode) || ::access(target.c_str(), W_OK) != 0) {
            return false;
        }
        mode = old.st_mode & 07777;
    } else if (errno == ENOENT) {
        mode = newFileMode();
    } else {
        return false;
    }

    // A hidden name beside the target, so that the rename stays within one file system.
    std::string temp = folder.string();
    temp += "/.";
    temp += target.filename().string();
    temp += ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0;
    if (ok && exists) {
        // Keeps the owner when this process may (it runs as the owner, or as root); otherwise the
        // new file is ours, as it would be after the owner's own save.
        (void)::fchown(fd, old.st_uid, old.st_gid);
    }
    if (ok) {
        FdStreamBuf buf(fd);
        std::ostream out(&buf);
        write(out);
        out.flush();
        ok = !out.fail();
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    syncFolder(folder);
    return true;
}
