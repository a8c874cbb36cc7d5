#pragma once
// Zip archives made with minizip's writer, independent of the simulator's reader.

#include "tests/common/Files.h"

#include <minizip/zip.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace fixture {

using ZipEntries = std::vector<std::pair<std::string, std::vector<uint8_t>>>;

// Writes the entries, deflated, into a zip at path and returns the archive's bytes.
inline std::vector<uint8_t> makeZip(const std::string& path, const ZipEntries& entries) {
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!zip)
        throw std::runtime_error("zipOpen64 failed");
    for (const auto& [name, data] : entries) {
        zip_fileinfo info{};
        if (zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                  Z_DEFAULT_COMPRESSION, 0) != ZIP_OK ||
            zipWriteInFileInZip(zip, data.data(), unsigned(data.size())) != ZIP_OK ||
            zipCloseFileInZip(zip) != ZIP_OK)
            throw std::runtime_error("writing " + name + " into the zip failed");
    }
    zipClose(zip, nullptr);
    return ReadBytes(path);
}

} // namespace fixture
