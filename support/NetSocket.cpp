#include "support/NetSocket.h"

#include "support/Exceptions.h"
#include "support/NetSocketCore.h"
#include "support/NetSocketImpl.h"
#include "support/SocketWait.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Zorvik {

namespace {

// How long the receive thread rests before trying again after its wait failed, so that a
// persistent failure costs no CPU and a stop request is still seen at once.
constexpr uint32_t kWaitRetryMs = 100;

// Exceptions that reach the receive thread have no handler to go to; they are shown on standard
// error so that they are not lost, and the thread carries on.
void ReportOnReceiveThread(const char* what, const char* where) {
    std::fprintf(stderr, "Zorvik::CNetSocket receive thread: %s: %s\n", where, what);
}

// Live socket objects, for LiveObjects/WaitForLiveObjects. Never destroyed: a released object
// counts itself out on its own thread, which may still be running while the process exits.
std::mutex& LiveLock() {
    static auto* lock = new std::mutex;
    return *lock;
}
std::condition_variable& LiveChanged() {
    static auto* changed = new std::condition_variable;
    return *changed;
}
int g_nLiveSockets = 0;

void CountObject(int delta) {
    std::lock_guard lock(LiveLock());
    g_nLiveSockets += delta;
    LiveChanged().notify_all();
}

} // namespace

// ---- CSocket

void CSocket::AbortiveClose(int socket) {
    const linger reset{1, 0};
    int lingerError = 0;
    if (::setsockopt(socket, SOL_SOCKET, SO_LINGER, &reset, sizeof reset) != 0) {
        lingerError = errno;
    }
    // Closed in any case: a descriptor that cannot take the option must not leak. EINTR from close
    // still leaves the descriptor closed on Linux, so it is no failure.
    int closeError = 0;
    if (::close(socket) != 0 && errno != EINTR) {
        closeError = errno;
    }
    if (lingerError != 0) {
        throw CSocketSupport::Exception("CSocket::AbortiveClose()", static_cast<uint32_t>(lingerError));
    }
    if (closeError != 0) {
        throw CSocketSupport::Exception("CSocket::Close()", static_cast<uint32_t>(closeError));
    }
}

// ---- CNetSocketCore

CNetSocketCore::CNetSocketCore(CNetSocketOwner* owner) : m_pOwner(owner) {
    if (!m_tcpBuffer.Allocate(kTcpBufferSize) || !m_multicastBuffer.Allocate(kMulticastBufferSize)) {
        throw std::bad_alloc();
    }
    CountObject(+1);
}

CNetSocketCore::~CNetSocketCore() {
    CloseHeldSockets();
    m_multicastBuffer.Free();
    m_tcpBuffer.Free();
}

int CNetSocketCore::LiveObjects() {
    std::lock_guard lock(LiveLock());
    return g_nLiveSockets;
}

bool CNetSocketCore::WaitForLiveObjects(int count, uint32_t limitMs) {
    std::unique_lock lock(LiveLock());
    return LiveChanged().wait_for(lock, std::chrono::milliseconds(limitMs),
                                  [count] { return g_nLiveSockets <= count; });
}

bool CNetSocketCore::Start() {
    pthread_attr_t attr;
    if (::pthread_attr_init(&attr) != 0) {
        return false;
    }
    // Nobody joins the thread: it ends right after deleting the object.
    ::pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int rc = ::pthread_create(&thread, &attr, &CNetSocketCore::ThreadMain, this);
    ::pthread_attr_destroy(&attr);
    return rc == 0;
}

void* CNetSocketCore::ThreadMain(void* self) {
    auto* core = static_cast<CNetSocketCore*>(self);
    core->ReceiveLoop();
    delete core;
    CountObject(-1); // last: the object, its sockets and its events are all gone by now
    return nullptr;
}

void CNetSocketCore::CloseHeldSockets() noexcept {
    int sockets[2];
    {
        std::lock_guard lock(m_socketLock);
        sockets[0] = m_hTcpSocket;
        sockets[1] = m_hMulticastSocket;
        m_hTcpSocket = m_hMulticastSocket = -1;
    }
    for (int fd : sockets) {
        if (fd < 0) {
            continue;
        }
        try {
            CSocket::AbortiveClose(fd);
        } catch (const CException& e) {
            ReportOnReceiveThread(e.Text().c_str(), e.Location().c_str());
        }
    }
}

