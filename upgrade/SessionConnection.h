// The session's current connection object, shared by the window's thread, the worker and the
// receive thread. Whoever takes it out (logout, a new login or MAC command, a refused login, the
// end of the session) closes it at once; the object itself is handed back to the socket library
// only when the last thread holding it lets go, so no thread ever calls a released object.
#pragma once

#include "support/NetSocket.h"

#include <memory>
#include <mutex>

class CSessionConnection {
public:
    using ClientPtr = std::shared_ptr<Zorvik::CNetSocket>;

    // The current object; null when there is none.
    ClientPtr Get() const;
    bool Has() const;
    bool Is(const Zorvik::CNetSocket* sender) const;
    void Set(ClientPtr client);
    // Takes the current object out only when it is still `sender`: while a message box was open the
    // user may have logged out or in again.
    ClientPtr TakeIf(const Zorvik::CNetSocket* sender);
    // Takes the current object out and closes it.
    void Drop();
    // The window, the worker and the receive thread may each close a connection; a socket object
    // takes its closing calls one at a time.
    void Close(Zorvik::CNetSocket& client);

private:
    mutable std::mutex m_lock;
    ClientPtr m_pClient;
    std::mutex m_closeLock; // one Disconnect at a time
};
