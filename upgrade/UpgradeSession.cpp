#include "upgrade/UpgradeSession.h"

#include "package/UpgradePackage.h"
#include "support/Exceptions.h"
#include "upgrade/OwnerLink.h"
#include "upgrade/SessionFile.h"
#include "upgrade/UpgradeIds.h"
#include "upgrade/UpgradeProtocol.h"
#include "upgrade/VerdictTexts.h"

#include <algorithm>
#include <utility>

using Zorvik::CNetSocket;

namespace {

// Bytes of the current file sent, in percent of its length, rounded down; exact for any file
// length a start packet can announce.
int Percent(int64_t sent, int64_t length) {
    return length <= 0 ? 0 : static_cast<int>(sent * 100 / length);
}

} // namespace

// What one upgrade works on, taken when it starts: the window may change its own fields while
// the worker runs.
struct CUpgradeSession::UpgradeJob {
    std::vector<std::string> files;
    UpgradeKind kind = KIND_BIOS;
    bool deleteAfterSend = false;
    bool package = false;
    std::string fileText;
    ClientPtr client;
    // What the start packet announced for the one file it sends; -1 when it announces another
    // file's length (several files, or a package made of them).
    int64_t announcedLength = -1;
};

CUpgradeSession::CUpgradeSession(CUpgradeView& view, SessionTimings timings, CNetSocketFactory& factory)
    : m_view(view), m_timings(timings), m_factory(factory), m_classifier(m_state, view),
      m_pLink(COwnerLink::Attach(this)) {}

CUpgradeSession::~CUpgradeSession() {
    RequestStop();
    {
        std::unique_lock lock(m_waitLock);
        m_changed.wait(lock, [this] { return !m_bWorkerRunning; });
    }
    m_pLink->WaitIdle();
    ReapWorker();
    m_pLink->Return();
}

// ---- connection

bool CUpgradeSession::HasConnection() const {
    return m_connection.Has();
}

bool CUpgradeSession::NewClient(ClientPtr& client) {
    m_connection.Drop();
    CNetSocket* raw = nullptr;
    if (!m_factory.Create(m_pLink, &raw) || raw == nullptr) {
        PlainMessage("CreateObject failed! exit system!");
        m_view.RequestClose();
        m_view.UpgradeEnded({UpgradeEnding::NoConnectionObject, -1, 0, "CreateObject failed! exit system!"});
        return false;
    }
    CNetSocketFactory* factory = &m_factory;
    client = ClientPtr(raw, [factory](CNetSocket* socket) { factory->Release(socket); });
    m_connection.Set(client);
    return true;
}

void CUpgradeSession::OnLoginButton() {
    m_view.TakeForm(m_state.m_form);
    if (HasConnection()) {
        m_connection.Drop();
        m_view.SetControlText(IDC_LOGIN, "Login");
        m_view.EnableControl(IDC_OPEN_FILES, false);
        for (int id : {IDC_BIOS, IDC_WEB, IDC_BOOT, IDC_BOTH, IDC_FONT, IDC_LOGO, IDC_EXE}) {
            m_view.EnableControl(id, false);
        }
        return;
    }
    m_view.RunLoginDialog(
        [this](const std::string& user, const std::string& password) { ConnectAndLogin(user, password); });
}

void CUpgradeSession::ConnectAndLogin(const std::string& user, const std::string& password) {
    ClientPtr client;
    if (!NewClient(client)) {
        return;
    }
    const UpgradeForm& form = m_state.m_form;
    if (!client->Connect(form.m_strIP.c_str(), static_cast<int>(form.m_nPort), m_timings.connectLimitMs)) {
        for (int id : {IDC_BIOS, IDC_WEB, IDC_BOOT, IDC_BOTH}) {
            m_view.EnableControl(id, false);
        }
        EndWithout(UpgradeEnding::ConnectFailed, "Connect " + form.m_strIP + " failed!");
        return;
    }
    const Packet32 login = BuildLoginRequest(user, password);
    if (!SendPacket(client, login.data(), PacketHeader::kSize, 1)) {
        EndWithout(UpgradeEnding::SendFailed, kSendDataError);
    }
    // Otherwise the recorder's answer ends the login.
}

void CUpgradeSession::SendMacValue() {
    m_view.TakeForm(m_state.m_form);
    ClientPtr client;
    if (!NewClient(client)) {
        return;
    }
    const UpgradeForm& form = m_state.m_form;
    if (!client->Connect(form.m_strIP.c_str(), static_cast<int>(form.m_nPort), m_timings.connectLimitMs)) {
        EndWithout(UpgradeEnding::ConnectFailed, "Connect " + form.m_strIP + " failed!");
        return;
    }
    const Packet32 mac = BuildMacPacket(form.m_dwMacValue);
    if (!SendPacket(client, mac.data(), PacketHeader::kSize, 1)) {
        EndWithout(UpgradeEnding::SendFailed, kSendDataError);
        return;
    }
    m_view.UpgradeEnded({UpgradeEnding::Success, -1, 0, {}});
}

