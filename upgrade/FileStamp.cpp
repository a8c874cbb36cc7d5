#include "upgrade/FileStamp.h"

#include <sys/stat.h>

FileStamp StampFile(const std::string& path) {
    FileStamp stamp;
    stamp.path = path;
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
        stamp.exists = true;
        stamp.device = static_cast<uint64_t>(status.st_dev);
        stamp.inode = static_cast<uint64_t>(status.st_ino);
        stamp.size = static_cast<int64_t>(status.st_size);
        stamp.modifiedNs = static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    }
    return stamp;
}

std::vector<FileStamp> StampFiles(const std::vector<std::string>& paths) {
    std::vector<FileStamp> stamps;
    for (const std::string& path : paths) {
        stamps.push_back(StampFile(path));
    }
    return stamps;
}

std::string ChangedSinceStamped(const std::vector<FileStamp>& stamps) {
    for (const FileStamp& then : stamps) {
        const FileStamp now = StampFile(then.path);
        if (now == then) {
            continue;
        }
        return then.path + (now.exists ? " was changed" : " was removed") + " since the batch started";
    }
    return {};
}
