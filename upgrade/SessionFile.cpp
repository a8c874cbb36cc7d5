#include "upgrade/SessionFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool CSessionFile::Open(const std::string& path) {
    Close();
    // Non-blocking so that a pipe named by mistake cannot hang the open; such files are refused
    // below anyway.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_nLength = static_cast<int64_t>(st.st_size);
    if (!m_buffer) {
        m_buffer = std::make_unique<uint8_t[]>(kBufferSize);
    }
    m_nBuffered = m_nUsed = 0;
    m_bEnd = false;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

void CSessionFile::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_nLength = 0;
    m_nBuffered = m_nUsed = 0;
    m_bEnd = false;
}

size_t CSessionFile::Read(void* into, size_t size) {
    auto* out = static_cast<uint8_t*>(into);
    size_t done = 0;
    while (done < size && m_fd >= 0) {
        if (m_nUsed == m_nBuffered) {
            if (m_bEnd) {
                break;
            }
            const ssize_t n = ::read(m_fd, m_buffer.get(), kBufferSize);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                m_bEnd = true; // end of file, or an error that ends the file here
                break;
            }
            m_nBuffered = static_cast<size_t>(n);
            m_nUsed = 0;
        }
        const size_t take = std::min(size - done, m_nBuffered - m_nUsed);
        std::memcpy(out + done, m_buffer.get() + m_nUsed, take);
        m_nUsed += take;
        done += take;
    }
    return done;
}
