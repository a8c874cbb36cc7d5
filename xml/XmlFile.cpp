#include "xml/XmlFile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

struct Freer {
    void operator()(char* p) const { std::free(p); }
};

} // namespace

bool loadTextFile(const char* path, char** buffer, std::size_t* count, std::size_t chunkSize) {
    if (!path || !buffer || !count) {
        return false;
    }
    *buffer = nullptr;
    *count = 0;
    if (chunkSize < 2) {
        return false;
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file) {
        return false;
    }
    std::unique_ptr<char, Freer> chunk(static_cast<char*>(std::malloc(chunkSize)));
    if (!chunk) {
        return false;
    }
    char* result = nullptr;
    std::size_t length = 0;
    std::size_t capacity = 0;
    std::size_t total = 0;
    for (;;) {
        std::memset(chunk.get(), 0, chunkSize);
        const std::size_t got = std::fread(chunk.get(), 1, chunkSize - 1, file.get());
        if (got == 0) {
            break;
        }
        // A zero byte cuts the rest of its chunk out of the text; the count still includes it.
        const void* zero = std::memchr(chunk.get(), '\0', got);
        const std::size_t kept =
            zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - chunk.get()) : got;
        if (length + kept + 1 > capacity) {
            // Growing by doubling rather than by one chunk at a time: a large file read 4 KiB at
            // a time would otherwise be copied over and over, in time growing with its square.
            std::size_t wanted = capacity ? capacity * 2 : 2 * chunkSize;
            if (wanted < length + kept + 1) {
                wanted = length + kept + 1;
            }
            char* grown = static_cast<char*>(std::realloc(result, wanted));
            if (!grown) {
                std::free(result);
                return false;
            }
            result = grown;
            capacity = wanted;
        }
        std::memcpy(result + length, chunk.get(), kept);
        length += kept;
        result[length] = '\0';
        total += got;
    }
    if (total == 0) {
        std::free(result);
        return false;
    }
    *buffer = result;
    *count = total;
    return true;
}
