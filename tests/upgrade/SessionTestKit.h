// Connection stand-ins for the session tests: a factory whose connections fail chosen sends in
// front of real socket objects, and a bare recorder on loopback that the test scripts packet by
// packet where the simulated recorder has no such behaviour.
#pragma once

#include "support/NetSocket.h"
#include "upgrade/UpgradeProtocol.h"
#include "upgrade/UpgradeSession.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Waits until every socket object of the process has been deleted.
bool AllSocketObjectsGone(std::chrono::milliseconds limit = std::chrono::seconds(10));

// Connections that pass everything to a real socket object, except that the data packet with
// chunk number `failChunk` fails its first `failures` sends. A failing send first hands up to
// `partBytes` of what it was given to the real object, as a time-out that strikes part-way does,
// and reports them as sent; with `partBytes` 0 it fails without touching the network.
class FlakyFactory final : public CNetSocketFactory {
public:
    FlakyFactory(uint32_t failChunk, int failures, uint32_t partBytes = 0);
    // Waits for the real objects to be gone before their wrappers go.
    ~FlakyFactory();

    bool Create(Zorvik::CNetSocketOwner* owner, Zorvik::CNetSocket** socket) override;
    void Release(Zorvik::CNetSocket*& socket) override;

    // Send attempts of each data packet, by chunk number (first file's numbers and later files'
    // numbers add up).
    std::map<uint32_t, int> Attempts() const;
    int Releases() const { return m_releases; }

private:
    class Socket;

    const uint32_t m_failChunk;
    const int m_failures;
    const uint32_t m_partBytes;
    mutable std::mutex m_lock;
    // The rest of data packet `m_chunk`, cut short, is still to come: the next send has no header.
    bool m_continuing = false;
    uint32_t m_chunk = 0;
    std::map<uint32_t, int> m_attempts;
    std::vector<std::unique_ptr<Socket>> m_sockets;
    std::atomic<int> m_releases{0};
};

// A recorder reduced to a TCP listener on 127.0.0.1 that takes one connection at a time, cuts
// what arrives into packets, and lets the test answer whatever and whenever it likes.
class TestPeer {
public:
    TestPeer();
    ~TestPeer();

    uint16_t Port() const { return m_port; }
    // Called on the peer's thread for each whole packet received.
    void OnRequest(std::function<void(TestPeer&, const RequestEvent&)> handler);
    // Sends raw bytes to the tool on the current connection.
    void Reply(const Packet32& packet);
    // Stops reading (the tool's sends then block once the buffers are full) or goes on.
    void SetReading(bool reading);
    // Waits until `count` packets of `type` have arrived in all.
    bool WaitForRequests(RequestType type, size_t count,
                         std::chrono::milliseconds limit = std::chrono::seconds(20)) const;
    std::vector<RequestEvent> Requests() const;

private:
    void Run();

    int m_listenFd = -1;
    int m_wakeFd = -1;
    uint16_t m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    int m_connFd = -1;
    bool m_reading = true;
    bool m_stopping = false;
    std::function<void(TestPeer&, const RequestEvent&)> m_handler;
    std::vector<RequestEvent> m_requests; // payloads are not kept
};
