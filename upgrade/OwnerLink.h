// What connection objects call back. A released object may still hand out the packets it had
// buffered, on its own thread, after its owner is gone, and nothing tells when it has finished.
// So the objects never call the owner directly: they call this link, which passes calls on only
// while an owner is attached and lets the owner wait until no call is in progress. Links are
// never freed; a detached one is reused by the next owner, which is safe because an owner takes
// replies only from its current connection object.
#pragma once

#include "support/NetSocket.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

class COwnerLink final : public Zorvik::CNetSocketOwner {
public:
    static COwnerLink* Attach(Zorvik::CNetSocketOwner* owner);

    // No call reaches the owner after this returns; calls in progress run on.
    void Detach();

    // Waits until no call is in progress; false when the deadline passed first.
    bool WaitIdle(std::chrono::steady_clock::time_point deadline);
    void WaitIdle();

    // Back to the pool; only when detached and idle.
    void Return();

    void OnPacket(Zorvik::CNetSocket* sender, const uint8_t* data, uint32_t length) override;
    void OnDatagram(Zorvik::CNetSocket* sender, const uint8_t* data, uint32_t length) override;
    void OnClose(Zorvik::CNetSocket* sender) override;
    void OnPacketsRead(Zorvik::CNetSocket* sender) override;

private:
    COwnerLink() = default;
    ~COwnerLink() = default;

    template <typename Call> void Forward(const Call& call);

    static std::mutex& PoolLock();
    // Allocated once and never destroyed: a detached thread may call a link during exit.
    static std::vector<COwnerLink*>& Pool();
    static std::vector<COwnerLink*>& AllLinks();

    std::mutex m_lock;
    std::condition_variable m_idle;
    Zorvik::CNetSocketOwner* m_pOwner = nullptr;
    int m_nCalls = 0;
};
