// What one recorder's upgrade tells while it runs, for whoever shows it: lines for a person (the
// command line prints them), and the phase and progress for a row of the batch window.
//
// Threads: called from the thread that runs the recorder's upgrade and from its session's worker
// and receive threads, never two calls at once for one recorder but from changing threads. An
// implementation must not wait for another thread that may itself wait for the session.
#pragma once

#include <cstdint>
#include <string>

enum class RecorderPhase {
    Waiting,    // not started yet
    Connecting, // connecting to the recorder
    LoggingIn,  // connected, the login's answer awaited
    Sending,    // the files go out
    Burning,    // the files are in; the recorder writes its flash and reports its percent
    Ended,      // the upgrade has its ending
};

class CRecorderUpgradeReport {
public:
    // A line of news and a line about a failure, as the session or the upgrade's steps say it;
    // the text may name files, so a terminal shows it with its controls escaped.
    virtual void Line(const std::string& text) = 0;
    virtual void ErrorLine(const std::string& text) = 0;
    // The upgrade moved on to `phase`.
    virtual void Phase(RecorderPhase phase) = 0;
    // The stream's percent of the current file and the bytes sent so far over all files
    // (Sending), or the recorder's own percent (Burning).
    virtual void Progress(RecorderPhase phase, int percent, int64_t bytesSent) = 0;
    // Progress shown so far is over (the files went out, or the upgrade ended).
    virtual void ProgressEnded() = 0;

protected:
    ~CRecorderUpgradeReport() = default;
};
