// The event-driven TCP client socket. An owner creates a socket object, connects it, sends whole
// buffers within a time limit, and receives each framed packet (32-byte header with the payload
// length at bytes 4 to 7, then the payload) through a callback on the object's own receive thread.
// The object can also hold a UDP socket that has joined a multicast group; its datagrams arrive
// whole through another callback. Released objects close and delete themselves on that thread.
#pragma once

#include <cstdint>

namespace Zorvik {

class CNetSocket;

// Implemented by the user of a socket object. Callbacks come on the object's receive thread
// (OnClose also on a thread inside Send) while the owner's own thread may be inside an operation.
// A data pointer is valid only until the callback returns.
class CNetSocketOwner {
public:
    // A complete packet: `data` points at its header, `length` is 32 + payload length.
    virtual void OnPacket(CNetSocket* sender, const uint8_t* data, uint32_t length) = 0;
    // A datagram read from the multicast socket, whole.
    virtual void OnDatagram(CNetSocket* sender, const uint8_t* data, uint32_t length) = 0;
    // The peer closed the TCP connection (reported once per connection), or a send failed.
    virtual void OnClose(CNetSocket* sender) = 0;
    // Every packet of one read from the connection has been handed to OnPacket: what the peer
    // sent together with them has all been seen. Nothing unless the owner needs it.
    virtual void OnPacketsRead(CNetSocket* sender) { (void)sender; }

protected:
    ~CNetSocketOwner() = default;
};

// A socket object. Never deleted by its user: give it up with ReleaseNetSocket.
// Connect, Attach, Disconnect, JoinMulticast and LeaveMulticast must not run at the same time as
// one another; they may run on the receive thread from inside a callback. Send may run on any
// thread at any time before release; concurrent sends go out one after another, never interleaved.
class CNetSocket {
public:
    // Connects to a dotted IPv4 address and port, waiting at most `limitMs`. False (and nothing
    // held) when the address is null or not dotted IPv4, a connection is already held, the peer
    // refuses or the time runs out.
    virtual bool Connect(const char* address, int port, uint32_t limitMs) = 0;
    // Takes over a connected TCP socket descriptor. False if one is already held or it is -1.
    virtual bool Attach(int socket) = 0;
    // Leaves the multicast group, then closes the TCP connection with a reset. No callback.
    // Throws CSocketSupport::Exception if closing fails (the socket is forgotten all the same).
    virtual void Disconnect() = 0;
    // Whether a TCP socket is held; stays true after a peer close until Disconnect.
    virtual bool IsConnected() = 0;
    // Sends all `length` bytes within `limitMs` of getting the send lock. True when all went out;
    // false on time-out, or after calling OnClose when the send fails (also without a connection).
    // When `sent` is given it receives the number of bytes handed to the network by this call, also
    // when it fails: a time-out can strike after part of the buffer went out, and those bytes are
    // on their way to the peer. A caller that tries again must go on from `data + *sent`, or the
    // peer reads the start of the buffer twice; and it must do so before anyone else sends on the
    // connection, as the send lock is not held between the calls.
    virtual bool Send(const void* data, uint32_t length, uint32_t limitMs, uint32_t* sent = nullptr) = 0;
    // Opens a UDP socket on `port`, joined to the IPv4 multicast group `group`. False if that
    // fails or a multicast socket is already held.
    virtual bool JoinMulticast(const char* group, int port) = 0;
    // Closes the multicast socket, if any. Throws CSocketSupport::Exception if closing fails.
    virtual void LeaveMulticast() = 0;
    // Whether a multicast socket is held.
    virtual bool IsMulticastOpen() = 0;

protected:
    ~CNetSocket() = default;
};

// Creates a socket object for `owner` and starts its receive thread. False, leaving `*socket`
// unchanged, for a null owner or output pointer, or when the thread cannot be started.
// Throws CWin32Exception when the system has no event objects left.
bool CreateNetSocket(CNetSocketOwner* owner, CNetSocket** socket);

// Gives an object up: clears the caller's pointer, then tells the receive thread to stop. The
// thread finishes what it is doing (a callback in progress runs to its end), closes whatever
// socket is still held with a reset, and deletes the object. Null pointers are ignored.
void ReleaseNetSocket(CNetSocket*& socket);

// Brackets the use of the socket layer. POSIX sockets need no start-up or clean-up, so this only
// keeps the shape of the library.
class CUsesWinsock {
public:
    CUsesWinsock() = default;
    ~CUsesWinsock() = default;
    CUsesWinsock(const CUsesWinsock&) = delete;
    CUsesWinsock& operator=(const CUsesWinsock&) = delete;
};

class CSocket {
public:
    // Closes `socket` so that the connection is reset rather than drained: linger on, 0 seconds.
    // The descriptor is closed even when setting the option fails. Throws CSocketSupport::Exception
    // ("CSocket::AbortiveClose()" when the option fails, "CSocket::Close()" when close fails).
    static void AbortiveClose(int socket);
};

} // namespace Zorvik
