#include "upgrade/OwnerLink.h"

using Zorvik::CNetSocket;
using Zorvik::CNetSocketOwner;

COwnerLink* COwnerLink::Attach(CNetSocketOwner* owner) {
    std::lock_guard lock(PoolLock());
    COwnerLink* link;
    if (Pool().empty()) {
        link = new COwnerLink;
        AllLinks().push_back(link); // stays reachable for the process's life
    } else {
        link = Pool().back();
        Pool().pop_back();
    }
    std::lock_guard linkLock(link->m_lock);
    link->m_pOwner = owner;
    return link;
}

void COwnerLink::Detach() {
    std::lock_guard lock(m_lock);
    m_pOwner = nullptr;
}

bool COwnerLink::WaitIdle(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_lock);
    return m_idle.wait_until(lock, deadline, [this] { return m_nCalls == 0; });
}

void COwnerLink::WaitIdle() {
    std::unique_lock lock(m_lock);
    m_idle.wait(lock, [this] { return m_nCalls == 0; });
}

void COwnerLink::Return() {
    std::lock_guard lock(PoolLock());
    Pool().push_back(this);
}

template <typename Call> void COwnerLink::Forward(const Call& call) {
    CNetSocketOwner* owner;
    {
        std::lock_guard lock(m_lock);
        owner = m_pOwner;
        if (owner == nullptr) {
            return;
        }
        ++m_nCalls;
    }
    struct Leave {
        COwnerLink* link;
        ~Leave() {
            std::lock_guard lock(link->m_lock);
            if (--link->m_nCalls == 0) {
                link->m_idle.notify_all();
            }
        }
    } leave{this};
    call(*owner);
}

void COwnerLink::OnPacket(CNetSocket* sender, const uint8_t* data, uint32_t length) {
    Forward([&](CNetSocketOwner& owner) { owner.OnPacket(sender, data, length); });
}

void COwnerLink::OnDatagram(CNetSocket* sender, const uint8_t* data, uint32_t length) {
    Forward([&](CNetSocketOwner& owner) { owner.OnDatagram(sender, data, length); });
}

void COwnerLink::OnClose(CNetSocket* sender) {
    Forward([&](CNetSocketOwner& owner) { owner.OnClose(sender); });
}

void COwnerLink::OnPacketsRead(CNetSocket* sender) {
    Forward([&](CNetSocketOwner& owner) { owner.OnPacketsRead(sender); });
}

std::mutex& COwnerLink::PoolLock() {
    static std::mutex lock;
    return lock;
}

std::vector<COwnerLink*>& COwnerLink::Pool() {
    static auto* pool = new std::vector<COwnerLink*>;
    return *pool;
}

std::vector<COwnerLink*>& COwnerLink::AllLinks() {
    static auto* all = new std::vector<COwnerLink*>;
    return *all;
}