// ---- upgrade, on the window's thread

void CUpgradeSession::OnUpgradeButton(int id) {
    if (IsBusy()) {
        return;
    }
    switch (id) {
    case IDC_BIOS:
    case IDC_BOOT:
    case IDC_BOTH:
    case IDC_FONT:
    case IDC_EXE:
        m_state.m_bDeleteAfterSend = false;
        m_state.m_bSendsPackage = false;
        break;
    case IDC_WEB:
    case IDC_LOGO: {
        // Web pages and logo bitmaps go as one package. A failed build leaves no package; the
        // worker then reports the file it cannot open.
        const int count = std::min(m_state.m_nFileCount, kMaxUpgradeFiles);
        std::string built;
        BuildUpgradePackage(count, m_state.m_strFiles.data(),
                            id == IDC_WEB ? kWebPackageName : kLogoPackageName, built);
        m_state.m_bDeleteAfterSend = true;
        UsePackage(built);
        break;
    }
    default:
        return;
    }
    StartUpgrade();
    m_view.EnableControl(id, false);
}

void CUpgradeSession::SendBuiltPackage(int id, const std::string& package) {
    if (IsBusy() || (id != IDC_WEB && id != IDC_LOGO)) {
        return;
    }
    m_state.m_bDeleteAfterSend = false;
    UsePackage(package);
    StartUpgrade();
    m_view.EnableControl(id, false);
}

void CUpgradeSession::UsePackage(const std::string& package) {
    for (auto& entry : m_state.m_strFiles) {
        entry.clear();
    }
    m_state.m_strFiles[0] = package;
    m_state.m_nFileCount = 1;
    m_state.m_bSendsPackage = true;
}

bool CUpgradeSession::StartUpgrade() {
    m_view.TakeForm(m_state.m_form);
    const UpgradeKind kind = g_nUpgradeKind;
    // The start packet announces the length the classifier recorded for the last file it
    // examined, cut to the packet's 32 bits (the classifier refuses longer files).
    const Packet32 start = BuildStartPacket(kind, static_cast<uint32_t>(m_state.m_nFileLength));
    // Pressed with no connection (a button enabled from the command line), the start fails as an
    // unsent start packet does.
    const ClientPtr client = m_connection.Get();
    // Whatever the recorder said before this start packet answers an earlier upgrade, or none.
    ClearVerdict();
    if (!client || !SendPacket(client, start.data(), PacketHeader::kSize, 1)) {
        PlainMessage(kSendDataError);
        // A package built for this upgrade would otherwise stay behind.
        if (m_state.m_bDeleteAfterSend) {
            DeletePackage(m_state.m_strFiles[0]);
        }
        m_view.UpgradeEnded({UpgradeEnding::SendFailed, -1, 0, kSendDataError});
        return false;
    }

    UpgradeJob job;
    const int count = std::clamp(m_state.m_nFileCount, 0, kMaxUpgradeFiles);
    job.files.assign(m_state.m_strFiles.begin(), m_state.m_strFiles.begin() + count);
    job.kind = kind;
    job.deleteAfterSend = m_state.m_bDeleteAfterSend;
    job.package = m_state.m_bSendsPackage;
    job.fileText = m_state.m_form.m_strFileText;
    job.client = client;
    if (count == 1 && !job.package) {
        job.announcedLength = m_state.m_nFileLength;
    }

    ReapWorker();
    // Busy before the worker can run, so that its own ResetSession always clears it.
    {
        std::lock_guard lock(m_waitLock);
        m_bBusy = true;
        m_bWorkerRunning = true;
        m_bAllSent = false;
    }
    try {
        m_pWorker = std::make_unique<std::thread>([this, job = std::move(job)]() mutable {
            UpgradeWorker(std::move(job));
            std::lock_guard lock(m_waitLock);
            m_bWorkerRunning = false;
            m_changed.notify_all();
        });
    } catch (...) {
        std::lock_guard lock(m_waitLock);
        m_bBusy = false;
        m_bWorkerRunning = false;
        throw;
    }
    return true;
}

void CUpgradeSession::ReapWorker() {
    if (m_pWorker) {
        m_pWorker->join();
        m_pWorker.reset();
    }
}

// ---- upgrade, on the worker thread

bool CUpgradeSession::PauseUnlessStopping(uint32_t ms) {
    std::unique_lock lock(m_waitLock);
    return !m_changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return Stopping(); });
}

