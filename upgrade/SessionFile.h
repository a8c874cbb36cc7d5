// The one kind of file the session reads: an upgrade file, opened read-only, read from its start
// in order, closed when the step that opened it is done.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CSessionFile {
public:
    CSessionFile() = default;
    ~CSessionFile() { Close(); }
    CSessionFile(const CSessionFile&) = delete;
    CSessionFile& operator=(const CSessionFile&) = delete;

    // Opens a regular file for reading (other writers and readers may keep it open). False for
    // anything else: a missing file, a directory, a device or a pipe, which would block or never
    // end.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    // Length in bytes when opened.
    int64_t Length() const { return m_nLength; }

    // Reads up to `size` bytes; fewer only at the end of the file or on a read error.
    size_t Read(void* into, size_t size);

private:
    static constexpr size_t kBufferSize = 64 * 1024;

    int m_fd = -1;
    int64_t m_nLength = 0;
    std::unique_ptr<uint8_t[]> m_buffer;
    size_t m_nBuffered = 0;
    size_t m_nUsed = 0;
    bool m_bEnd = false;
};
