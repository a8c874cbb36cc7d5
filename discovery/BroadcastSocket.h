#pragma once

#include "discovery/BroadcastInterfaces.h"
#include "discovery/DiscoveryProtocol.h"
#include "discovery/WinsockSession.h"

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// One UDP endpoint that sends every datagram to one destination (the limited broadcast address
// unless told otherwise) and receives on its bound port on a thread of its own.
//
// A datagram for the limited broadcast address leaves through every interface that can carry a
// broadcast (see broadcastInterfaces()), each time with that interface's own address as source,
// and once more the way the routing table sends it, unless that way is one of those interfaces.
// Given an interface name, every datagram leaves through that interface alone, whatever its
// destination.
class BroadcastSocket {
public:
    // Largest datagram handed to onDatagram; longer ones are skipped.
    static constexpr std::size_t kReceiveBufferSize = 102400;
    // Kernel receive queue asked for at open(). The default (about 208 KiB) overflows when a few
    // thousand recorders answer one search at once; the kernel caps the request at
    // net.core.rmem_max, and receiveQueueSize() tells what was granted.
    static constexpr int kReceiveQueueRequest = 4 * 1024 * 1024;

    // Ports are host numbers; boundPort 0 binds any free port (see localPort()).
    explicit BroadcastSocket(std::uint32_t destinationAddress = DISCOVERY_BROADCAST_ADDRESS,
                             std::uint16_t destinationPort = DISCOVERY_PORT,
                             std::uint16_t boundPort = DISCOVERY_PORT, std::string interfaceName = {});
    virtual ~BroadcastSocket();
    BroadcastSocket(const BroadcastSocket&) = delete;
    BroadcastSocket& operator=(const BroadcastSocket&) = delete;

    // Creates the socket, allows broadcast, binds the port on all local addresses and starts the
    // receive thread. 1 on success; -1 when already open or when any step fails.
    int open();
    // The datagram to the destination, through each interface as the class comment says; the
    // number of bytes of one datagram when at least one copy left, -1 when none did (an
    // interface that refuses is skipped). Safe from any thread.
    int send(const std::uint8_t* bytes, std::size_t length);
    int send(const Datagram& datagram) { return send(datagram.data(), datagram.size()); }
    // Ends the receive thread (promptly: it is woken, never killed), then releases the socket.
    // onDatagram is not running and will not run once this returns. Idempotent.
    virtual void close();

    bool isOpen() const;
    // The bound port while open, else 0.
    std::uint16_t localPort() const { return m_localPort.load(); }
    // The kernel's receive queue size as it reports it (Linux reports twice the granted
    // request, the other half being its bookkeeping); 0 when not open.
    int receiveQueueSize() const { return m_receiveQueueSize.load(); }
    // Datagrams taken off the socket since construction, the skipped ones included.
    std::uint64_t datagramsReceived() const { return m_datagramsReceived.load(); }

protected:
    // Called on the receive thread for every datagram received. Does nothing here.
    virtual void onDatagram(const std::uint8_t* bytes, std::size_t length);
    // The sender of the datagram being handled. Receive thread only.
    const sockaddr_in& source() const { return m_source; }
    // Whether the datagram being handled came from this very socket: a broadcast comes back to
    // the host that sent it. Receive thread only.
    bool sourceIsThisSocket();

private:
    // The interfaces a datagram leaves through now, and whether it also leaves without a named
    // interface; nullopt when the named interface is not there.
    struct Route {
        std::vector<BroadcastInterface> via;
        bool plain = false;
    };
    std::optional<Route> route() const;
    void receiveLoop(int socket);
    void receiveAvailable(int socket);
    bool isLocalAddress(std::uint32_t address);

    const sockaddr_in m_destination;
    const std::uint16_t m_boundPort;
    const std::string m_interfaceName; // empty: every interface
    const bool m_bSessionStarted;

    // Guards m_socket so that a send from another thread never uses a descriptor being closed.
    mutable std::mutex m_socketMutex;
    int m_socket = -1;
    int m_stopSignal = -1; // eventfd that wakes the receive thread's poll()
    std::atomic<bool> m_stopRequested{false};
    std::thread m_thread;
    std::atomic<std::uint16_t> m_localPort{0};
    std::atomic<int> m_receiveQueueSize{0};
    std::atomic<std::uint64_t> m_datagramsReceived{0};

    // Receive thread only.
    sockaddr_in m_source{};
    std::unique_ptr<std::uint8_t[]> m_receiveBuffer;
    std::vector<std::uint32_t> m_localAddresses;
    std::chrono::steady_clock::time_point m_localAddressesRead{};
};
