#include "package/PositionalOutput.h"

#include <sys/types.h>

#include <cerrno>

void PositionalOutput::Write(std::uint64_t offset, iovec* iov, int count) {
    std::size_t total = 0;
    for (int i = 0; i < count; ++i)
        total += iov[i].iov_len;
    if (total == 0)
        return;
    while (count > 0 && !Failed()) {
        ssize_t n = ::pwritev(m_fd, iov, count, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_error = n == 0 ? ENOSPC : errno;
            return;
        }
        m_written += static_cast<std::uint64_t>(n);
        offset += static_cast<std::uint64_t>(n);
        auto left = static_cast<std::size_t>(n);
        while (count > 0 && left >= iov->iov_len) {
            left -= iov->iov_len;
            ++iov;
            --count;
        }
        if (count > 0) {
            iov->iov_base = static_cast<char*>(iov->iov_base) + left;
            iov->iov_len -= left;
        }
    }
}

void PositionalOutput::Write(std::uint64_t offset, const void* data, std::size_t n) {
    iovec v{const_cast<void*>(data), n};
    Write(offset, &v, 1);
}
