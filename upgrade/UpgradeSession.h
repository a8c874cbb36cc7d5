// The upgrade session: the engine behind the main window's buttons. It owns the one connection to
// the recorder, logs in and out, sends the MAC value, starts an upgrade, streams the chosen files
// from a worker thread, turns the recorder's replies into state, waits for the verdict, reports it
// and returns to idle. It shows everything through a CUpgradeView and knows no toolkit.
//
// Threads: every public operation but the waits runs on the window's thread. The worker thread
// streams and waits; the connection's receive thread delivers the replies (OnPacket). Both reach
// the window only through the view.
//
// Connections: the current connection object (CSessionConnection) is shared by the threads that use
// it; whoever takes it out closes it at once, and it is released when the last holder lets go. A
// worker whose connection was closed under it ends with "Send Data Error" on its next send.
#pragma once

#include "support/NetSocket.h"
#include "upgrade/FileClassifier.h"
#include "upgrade/NetSocketFactory.h"
#include "upgrade/SessionConnection.h"
#include "upgrade/UpgradeState.h"
#include "upgrade/UpgradeView.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Time limits of the session, in milliseconds.
struct SessionTimings {
    uint32_t connectLimitMs = 2000;
    uint32_t sendLimitMs = 3000;
    uint32_t retryPauseMs = 10;
    // How long the recorder has to give its verdict after the last file (20 minutes).
    uint32_t verdictWaitMs = 1200000;
};

// The session's messages that more than one place shows.
inline constexpr const char* kSendDataError = "Send data error";       // login, MAC, start packet
inline constexpr const char* kSendDataErrorWorker = "Send Data Error"; // data and end packets
inline constexpr const char* kFileSentStatus = "File has been sent, please wait...";
inline constexpr const char* kIdleStatus = "Current Progress";

// Package paths as the window names them; the package builder puts each in a private directory.
inline constexpr const char* kWebPackageName = "C:\\tmp_web.bin";
inline constexpr const char* kLogoPackageName = "C:\\temp_logo.bin";

class COwnerLink;
class CSessionFile;

// The session is the owner of its connection objects. They reach it through a link that outlives
// it (see upgrade/OwnerLink.h): a released object may still hand out the packets it had
// buffered after the session is gone.
class CUpgradeSession final : public Zorvik::CNetSocketOwner {
public:
    explicit CUpgradeSession(CUpgradeView& view, SessionTimings timings = {},
                             CNetSocketFactory& factory = DefaultNetSocketFactory());
    // Stops the session and waits for its threads (see RequestStop).
    ~CUpgradeSession();
    CUpgradeSession(const CUpgradeSession&) = delete;
    CUpgradeSession& operator=(const CUpgradeSession&) = delete;

    // --- the window's events, on the window's thread

    // Login button: logs out when there is a connection object (whatever the button says),
    // otherwise runs the login dialog, whose OK calls ConnectAndLogin.
    void OnLoginButton();
    // Connects to the address and port last taken from the boxes and sends the login request. The
    // verdict arrives later on the receive thread.
    void ConnectAndLogin(const std::string& user, const std::string& password);
    // Mac button: a connection of its own, not logged in, carrying the MAC value packet.
    void SendMacValue();
    // One of the seven upgrade buttons (IDC_BIOS ... IDC_EXE). Nothing while an upgrade runs.
    void OnUpgradeButton(int id);
    // Web or Logo with a package built beforehand from the chosen files, as the button builds
    // it, and left in place afterwards: one package serves every recorder of a batch.
    void SendBuiltPackage(int id, const std::string& package);
    // Open files, files dropped on the window, the file named on the command line.
    Classification ChooseFiles() { return m_classifier.ChooseFiles(IsBusy()); }
    Classification AcceptDroppedFiles(const std::vector<std::string>& paths) {
        return m_classifier.AcceptDroppedFiles(paths, HasConnection(), IsBusy());
    }
    Classification ClassifyCommandLineFile(const std::string& path) {
        return m_classifier.ClassifyCommandLineFile(path);
    }
    bool ClassifyFile(const std::string& path) { return m_classifier.ClassifyFile(path); }

    // --- state

    // An upgrade is running (its worker has not reset the session yet).
    bool IsBusy() const { return m_bBusy; }
    // There is a connection object (the Login button acts as logout).
    bool HasConnection() const;
    // The values of the window's boxes; the window reads and sets them on its own thread.
    UpgradeForm& Form() { return m_state.m_form; }
    // Everything else, for inspection.
    const CUpgradeState& State() const { return m_state; }

    // Waits at most `limit` until no upgrade runs; true when idle.
    bool WaitUntilIdle(std::chrono::milliseconds limit) const;

    // --- the connection's callbacks, on its receive thread

    // Each received message: replies of any but the current connection object are ignored.
    void OnPacket(Zorvik::CNetSocket* sender, const uint8_t* data, uint32_t length) override;
    // Nothing: the session has no use for datagrams, and a connection closed by the recorder
    // goes unnoticed until the next send fails.
    void OnDatagram(Zorvik::CNetSocket* sender, const uint8_t* data, uint32_t length) override;
    void OnClose(Zorvik::CNetSocket* sender) override;
    // The end of one read: an accepted login is announced here.
    void OnPacketsRead(Zorvik::CNetSocket* sender) override;

