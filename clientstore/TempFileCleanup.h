// Removing a half-written temporary file when the process is stopped by a signal.
#pragma once

#include <signal.h>

#include <string>

// While an object lives, SIGINT, SIGTERM and SIGHUP (where their action is the default one)
// first remove the named file and then end the process as they would have; SIGXFSZ (a file size
// limit) is ignored, so that the write that passes the limit fails with EFBIG and the save can
// clean up. The handler touches only a fixed buffer and unlink(), both safe in a signal handler.
// One object at a time: a second one while the first lives does nothing (its file is removed by
// the save's own failure path).
class TempFileCleanup {
public:
    // Arms for `path`; the caller creates the file with the signals blocked (see Block)
    // so that no signal can fall between the creation and the arming.
    explicit TempFileCleanup(const std::string& path);
    // Disarms and restores the signals' previous actions.
    ~TempFileCleanup();
    TempFileCleanup(const TempFileCleanup&) = delete;
    TempFileCleanup& operator=(const TempFileCleanup&) = delete;

    // Blocks the three stop signals in the calling thread until the returned guard ends.
    class Block {
    public:
        Block();
        ~Block();
        Block(const Block&) = delete;
        Block& operator=(const Block&) = delete;

    private:
        sigset_t m_old{};
    };

private:
    bool m_armed = false;
};