bool CUpgradeSession::SendPacket(const ClientPtr& client, const uint8_t* packet, uint32_t length,
                                 int attempts) {
    // A time-out can strike after part of the packet went out. Those bytes reach the recorder, so
    // each retry goes on from where the last attempt stopped: sending the packet again from its
    // start would put the recorder's reading out of step with the stream. Nobody else sends on
    // the connection meanwhile (the window sends only while no upgrade runs), so the rest follows
    // the part directly.
    uint32_t offset = 0;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        // The first two attempts go at once, every later one after a short pause.
        if (attempt >= 2 && !PauseUnlessStopping(m_timings.retryPauseMs)) {
            break;
        }
        uint32_t sent = 0;
        if (client->Send(packet + offset, length - offset, m_timings.sendLimitMs, &sent)) {
            return true;
        }
        offset += std::min(sent, length - offset);
        if (Stopping()) {
            break;
        }
    }
    if (offset > 0) {
        // Given up inside the packet: the recorder would take whatever came next on this
        // connection as the packet's rest. Closed, it cannot misread anything; the object stays,
        // and the next send on it fails as on any lost connection.
        try {
            m_connection.Close(*client);
        } catch (const Zorvik::CException&) {
            // The descriptor is closed even when closing reports a failure, so the stream has
            // ended all the same; the caller reports the failed send.
        }
    }
    return false;
}

bool CUpgradeSession::SendWithRetries(const ClientPtr& client, const uint8_t* packet, uint32_t length) {
    return SendPacket(client, packet, length, 8);
}

void CUpgradeSession::UpgradeWorker(UpgradeJob job) {
    m_state.m_nChunksSent = 0;
    m_state.m_nUpgradeBytesSent = 0;
    std::vector<uint8_t> packet(PacketHeader::kSize + kMaxDataPayload);
    UpgradeResult result;
    result.ending = UpgradeEnding::Success;
    bool sent = true;
    for (size_t i = 0; i < job.files.size(); ++i) {
        if (!SendFile(job, job.files[i], i + 1 == job.files.size(), packet.data(), result)) {
            sent = false;
            break;
        }
    }
    // The connection is not needed for the verdict; a logout while waiting releases it at once.
    job.client.reset();
    if (sent) {
        AwaitVerdict(job, result);
    }
    result.lastPercent = m_state.m_nLastPercent;
    ResetSession(job, result);
}

bool CUpgradeSession::SendFile(const UpgradeJob& job, const std::string& path, bool last, uint8_t* packet,
                               UpgradeResult& result) {
    CSessionFile file;
    if (!file.Open(path)) {
        // The package of a web or logo upgrade is missing only when it was not built.
        result.ending = job.package ? UpgradeEnding::PackageFailed : UpgradeEnding::FileRefused;
        result.message = OpenFailedText(job.fileText);
        if (Stopping()) {
            result.ending = UpgradeEnding::Stopped;
        } else {
            m_view.MessageBox(result.message, "Error", MessageIcon::Error);
        }
        return false;
    }
    const int64_t length = file.Length();
    m_state.m_nFileLength = length;
    m_state.m_nBytesSent = 0;
    int64_t bytesSent = 0;
    bool sent = SendChunks(job, file, packet, bytesSent, result);
    file.Close();
    // A file that shrank while it was sent, or a read that failed, ends the stream short of what
    // the recorder was told to expect: no end packet, so that it never takes a cut image as whole.
    const int64_t expected = std::max(length, job.announcedLength);
    if (sent && bytesSent < expected) {
        result.ending = Stopping() ? UpgradeEnding::Stopped : UpgradeEnding::SendFailed;
        result.message = "Read file " + path + " failed: " + std::to_string(bytesSent) + " of " +
                         std::to_string(expected) + " bytes were sent";
        if (!Stopping()) {
            m_view.MessageBox(result.message, "Error", MessageIcon::Error);
        }
        return false;
    }
    if (sent) {
        const Packet32 end = BuildEndPacket(job.kind);
        sent = (last ? CommitAllSent() : !Stopping()) &&
               SendPacket(job.client, end.data(), PacketHeader::kSize, 1);
    }
    if (!sent) {
        result.ending = Stopping() ? UpgradeEnding::Stopped : UpgradeEnding::SendFailed;
        result.message = kSendDataErrorWorker;
        if (!Stopping()) {
            PlainMessage(kSendDataErrorWorker);
        }
    }
    return sent;
}

