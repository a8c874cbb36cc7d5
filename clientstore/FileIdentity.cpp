#include "clientstore/FileIdentity.h"

#include <sys/stat.h>

FileIdentity FileIdentity::of(const std::filesystem::path& path) {
    FileIdentity identity;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        identity.exists = true;
        identity.device = st.st_dev;
        identity.inode = st.st_ino;
        identity.size = st.st_size;
        identity.modified = st.st_mtim;
    }
    return identity;
}

bool FileIdentity::operator==(const FileIdentity& other) const {
    if (exists != other.exists) {
        return false;
    }
    return !exists ||
           (device == other.device && inode == other.inode && size == other.size &&
            modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec);
}
