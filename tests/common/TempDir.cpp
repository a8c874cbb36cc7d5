#include "tests/common/TempDir.h"

#include "tests/common/Files.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace fs = std::filesystem;

TempDir::TempDir(std::string_view prefix) {
    std::string pattern = (fs::temp_directory_path() / prefix).string() + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    m_path = pattern;
}

TempDir::~TempDir() {
    // Tests take write permission away to provoke failures; give it back first, or remove_all
    // stops at the first folder it may not empty. A destructor must not throw: a folder left
    // behind in the temporary area is the lesser harm.
    std::error_code ec;
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(m_path, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(m_path, ec);
}

fs::path TempDir::Write(std::string_view name, std::string_view bytes) const {
    const fs::path file = *this / name;
    WriteFile(file, bytes);
    return file;
}

fs::path TempDir::Write(std::string_view name, const std::vector<std::uint8_t>& bytes) const {
    return Write(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

fs::path TempDir::Sparse(std::string_view name, std::string_view prefix, std::int64_t length) const {
    const fs::path file = Write(name, prefix);
    if (::truncate(file.c_str(), static_cast<off_t>(length)) != 0)
        throw std::system_error(errno, std::generic_category(), "truncate " + file.string());
    return file;
}