CNetSocketCore::SocketUse CNetSocketCore::UseTcp() {
    std::lock_guard lock(m_socketLock);
    if (m_hTcpSocket >= 0) {
        ++m_nTcpUsers;
    }
    return {m_hTcpSocket, m_nTcpGeneration};
}

CNetSocketCore::SocketUse CNetSocketCore::UseMulticast() {
    std::lock_guard lock(m_socketLock);
    if (m_hMulticastSocket >= 0) {
        ++m_nMulticastUsers;
    }
    return {m_hMulticastSocket, m_nMulticastGeneration};
}

void CNetSocketCore::EndUse(SocketUse& tcp, SocketUse& multicast) {
    if (tcp.fd < 0 && multicast.fd < 0) {
        return;
    }
    std::lock_guard lock(m_socketLock);
    if (tcp.fd >= 0) {
        --(tcp.generation == m_nTcpGeneration ? m_nTcpUsers : m_nRetiringUsers);
        tcp.fd = -1;
    }
    if (multicast.fd >= 0) {
        --(multicast.generation == m_nMulticastGeneration ? m_nMulticastUsers : m_nRetiringUsers);
        multicast.fd = -1;
    }
    if (m_nRetiringUsers == 0) {
        m_socketReleased.notify_all();
    }
}

bool CNetSocketCore::PutTcp(int fd) {
    {
        std::lock_guard lock(m_socketLock);
        if (m_hTcpSocket >= 0) {
            return false;
        }
        m_hTcpSocket = fd;
        ++m_nTcpGeneration;
    }
    m_evTcp.Set();
    return true;
}

bool CNetSocketCore::PutMulticast(int fd) {
    {
        std::lock_guard lock(m_socketLock);
        if (m_hMulticastSocket >= 0) {
            return false;
        }
        m_hMulticastSocket = fd;
        ++m_nMulticastGeneration;
    }
    m_evMulticast.Set();
    return true;
}

bool CNetSocketCore::IsCurrentTcp(uint64_t generation) {
    std::lock_guard lock(m_socketLock);
    return generation == m_nTcpGeneration;
}

bool CNetSocketCore::IsCurrentMulticast(uint64_t generation) {
    std::lock_guard lock(m_socketLock);
    return generation == m_nMulticastGeneration;
}

bool CNetSocketCore::HoldsTcp() {
    std::lock_guard lock(m_socketLock);
    return m_hTcpSocket >= 0;
}

bool CNetSocketCore::HoldsMulticast() {
    std::lock_guard lock(m_socketLock);
    return m_hMulticastSocket >= 0;
}

void CNetSocketCore::TakeAndClose(int& handle, uint64_t& generation, uint32_t& users, CManualEvent& wake) {
    int fd;
    {
        std::lock_guard lock(m_socketLock);
        fd = handle;
        if (fd < 0) {
            return;
        }
        handle = -1;
        ++generation;
        m_nRetiringUsers += users;
        users = 0;
    }
    // close() would not wake a thread polling or sending on the socket, and its number could be
    // handed out again while that thread still holds it. So: shut it down (which wakes a sender and
    // the receive thread), wake the receive thread to drop it from its poll set, wait until every
    // user has let go, and only then close it.
    ::shutdown(fd, SHUT_RDWR);
    std::exception_ptr setFailure;
    try {
        wake.Set();
    } catch (...) {
        setFailure = std::current_exception();
    }
    {
        std::unique_lock lock(m_socketLock);
        m_socketReleased.wait(lock, [this] { return m_nRetiringUsers == 0; });
    }
    CSocket::AbortiveClose(fd);
    if (setFailure) {
        std::rethrow_exception(setFailure);
    }
}

