// The connections of an upgrade session, made by the socket library as usual, with every reply
// of the recorder also read here. The window learns the recorder's verdict only through the
// messages it shows, and for fonts, logos and programs a success shows none; a script needs the
// verdict itself for its exit status. The session receives exactly what it would without the tap.
#pragma once

#include "upgrade/UpgradeSession.h"

#include <memory>

class CReplyTap final : public CNetSocketFactory {
public:
    // The recorder's verdict as the replies since ResetVerdict tell it.
    struct Verdict {
        bool done = false;      // as the session's done flag: "right", or 100 percent
        bool errorWord = false; // the recorder answered "error" at least once
        int lastPercent = -1;   // the last progress report, -1 when none came
    };

    CReplyTap();
    ~CReplyTap();
    CReplyTap(const CReplyTap&) = delete;
    CReplyTap& operator=(const CReplyTap&) = delete;

    bool Create(Zorvik::CNetSocketOwner* owner, Zorvik::CNetSocket** socket) override;
    void Release(Zorvik::CNetSocket*& socket) override;

    // Forgets the replies so far; called just before an upgrade starts.
    void ResetVerdict();
    Verdict CurrentVerdict() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};
