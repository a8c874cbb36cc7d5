// What a load saw of a file on disk, so that a save replaces only that same file: a file put in
// its place, or changed in place, since then no longer compares equal.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <filesystem>

struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};

    // The file at `path` now; not existing when it cannot be examined.
    static FileIdentity of(const std::filesystem::path& path);
    // The file as a stat() that succeeded saw it.
    static FileIdentity of(const struct stat& st);
    bool operator==(const FileIdentity& other) const;
};
