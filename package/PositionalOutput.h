// Positional writes into the image file. The first failure is remembered and later writes are
// skipped, so that it can be reported where the image's final write would have failed.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>

class PositionalOutput {
public:
    void Attach(int fd) { m_fd = fd; }

    // Writes the buffers back to back from `offset`; the iovec array is used up as it goes.
    void Write(std::uint64_t offset, iovec* iov, int count);
    void Write(std::uint64_t offset, const void* data, std::size_t n);

    bool Failed() const { return m_error != 0; }
    int Error() const { return m_error; } // errno of the first failed write
    std::uint64_t Written() const { return m_written; }

private:
    int m_fd = -1;
    int m_error = 0; // never 0 once a write failed
    std::uint64_t m_written = 0;
};