bool CNetSocketCore::SendImpl(const void* data, uint32_t length, uint32_t limitMs, uint32_t* sentOut) {
    CCritSectionLock lock(m_sendLock);
    const Clock::time_point start = Clock::now();
    uint32_t sent = 0;
    // Whatever way the call ends, the caller learns how far the buffer got.
    struct Report {
        uint32_t* out;
        const uint32_t& sent;
        ~Report() {
            if (out != nullptr) {
                *out = sent;
            }
        }
    } report{sentOut, sent};
    if (length == 0) {
        return true;
    }
    SocketUse tcp = UseTcp();
    SocketUse none;
    struct Guard {
        CNetSocketCore& core;
        SocketUse& tcp;
        SocketUse& none;
        ~Guard() { core.EndUse(tcp, none); }
    } guard{*this, tcp, none};

    const int fd = tcp.fd;
    const auto* bytes = static_cast<const uint8_t*>(data);
    int error = fd < 0 ? ENOTCONN : 0;
    while (error == 0 && sent < length) {
        const uint32_t elapsed = MillisecondsSince(start);
        if (elapsed > limitMs) {
            return false; // time-out: no callback
        }
        const ssize_t n = ::send(fd, bytes + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            sent += static_cast<uint32_t>(n);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // Rather than retrying at once, sleep in poll() until there is room or the limit has
            // passed: the outcome is the same and no CPU is burnt while the peer is slow.
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, PollTimeout(uint64_t{limitMs} - elapsed + 1));
        } else if (errno != EINTR) {
            error = errno;
        }
    }
    if (error == 0) {
        return true;
    }
    // Let go of the socket before calling out: the owner may disconnect from inside OnClose.
    EndUse(tcp, none);
    m_pOwner->OnClose(this);
    return false;
}

void CNetSocketCore::ReceiveLoop() {
    uint64_t seenTcpGeneration = 0;
    bool tcpClosed = false;
    for (;;) {
        try {
            if (m_evStop.Wait(0)) {
                return;
            }
            ReceivePass(seenTcpGeneration, tcpClosed);
        } catch (const CException& e) {
            ReportOnReceiveThread(e.Text().c_str(), e.Location().c_str());
            if (m_evStop.Wait(kWaitRetryMs)) {
                return;
            }
        } catch (const std::exception& e) {
            ReportOnReceiveThread(e.what(), "callback");
            if (m_evStop.Wait(kWaitRetryMs)) {
                return;
            }
        }
    }
}

namespace {

// The descriptors one pass of the receive thread waits on, by what each is for.
enum PollSlot : size_t {
    kStopSlot,             // the stop event
    kTcpChangedSlot,       // the TCP socket was put in or taken out
    kMulticastChangedSlot, // the multicast socket was put in or taken out
    kTcpSlot,              // the TCP socket itself
    kMulticastSlot,        // the multicast socket itself
    kPollSlots
};

} // namespace

// One pass: wait until the stop event, a state change or one of the sockets needs attention, then
// serve one socket. Sockets are held (SocketUse) only while polled or read, never during callbacks.
void CNetSocketCore::ReceivePass(uint64_t& seenTcpGeneration, bool& tcpClosed) {
    SocketUse tcp = UseTcp();
    SocketUse multicast = UseMulticast();
    struct Guard {
        CNetSocketCore& core;
        SocketUse& tcp;
        SocketUse& multicast;
        ~Guard() { core.EndUse(tcp, multicast); }
    } guard{*this, tcp, multicast};

    if (tcp.generation != seenTcpGeneration) {
        // A different connection (or none): bytes of the old stream must not run into the new one.
        seenTcpGeneration = tcp.generation;
        tcpClosed = false;
        m_tcpBuffer.Reset();
        m_tcpBuffer.SetInSync(true);
    }
    // After a peer close the socket stays readable for ever; it is left out of the wait until a
    // new connection replaces it, so that the close is reported once and the thread then sleeps.
    const bool watchTcp = tcp.fd >= 0 && !tcpClosed;
    // Out of step, the stream is read until empty without waiting for more data.
    const bool drainTcp = watchTcp && !m_tcpBuffer.InSync();

    pollfd fds[kPollSlots] = {};
    fds[kStopSlot] = {m_evStop.Handle(), POLLIN, 0};
    fds[kTcpChangedSlot] = {m_evTcp.Handle(), POLLIN, 0};
    fds[kMulticastChangedSlot] = {m_evMulticast.Handle(), POLLIN, 0};
    fds[kTcpSlot] = {watchTcp ? tcp.fd : -1, POLLIN, 0};
    fds[kMulticastSlot] = {multicast.fd, POLLIN, 0};
    const int n = ::poll(fds, kPollSlots, drainTcp ? 0 : -1);
    const short eventFailure =
        (fds[kStopSlot].revents | fds[kTcpChangedSlot].revents | fds[kMulticastChangedSlot].revents) &
        POLLNVAL;
    if (n < 0 || eventFailure != 0) {
        if (n < 0 && errno == EINTR) {
            return;
        }
        // The wait itself failed: rest instead of spinning, waking early only to stop.
        EndUse(tcp, multicast);
        m_evStop.Wait(kWaitRetryMs);
        return;
    }
    if (m_evStop.Wait(0)) {
        return; // stop wins, even over waiting data
    }
    if (fds[kTcpChangedSlot].revents != 0) {
        m_evTcp.Reset();
    }
    if (fds[kMulticastChangedSlot].revents != 0) {
        m_evMulticast.Reset();
    }

    if (watchTcp && (fds[kTcpSlot].revents != 0 || drainTcp)) {
        ReceiveStream(tcp, multicast, tcpClosed);
    } else if (multicast.fd >= 0 && fds[kMulticastSlot].revents != 0) {
        ReceiveDatagram(multicast.fd, tcp, multicast);
    }
}

