#include "upgrade/SessionConnection.h"

using Zorvik::CNetSocket;

CSessionConnection::ClientPtr CSessionConnection::Get() const {
    std::lock_guard lock(m_lock);
    return m_pClient;
}

bool CSessionConnection::Has() const {
    std::lock_guard lock(m_lock);
    return m_pClient != nullptr;
}

bool CSessionConnection::Is(const CNetSocket* sender) const {
    std::lock_guard lock(m_lock);
    return m_pClient != nullptr && m_pClient.get() == sender;
}

void CSessionConnection::Set(ClientPtr client) {
    std::lock_guard lock(m_lock);
    m_pClient = std::move(client);
}

CSessionConnection::ClientPtr CSessionConnection::TakeIf(const CNetSocket* sender) {
    std::lock_guard lock(m_lock);
    if (m_pClient.get() == sender) {
        return std::move(m_pClient);
    }
    return nullptr;
}

void CSessionConnection::Drop() {
    ClientPtr old;
    {
        std::lock_guard lock(m_lock);
        old = std::move(m_pClient);
    }
    // Closed at once, so that a worker still holding the object fails its next send instead of
    // streaming into a connection the user gave up. The object itself is released when the last
    // holder lets go.
    if (old) {
        Close(*old);
    }
}

void CSessionConnection::Close(CNetSocket& client) {
    std::lock_guard lock(m_closeLock);
    client.Disconnect();
}
