#include "support/RecvBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace Zorvik {

bool CByteBuffer::Allocate(uint32_t size) {
    if (size == 0) {
        return false;
    }
    Free();
    m_pStorage.reset(new (std::nothrow) uint8_t[size]);
    if (!m_pStorage) {
        return false;
    }
    m_nCapacity = size;
    Reset();
    return true;
}

void CByteBuffer::Free() {
    m_pStorage.reset();
    m_nCapacity = 0;
    Reset();
}

void CByteBuffer::Reset() {
    m_nUnread = 0;
    m_pRead = m_pStorage.get();
}

void CByteBuffer::Compact() {
    if (m_pStorage && m_pRead != m_pStorage.get()) {
        std::memmove(m_pStorage.get(), m_pRead, m_nUnread);
        m_pRead = m_pStorage.get();
    }
}

uint32_t CByteBuffer::FreeSpace(bool compactFirst) {
    if (compactFirst) {
        Compact();
    }
    if (!m_pStorage) {
        return 0;
    }
    return static_cast<uint32_t>(m_pStorage.get() + m_nCapacity - m_pRead) - m_nUnread;
}

uint8_t* CByteBuffer::WriteSpace(uint32_t& size, bool compactFirst) {
    const uint32_t room = FreeSpace(compactFirst);
    if (room == 0) {
        return nullptr;
    }
    size = room;
    return m_pRead + m_nUnread;
}

void CByteBuffer::Commit(uint32_t n) {
    m_nUnread += std::min(n, FreeSpace(false));
}

const uint8_t* CByteBuffer::ReadData(uint32_t& count) const {
    if (m_nUnread == 0) {
        return nullptr;
    }
    count = m_nUnread;
    return m_pRead;
}

void CByteBuffer::Consume(uint32_t n, bool compactAfter) {
    n = std::min(n, m_nUnread);
    m_nUnread -= n;
    m_pRead += n;
    if (compactAfter) {
        Compact();
    }
}

} // namespace Zorvik
