// The socket object behind CNetSocket: its state, its receive thread and its operations.
#pragma once

#include "support/NetSocket.h"
#include "support/RecvBuffer.h"
#include "support/Sync.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace Zorvik {

class CNetSocketCore : public CNetSocket, public CUsesWinsock {
public:
    static constexpr uint32_t kTcpBufferSize = 16384;
    static constexpr uint32_t kMulticastBufferSize = 2048;

    explicit CNetSocketCore(CNetSocketOwner* owner);
    virtual ~CNetSocketCore();

    // Starts the detached receive thread, which deletes the object once told to stop. False if the
    // thread cannot be started; the object is then still the caller's to delete.
    bool Start();
    // Tells the receive thread to leave its loop and delete the object.
    void Stop() { m_evStop.Set(); }

    // Socket objects alive in this process, counted until each is completely gone; lets tests and
    // diagnostics see that released objects really were deleted.
    static int LiveObjects();
    // Waits at most `limitMs` for the number of live objects to drop to `count` or below.
    static bool WaitForLiveObjects(int count, uint32_t limitMs);

protected:
    // One user's hold on a socket descriptor: while held, the descriptor is not closed, so its
    // number cannot be reused under the user.
    struct SocketUse {
        int fd = -1;
        uint64_t generation = 0;
    };

    SocketUse UseTcp();
    SocketUse UseMulticast();
    void EndUse(SocketUse& tcp, SocketUse& multicast);
    // Publishes a new descriptor; false if one is already held.
    bool PutTcp(int fd);
    bool PutMulticast(int fd);
    // Forgets the held descriptor, shuts it down so that every user wakes, waits for the users to
    // let go and closes it with a reset.
    void TakeAndCloseTcp() { TakeAndClose(m_hTcpSocket, m_nTcpGeneration, m_nTcpUsers, m_evTcp); }
    void TakeAndCloseMulticast() {
        TakeAndClose(m_hMulticastSocket, m_nMulticastGeneration, m_nMulticastUsers, m_evMulticast);
    }
    bool HoldsTcp();
    // Whether the TCP socket of `generation` is still the one held.
    bool IsCurrentTcp(uint64_t generation);
    bool IsCurrentMulticast(uint64_t generation);
    bool HoldsMulticast();

    bool SendImpl(const void* data, uint32_t length, uint32_t limitMs, uint32_t* sentOut);

private:
    static void* ThreadMain(void* self);
    void ReceiveLoop();
    void ReceivePass(uint64_t& seenTcpGeneration, bool& tcpClosed);
    // Reads what the TCP socket has and hands out the whole packets, or reports the peer's close.
    // Both read functions let go of the sockets before calling the owner.
    void ReceiveStream(SocketUse& tcp, SocketUse& multicast, bool& tcpClosed);
    void ReceiveDatagram(int fd, SocketUse& tcp, SocketUse& multicast);
    void CloseHeldSockets() noexcept;
    // TakeAndCloseTcp and TakeAndCloseMulticast: the members of one side and the event that wakes
    // the receive thread for it.
    void TakeAndClose(int& handle, uint64_t& generation, uint32_t& users, CManualEvent& wake);

    CCritSection m_sendLock;
    CManualEvent m_evStop;
    // Handles and their users are guarded by m_socketLock; the receive thread reads them only
    // through UseTcp/UseMulticast.
    int m_hTcpSocket = -1;
    CManualEvent m_evTcp; // set whenever the TCP side changes, to wake the receive thread
    CRecvBuffer m_tcpBuffer;
    int m_hMulticastSocket = -1;
    CManualEvent m_evMulticast;
    CRecvBuffer m_multicastBuffer;
    CNetSocketOwner* const m_pOwner;

    std::mutex m_socketLock;
    std::condition_variable m_socketReleased;
    uint64_t m_nTcpGeneration = 1; // changes with every socket put in or taken out
    uint64_t m_nMulticastGeneration = 1;
    uint32_t m_nTcpUsers = 0; // users of the socket now held
    uint32_t m_nMulticastUsers = 0;
    uint32_t m_nRetiringUsers = 0; // users of sockets already taken out, still to let go
};

} // namespace Zorvik
