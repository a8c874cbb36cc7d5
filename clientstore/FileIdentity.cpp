#include "clientstore/FileIdentity.h"

FileIdentity FileIdentity::of(const std::filesystem::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? of(st) : FileIdentity{};
}

FileIdentity FileIdentity::of(const struct stat& st) {
    return {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

bool FileIdentity::operator==(const FileIdentity& other) const {
    if (exists != other.exists) {
        return false;
    }
    return !exists ||
           (device == other.device && inode == other.inode && size == other.size &&
            modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec);
}