    // --- the end of the window

    // Starts ending the session without waiting: no more replies are taken, the connection is
    // closed and released, a running upgrade stops (no more packets, no more messages; a temporary
    // package is still deleted). A worker or a receive callback may still be inside a view call:
    // the window must keep carrying out view calls until WaitUntilStopped is true, or make them
    // return at once, before it destroys the session (the destructor waits for both).
    void RequestStop();
    // True once nothing of the session runs any more on another thread; waits at most `limit`.
    bool WaitUntilStopped(std::chrono::milliseconds limit);
    // Stops the upgrade unless its last end packet is already going out: from then on the
    // recorder has the whole upgrade and burns it whatever we do, so the upgrade is left to its
    // verdict. True when stopping (RequestStop is still to follow), false when left to finish.
    // Any thread.
    bool StopUnlessAllSent();

private:
    struct UpgradeJob;
    using ClientPtr = CSessionConnection::ClientPtr;

    // Receive thread.
    void OnLoginReply(Zorvik::CNetSocket* sender, bool accepted);

    // Window thread.
    bool StartUpgrade();
    // Entry 0 of the files becomes the package, the only file sent.
    void UsePackage(const std::string& package);
    bool NewClient(ClientPtr& client);
    void ReapWorker();

    // Worker thread.
    void UpgradeWorker(UpgradeJob job);
    // Streams one file and its end packet; false with the ending and its message filled in.
    // `last`: the file whose end packet completes the upgrade.
    bool SendFile(const UpgradeJob& job, const std::string& path, bool last, uint8_t* packet,
                  UpgradeResult& result);
    // Whether the last end packet may go out; once it may, StopUnlessAllSent leaves the upgrade be.
    bool CommitAllSent();
    // The file's data packets, chunk after chunk until it reads no more; false when one did not go
    // out. `bytesSent` counts the file bytes that went.
    bool SendChunks(const UpgradeJob& job, CSessionFile& file, uint8_t* packet, int64_t& bytesSent,
                    UpgradeResult& result);
    // A data packet: eight attempts.
    bool SendWithRetries(const ClientPtr& client, const uint8_t* packet, uint32_t length);
    // Waits for the recorder's verdict and shows it; the ending into `result`.
    void AwaitVerdict(const UpgradeJob& job, UpgradeResult& result);
    void ReportVerdict(const UpgradeJob& job, UpgradeResult& result);
    void ResetSession(const UpgradeJob& job, const UpgradeResult& result);

    // Any thread.
    // Sends a packet whole in at most `attempts` attempts, each going on where the last stopped;
    // closes the connection when it gives up after part of the packet went out.
    bool SendPacket(const ClientPtr& client, const uint8_t* packet, uint32_t length, int attempts);
    // The verdict flags change under m_waitLock, so that the start of an upgrade clears them in
    // one step that no reply of the receive thread splits.
    void SetUpgradeDone(bool done);
    void SetUpgradeError();
    void ClearVerdict();
    // The first verdict word of the read being handled; applied when the read is done.
    enum class ReadVerdict { None, Done, Error };
    void NoteVerdict(ReadVerdict verdict);
    void SetProgressBar(int percent);
    // A failure before or without a worker: the message, then the ending.
    void EndWithout(UpgradeEnding ending, const std::string& message);
    void PlainMessage(const std::string& text);
    bool Stopping() const { return m_bStopping; }
    // Sleeps `ms` unless the session is told to stop first; false when stopping.
    bool PauseUnlessStopping(uint32_t ms);
    bool DeletePackage(const std::string& path);

    CUpgradeView& m_view;
    const SessionTimings m_timings;
    CNetSocketFactory& m_factory;
    CUpgradeState m_state;
    CFileClassifier m_classifier;
    COwnerLink* m_pLink; // outlives the session; see COwnerLink

    // The current connection object; null when there is none.
    CSessionConnection m_connection;

    // The worker: m_bBusy from the start packet until its ResetSession; the thread object is
    // joined by the window's thread before the next one starts, or at the end.
    std::atomic<bool> m_bBusy{false};
    std::unique_ptr<std::thread> m_pWorker;
    mutable std::mutex m_waitLock;
    mutable std::condition_variable m_changed; // done flag, busy, worker ended, stop
    bool m_bWorkerRunning = false;             // under m_waitLock
    std::atomic<bool> m_bStopping{false};
    bool m_bAllSent = false; // under m_waitLock: the last end packet of this upgrade may go out

    // The connection whose login was accepted in the read being handled; receive threads only.
    std::atomic<Zorvik::CNetSocket*> m_pAcceptedBy{nullptr};
    // Receive thread only.
    ReadVerdict m_readVerdict = ReadVerdict::None;

    // The value the progress bar shows, so that the worker does not repeat it for every chunk.
    std::atomic<int> m_nShownProgress{-1};
};
