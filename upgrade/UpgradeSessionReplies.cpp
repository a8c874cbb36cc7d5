// The session's side of the receive thread: replies of the recorder, the verdict flags they set,
// and the few calls to the window that both threads make.
#include "upgrade/UpgradeSession.h"

#include "upgrade/UpgradeIds.h"
#include "upgrade/UpgradeProtocol.h"

#include <algorithm>
#include <utility>

using Zorvik::CNetSocket;

// ---- replies, on the receive thread

void CUpgradeSession::OnPacket(CNetSocket* sender, const uint8_t* data, uint32_t length) {
    // Replies of a connection already given up belong to nothing the user still has.
    if (!m_connection.Is(sender)) {
        return;
    }
    m_state.m_bLastWasProgress = false;
    const ReplyEvent event = DecodeReply(data, length);
    switch (event.type) {
    case ReplyType::LoginAccepted:
        OnLoginReply(sender, true);
        break;
    case ReplyType::LoginRefused:
        OnLoginReply(sender, false);
        break;
    case ReplyType::UpgradeStart:
        // The recorder's answer to this upgrade's start packet: whatever it said before it had
        // the packet (read late by this thread) belongs to nothing this upgrade sent.
        m_readVerdict = ReadVerdict::None;
        ClearVerdict();
        break;
    case ReplyType::UpgradeError:
        // Ends the wait at once, once this read is handled: the recorder has given its verdict.
        NoteVerdict(ReadVerdict::Error);
        break;
    case ReplyType::UpgradeRight:
        NoteVerdict(ReadVerdict::Done);
        break;
    case ReplyType::Progress:
        m_state.m_bLastWasProgress = true;
        m_state.m_nLastPercent = event.percent;
        SetProgressBar(0);
        // A report past 100 is a recorder that is done counting: shown full, and done.
        SetProgressBar(std::min<int>(event.percent, PacketHeader::kPercentComplete));
        break;
    case ReplyType::Ignored:
        break;
    }
    // Set once and last: the worker may end the upgrade as soon as it is set, and nothing of this
    // reply may reach the next upgrade.
    const bool pastComplete =
        event.type == ReplyType::Progress && event.percent >= PacketHeader::kPercentComplete;
    if (event.complete || pastComplete) {
        NoteVerdict(ReadVerdict::Done);
    }
}

void CUpgradeSession::NoteVerdict(ReadVerdict verdict) {
    if (m_readVerdict == ReadVerdict::None) {
        m_readVerdict = verdict;
    }
}

void CUpgradeSession::OnDatagram(CNetSocket*, const uint8_t*, uint32_t) {}

void CUpgradeSession::OnClose(CNetSocket*) {}

void CUpgradeSession::OnPacketsRead(CNetSocket* sender) {
    // The verdict takes effect once the whole read is handled, so the worker cannot end this
    // upgrade, and the next one start, with a word of this read still to come.
    const ReadVerdict verdict = std::exchange(m_readVerdict, ReadVerdict::None);
    if (!m_connection.Is(sender)) {
        return;
    }
    if (verdict == ReadVerdict::Done) {
        SetUpgradeDone(true);
    } else if (verdict == ReadVerdict::Error) {
        SetUpgradeError();
    }
    CNetSocket* accepted = sender;
    if (!m_pAcceptedBy.compare_exchange_strong(accepted, nullptr)) {
        return;
    }
    m_view.SetControlText(IDC_LOGIN, "Logout");
    m_view.EnableControl(IDC_OPEN_FILES, true);
    m_view.EndLoginDialog();
}

void CUpgradeSession::OnLoginReply(CNetSocket* sender, bool accepted) {
    if (accepted) {
        // Announced once the rest of this read has been handled (OnPacketsRead): a verdict word
        // the recorder sent along with the reply is then behind us before an upgrade can start.
        m_pAcceptedBy = sender;
        return;
    }
    m_view.MessageBox("Login failed!", "ERROR", MessageIcon::Exclamation);
    // While the box was open the user may have logged out or in again: only this connection goes.
    if (const ClientPtr refused = m_connection.TakeIf(sender)) {
        m_connection.Close(*refused);
    }
    m_view.UpgradeEnded({UpgradeEnding::LoginRefused, -1, 0, "Login failed!"});
}

// The first verdict of an upgrade stands: "error" ends the wait at once, so a contrary word right
// behind it (in the same read, before the worker has looked) must not decide instead, or the same
// bytes from the recorder would end one way or the other by timing. The start word clears it.
void CUpgradeSession::SetUpgradeDone(bool done) {
    {
        std::lock_guard lock(m_waitLock); // the worker is either before its check or waiting
        if (done && m_state.m_bUpgradeError) {
            return;
        }
        m_state.m_bUpgradeDone = done;
    }
    m_changed.notify_all();
}

void CUpgradeSession::SetUpgradeError() {
    {
        std::lock_guard lock(m_waitLock);
        if (m_state.m_bUpgradeDone) {
            return;
        }
        m_state.m_bUpgradeError = true;
    }
    m_changed.notify_all();
}

void CUpgradeSession::ClearVerdict() {
    {
        std::lock_guard lock(m_waitLock);
        m_state.m_bUpgradeDone = false;
        m_state.m_bUpgradeError = false;
        m_state.m_nLastPercent = -1;
    }
    m_changed.notify_all();
}

void CUpgradeSession::EndWithout(UpgradeEnding ending, const std::string& message) {
    PlainMessage(message);
    m_view.UpgradeEnded({ending, -1, 0, message});
}

void CUpgradeSession::SetProgressBar(int percent) {
    m_nShownProgress = percent;
    m_view.SetProgress(percent);
}

void CUpgradeSession::PlainMessage(const std::string& text) {
    m_view.MessageBox(text, kProgramName, MessageIcon::Exclamation);
}
