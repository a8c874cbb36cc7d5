#include "support/NetSocketImpl.h"

#include "support/SocketOpen.h"

#include <fcntl.h>
#include <unistd.h>

namespace Zorvik {

bool CNetSocketImpl::Connect(const char* address, int port, uint32_t limitMs) {
    if (address == nullptr || HoldsTcp()) {
        return false;
    }
    const int fd = ConnectWithTimeout(address, port, limitMs);
    if (fd < 0) {
        return false;
    }
    if (!PutTcp(fd)) {
        ::close(fd);
        return false;
    }
    return true;
}

bool CNetSocketImpl::Attach(int socket) {
    if (socket < 0 || HoldsTcp()) {
        return false;
    }
    const int flags = ::fcntl(socket, F_GETFL);
    if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) != 0) {
        ::close(socket);
        return false;
    }
    if (!PutTcp(socket)) {
        ::close(socket);
        return false;
    }
    return true;
}

void CNetSocketImpl::Disconnect() {
    try {
        LeaveMulticast();
    } catch (...) {
        TakeAndCloseTcp(); // the connection goes in any case
        throw;
    }
    TakeAndCloseTcp();
}

bool CNetSocketImpl::IsConnected() {
    return HoldsTcp();
}

bool CNetSocketImpl::Send(const void* data, uint32_t length, uint32_t limitMs, uint32_t* sent) {
    return SendImpl(data, length, limitMs, sent);
}

bool CNetSocketImpl::JoinMulticast(const char* group, int port) {
    // A second join would lose the first socket while the receive thread still waits on it.
    if (HoldsMulticast()) {
        return false;
    }
    const int fd = CreateMulticastSocket(group, port);
    if (fd < 0) {
        return false;
    }
    if (!PutMulticast(fd)) {
        ::close(fd);
        return false;
    }
    return true;
}

void CNetSocketImpl::LeaveMulticast() {
    TakeAndCloseMulticast();
}

bool CNetSocketImpl::IsMulticastOpen() {
    return HoldsMulticast();
}

} // namespace Zorvik
