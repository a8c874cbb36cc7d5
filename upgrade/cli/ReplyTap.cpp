#include "upgrade/cli/ReplyTap.h"

#include "support/NetSocket.h"
#include "upgrade/UpgradeProtocol.h"

#include <map>
#include <mutex>

struct CReplyTap::State {
    mutable std::mutex lock;
    Verdict verdict;

    void Note(const ReplyEvent& event) {
        std::lock_guard guard(lock);
        switch (event.type) {
        case ReplyType::UpgradeStart:
            verdict.done = false;
            break;
        case ReplyType::UpgradeError:
            verdict.done = false;
            verdict.errorWord = true;
            break;
        case ReplyType::UpgradeRight:
            verdict.done = true;
            break;
        case ReplyType::Progress:
            verdict.lastPercent = event.percent;
            break;
        default:
            break;
        }
        if (event.complete) {
            verdict.done = true;
        }
    }
};

namespace {

// The owner every tapped connection reports to. A released connection may still call its owner
// from its own thread after everything else is gone, and nothing says when it has finished, so
// this object lives as long as the process. The owner it forwards to, the session's link, lives
// as long as the process too.
class CTapOwner final : public Zorvik::CNetSocketOwner {
public:
    static CTapOwner& Instance() {
        static auto* owner = new CTapOwner;
        return *owner;
    }

    void Attach(Zorvik::CNetSocket* socket, Zorvik::CNetSocketOwner* owner,
                std::shared_ptr<CReplyTap::State> state) {
        std::lock_guard guard(m_lock);
        m_routes[socket] = Route{owner, std::move(state)};
    }
    void Detach(Zorvik::CNetSocket* socket) {
        std::lock_guard guard(m_lock);
        m_routes.erase(socket);
    }

    void OnPacket(Zorvik::CNetSocket* sender, const uint8_t* data, uint32_t length) override {
        // Forwarded without the lock held: the session may release this very connection from
        // inside the call (a refused login), and Release takes the lock.
        const Route route = Find(sender);
        if (route.owner == nullptr) {
            return; // released: the session takes no replies from it any more
        }
        route.state->Note(DecodeReply(data, length));
        route.owner->OnPacket(sender, data, length);
    }
    void OnDatagram(Zorvik::CNetSocket* sender, const uint8_t* data, uint32_t length) override {
        const Route route = Find(sender);
        if (route.owner != nullptr) {
            route.owner->OnDatagram(sender, data, length);
        }
    }
    void OnClose(Zorvik::CNetSocket* sender) override {
        const Route route = Find(sender);
        if (route.owner != nullptr) {
            route.owner->OnClose(sender);
        }
    }

private:
    struct Route {
        Zorvik::CNetSocketOwner* owner = nullptr;
        std::shared_ptr<CReplyTap::State> state;
    };

    Route Find(Zorvik::CNetSocket* socket) {
        std::lock_guard guard(m_lock);
        auto it = m_routes.find(socket);
        return it == m_routes.end() ? Route{} : it->second;
    }

    std::mutex m_lock;
    std::map<Zorvik::CNetSocket*, Route> m_routes;
};

} // namespace

CReplyTap::CReplyTap() : m_state(std::make_shared<State>()) {}

CReplyTap::~CReplyTap() = default;

bool CReplyTap::Create(Zorvik::CNetSocketOwner* owner, Zorvik::CNetSocket** socket) {
    CTapOwner& tap = CTapOwner::Instance();
    Zorvik::CNetSocket* created = nullptr;
    if (!Zorvik::CreateNetSocket(&tap, &created) || created == nullptr) {
        return false;
    }
    // Nothing can arrive before the session connects, which it does only after this returns.
    tap.Attach(created, owner, m_state);
    *socket = created;
    return true;
}

void CReplyTap::Release(Zorvik::CNetSocket*& socket) {
    if (socket != nullptr) {
        CTapOwner::Instance().Detach(socket);
    }
    Zorvik::ReleaseNetSocket(socket);
}

void CReplyTap::ResetVerdict() {
    std::lock_guard guard(m_state->lock);
    m_state->verdict = Verdict{};
}

CReplyTap::Verdict CReplyTap::CurrentVerdict() const {
    std::lock_guard guard(m_state->lock);
    return m_state->verdict;
}
