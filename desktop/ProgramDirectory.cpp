#include "desktop/ProgramDirectory.h"

#include <unistd.h>

#include <vector>

namespace desktop {

namespace {

std::string readProgramDirectory() {
    // readlink does not say whether it cut the name short, so the buffer grows until it did not.
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return {};
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            const std::string path(buffer.data(), static_cast<std::size_t>(length));
            const std::size_t slash = path.rfind('/');
            return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        }
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

const std::string& programDirectory() {
    static const std::string directory = readProgramDirectory();
    return directory;
}

} // namespace desktop