bool CUpgradeSession::SendChunks(const UpgradeJob& job, CSessionFile& file, uint8_t* packet,
                                 int64_t& bytesSent, UpgradeResult& result) {
    const int64_t length = file.Length();
    uint8_t* const payload = packet + PacketHeader::kSize;
    for (uint32_t chunk = 0;; ++chunk) {
        const size_t n = file.Read(payload, kMaxDataPayload);
        if (n == 0) {
            return true;
        }
        PutDataPacketHeader(packet, chunk, static_cast<uint32_t>(n));
        if (Stopping() ||
            !SendWithRetries(job.client, packet, PacketHeader::kSize + static_cast<uint32_t>(n))) {
            return false;
        }
        bytesSent += static_cast<int64_t>(n);
        result.bytesSent += static_cast<int64_t>(n);
        m_state.m_nUpgradeBytesSent = result.bytesSent;
        m_state.m_nBytesSent = bytesSent;
        ++m_state.m_nChunksSent;
        const int percent = Percent(bytesSent, length);
        if (percent != m_nShownProgress) {
            // Each update is a round trip to the window's thread; the bar changes once per
            // percent, not once per chunk.
            SetProgressBar(percent);
        }
    }
}

void CUpgradeSession::AwaitVerdict(const UpgradeJob& job, UpgradeResult& result) {
    m_state.m_nBytesSent = 0;
    if (!Stopping()) {
        m_view.SetControlText(IDC_STATUS, kFileSentStatus);
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timings.verdictWaitMs);
    bool done = false;
    bool error = false;
    {
        std::unique_lock lock(m_waitLock);
        m_changed.wait_until(lock, deadline, [this] {
            return m_state.m_bUpgradeDone || m_state.m_bUpgradeError || Stopping();
        });
        done = m_state.m_bUpgradeDone;
        error = m_state.m_bUpgradeError;
    }
    if (Stopping()) {
        result.ending = UpgradeEnding::Stopped;
        return;
    }
    result.ending = done    ? UpgradeEnding::Success
                    : error ? UpgradeEnding::RecorderError
                            : UpgradeEnding::NoVerdict;
    ReportVerdict(job, result);
}

void CUpgradeSession::ReportVerdict(const UpgradeJob& job, UpgradeResult& result) {
    if (result.ending == UpgradeEnding::Success) {
        // A success is the whole verdict: no failure message follows it, for any kind.
        if (const char* text = SuccessText(job.kind)) {
            result.message = text;
            m_view.MessageBox(text, "Complete", MessageIcon::Information);
        }
        return;
    }
    // "error" and a wait that ran out are told alike.
    if (const char* text = UpgradeFailedText(job.kind)) {
        result.message = text;
        m_view.MessageBox(text, "Error", MessageIcon::Information);
    }
    if (!m_state.m_bLastWasProgress) {
        result.message = DataFailedText(job.kind);
        m_view.MessageBox(result.message, "Error", MessageIcon::Information);
    }
}

bool CUpgradeSession::DeletePackage(const std::string& path) {
    if (path.empty() || RemoveUpgradePackage(path) == 0) {
        return true;
    }
    if (!Stopping()) {
        m_view.MessageBox("Delete file " + path + " failed!", "Error", MessageIcon::Error);
    }
    return false;
}

void CUpgradeSession::ResetSession(const UpgradeJob& job, const UpgradeResult& result) {
    SetUpgradeDone(false);
    if (!Stopping()) {
        m_view.SetControlText(IDC_STATUS, kIdleStatus);
        SetProgressBar(0);
    }
    // Before the session turns idle: the next upgrade may build a package of its own.
    if (job.deleteAfterSend && !job.files.empty()) {
        DeletePackage(job.files[0]);
    }
    m_view.UpgradeEnded(result);
    std::lock_guard lock(m_waitLock);
    m_bBusy = false;
    m_changed.notify_all();
}

bool CUpgradeSession::WaitUntilIdle(std::chrono::milliseconds limit) const {
    std::unique_lock lock(m_waitLock);
    return m_changed.wait_for(lock, limit, [this] { return !m_bBusy; });
}

// ---- end

void CUpgradeSession::RequestStop() {
    {
        std::lock_guard lock(m_waitLock);
        m_bStopping = true;
    }
    m_changed.notify_all();
    m_pLink->Detach();
    try {
        m_connection.Drop();
    } catch (const Zorvik::CException&) {
        // Closing failed, but the descriptor is forgotten all the same and the session is ending:
        // there is nobody left to tell.
    }
}

bool CUpgradeSession::CommitAllSent() {
    std::lock_guard lock(m_waitLock);
    m_bAllSent = !m_bStopping;
    return m_bAllSent;
}

bool CUpgradeSession::StopUnlessAllSent() {
    {
        std::lock_guard lock(m_waitLock);
        if (m_bAllSent) {
            return false;
        }
        m_bStopping = true;
    }
    m_changed.notify_all();
    return true;
}

bool CUpgradeSession::WaitUntilStopped(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    {
        std::unique_lock lock(m_waitLock);
        if (!m_changed.wait_until(lock, deadline, [this] { return !m_bWorkerRunning; })) {
            return false;
        }
    }
    return m_pLink->WaitIdle(deadline);
}
