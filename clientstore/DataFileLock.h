// One writer at a time for a data file shared by several programs.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

// An exclusive advisory lock (flock) on a lock file beside the data file: "Data.xml.lock" for
// "Data.xml". The lock is not taken on the data file itself because a save replaces that file by
// a rename: a program waiting on the old file would get a lock on a file no longer in place. The
// lock file is never replaced; it holds the number of the process that took the lock last, for the
// message of the one that has to wait. Every program of ours that may save the data file holds the
// lock from the load to the end of its last save.
class DataFileLock {
public:
    DataFileLock() = default;
    ~DataFileLock();
    DataFileLock(const DataFileLock&) = delete;
    DataFileLock& operator=(const DataFileLock&) = delete;

    // Takes the lock for `dataFile`, waiting up to `wait` for another holder to let go. Empty when
    // the lock is held, else why not (the lock file cannot be made, or another process held it
    // for the whole wait).
    std::string acquire(const std::filesystem::path& dataFile, std::chrono::milliseconds wait);
    void release();
    bool held() const { return m_fd >= 0; }

    static std::filesystem::path lockPathFor(const std::filesystem::path& dataFile);

private:
    int m_fd = -1;
};
