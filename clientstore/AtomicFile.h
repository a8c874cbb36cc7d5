// Replacing a file whole without ever leaving it half written.
#pragma once

#include <filesystem>
#include <functional>
#include <ostream>

// Writes a new version of `path` through `write` and puts it in place of the old one: the text
// goes to a temporary file in the same folder, is flushed to disk, and is then renamed over
// `path`. The bytes reach the disk as `write` puts them into the stream.
// Gives true only when the new file is in place. On any failure (folder missing or read-only,
// disk full, a write error, `write` leaving the stream failed) the temporary file is removed and
// `path` is left exactly as it was. An existing file that this process may not write to is
// refused, as opening it for writing would be. A symbolic link at `path` is followed, so the file it points
// to is replaced and the link stays. A new file gets the permissions the process's umask allows;
// a replaced file keeps its permissions.
bool replaceFileAtomically(const std::filesystem::path& path,
                           const std::function<void(std::ostream&)>& write);
