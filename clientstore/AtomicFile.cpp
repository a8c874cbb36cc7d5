#include "clientstore/AtomicFile.h"

#include "clientstore/TempFileCleanup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
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

public:
    // The error of the write that failed, 0 while none did.
    int error() const { return m_error; }

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
                m_error = n < 0 ? errno : ENOSPC;
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
    int m_error = 0;
};

// Permissions for a file that does not exist yet: what open(..., 0666) would give.
mode_t umaskMode() {
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

bool fail(std::string* why, const std::string& text) {
    if (why != nullptr) {
        *why = text;
    }
    return false;
}

bool failErrno(std::string* why, int error) {
    return fail(why, std::strerror(error));
}

// The file that the save replaces: `path` itself, or the file a symbolic link there points to.
bool resolveTarget(const std::filesystem::path& path, std::filesystem::path& target, std::string* why) {
    std::error_code ec;
    target = path;
    if (!std::filesystem::is_symlink(path, ec)) {
        return true;
    }
    std::filesystem::path to = std::filesystem::read_symlink(path, ec);
    if (ec) {
        return failErrno(why, ec.value());
    }
    if (!std::filesystem::exists(path, ec)) {
        // Writing through it would make a file somewhere the user never named.
        return fail(why, path.string() + " is a symbolic link to " + to.string() + ", which does not exist");
    }
    target = std::filesystem::weakly_canonical(path, ec);
    return ec ? failErrno(why, ec.value()) : true;
}

struct TargetState {
    bool exists = false;
    struct stat old {};
    mode_t mode = 0;
};

bool inspectTarget(const std::filesystem::path& target, mode_t newFileMode, TargetState& state,
                   std::string* why) {
    if (::stat(target.c_str(), &state.old) == 0) {
        // Never put a file in place of a folder or a device, and leave a file alone that this
        // process could not open for writing: it was made read-only on purpose.
        if (!S_ISREG(state.old.st_mode)) {
            return fail(why, "it is not a regular file");
        }
        if (::access(target.c_str(), W_OK) != 0) {
            return failErrno(why, errno);
        }
        state.exists = true;
        state.mode = state.old.st_mode & 07777;
        return true;
    }
    if (errno != ENOENT) {
        return failErrno(why, errno);
    }
    state.mode = newFileMode != 0 ? newFileMode : umaskMode();
    return true;
}

// Writes the text to the open temporary file and flushes it to disk.
bool fillTemporary(int fd, const TargetState& state, const std::function<void(std::ostream&)>& write,
                   std::string* why) {
    if (::fchmod(fd, state.mode) != 0) {
        return failErrno(why, errno);
    }
    if (state.exists) {
        // Keeps the owner when this process may (it runs as the owner, or as root); otherwise the
        // new file is ours, as it would be after the owner's own save.
        (void)::fchown(fd, state.old.st_uid, state.old.st_gid);
    }
    FdStreamBuf buf(fd);
    std::ostream out(&buf);
    write(out);
    out.flush();
    if (buf.error() != 0) {
        return failErrno(why, buf.error());
    }
    if (out.fail()) {
        return fail(why, "the text could not be put together");
    }
    return ::fsync(fd) == 0 ? true : failErrno(why, errno);
}

} // namespace

bool replaceFileAtomically(const std::filesystem::path& path, const std::function<void(std::ostream&)>& write,
                           std::string* why, const ReplaceOptions& options) {
    std::filesystem::path target;
    TargetState state;
    if (!resolveTarget(path, target, why) || !inspectTarget(target, options.newFileMode, state, why)) {
        return false;
    }
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    // A hidden name beside the target, so that the rename stays within one file system. It is
    // made (mode 0600) and registered for removal with the stop signals held back, so that no
    // signal can leave it behind.
    std::string temp = folder.string() + "/." + target.filename().string() + ".XXXXXX";
    std::optional<TempFileCleanup> cleanup;
    int fd = -1;
    {
        TempFileCleanup::Block block;
        fd = ::mkostemp(temp.data(), O_CLOEXEC);
        if (fd < 0) {
            return failErrno(why, errno);
        }
        cleanup.emplace(temp);
    }
    bool ok = fillTemporary(fd, state, write, why);
    if (::close(fd) != 0 && ok) {
        ok = failErrno(why, errno);
    }
    if (ok && options.beforeRename) {
        if (const std::string refusal = options.beforeRename(); !refusal.empty()) {
            ok = fail(why, refusal);
        }
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = failErrno(why, errno);
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    syncFolder(folder);
    return true;
}
