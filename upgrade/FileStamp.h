// What a file was when a batch started (which file, how long, when last written), so that a
// recorder whose turn comes late gets the firmware the batch began with or nothing: a file
// replaced, rewritten or removed in between is refused, not sent to half the site.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FileStamp {
    std::string path;
    bool exists = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t modifiedNs = 0;

    bool operator==(const FileStamp&) const = default;
};

FileStamp StampFile(const std::string& path);
std::vector<FileStamp> StampFiles(const std::vector<std::string>& paths);

// Why the files are no longer those of `stamps` ("PATH was changed since the batch started"),
// empty when every one is as it was.
std::string ChangedSinceStamped(const std::vector<FileStamp>& stamps);