void CNetSocketCore::ReceiveStream(SocketUse& tcp, SocketUse& multicast, bool& tcpClosed) {
    const int fd = tcp.fd;
    const StreamRead result = ReadStream(
        m_tcpBuffer, [fd](void* into, size_t size) { return ::recv(fd, into, size, MSG_DONTWAIT); });
    const bool retired = !IsCurrentTcp(tcp.generation);
    EndUse(tcp, multicast);
    if (retired) {
        // Disconnect took the socket while it was being read; its shutdown reads as an end of
        // stream, which is no peer close, and what came with it is no longer wanted.
        return;
    }
    if (result == StreamRead::Data) {
        m_tcpBuffer.SetInSync(CutPackets(m_tcpBuffer, [this](const uint8_t* packet, uint32_t length) {
            m_pOwner->OnPacket(this, packet, length);
        }));
        m_pOwner->OnPacketsRead(this);
    } else if (result == StreamRead::Closed) {
        tcpClosed = true;
        m_pOwner->OnClose(this);
    }
}

void CNetSocketCore::ReceiveDatagram(int fd, SocketUse& tcp, SocketUse& multicast) {
    uint32_t room = 0;
    uint8_t* space = m_multicastBuffer.WriteSpace(room, false);
    if (space == nullptr) {
        return;
    }
    // MSG_TRUNC gives the datagram's real size, so that one longer than the buffer is dropped
    // whole instead of being handed out cut short.
    const ssize_t n = ::recv(fd, space, room, MSG_DONTWAIT | MSG_TRUNC);
    const bool retired = !IsCurrentMulticast(multicast.generation);
    EndUse(tcp, multicast);
    if (retired || n < 0 || static_cast<size_t>(n) > room) {
        return;
    }
    m_multicastBuffer.Commit(static_cast<uint32_t>(n));
    uint32_t count = 0;
    const uint8_t* data = m_multicastBuffer.ReadData(count);
    // Reset first (the bytes stay where they are until the next read), so that the buffer is
    // empty for the next datagram whatever the callback does.
    m_multicastBuffer.Reset();
    if (data != nullptr) {
        m_pOwner->OnDatagram(this, data, count);
    }
}

// ---- creation and release

bool CreateNetSocket(CNetSocketOwner* owner, CNetSocket** socket) {
    if (owner == nullptr || socket == nullptr) {
        return false;
    }
    auto* object = new CNetSocketImpl(owner);
    if (!object->Start()) {
        delete object;
        CountObject(-1);
        return false;
    }
    *socket = object;
    return true;
}

void ReleaseNetSocket(CNetSocket*& socket) {
    if (socket == nullptr) {
        return;
    }
    // Every CNetSocket is made by CreateNetSocket, so it is a CNetSocketCore.
    auto* core = static_cast<CNetSocketCore*>(socket);
    socket = nullptr;
    core->Stop();
}

} // namespace Zorvik
