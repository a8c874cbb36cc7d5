// Replacing a file whole without ever leaving it half written.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

struct ReplaceOptions {
    // Permissions of a file that does not exist yet; 0 gives what the process's umask allows.
    mode_t newFileMode = 0;
    // Runs after the new text is on disk, just before the rename; a non-empty result refuses the
    // replacement and is given as the cause.
    std::function<std::string()> beforeRename;
};

// Writes a new version of `path` through `write` and puts it in place of the old one: the text
// goes to a temporary file in the same folder, is flushed to disk, and is then renamed over
// `path`. The bytes reach the disk as `write` puts them into the stream.
// Gives true only when the new file is in place. On any failure (folder missing or read-only,
// disk full, a write error, `write` leaving the stream failed) the temporary file is removed,
// `path` is left exactly as it was and *why (when given) receives the cause, the system's error
// text where there is one. An existing file that this process may not write to is refused, as
// opening it for writing would be. A symbolic link at `path` is followed, so the file it points
// to is replaced and the link stays; a link whose target does not exist is refused. A replaced
// file keeps its permissions and, where the process may, its owner. The temporary file never has
// wider permissions than the final file, and it is removed when SIGINT, SIGTERM or SIGHUP ends the
// process during the save (signals that the program handles itself stay its own); a file size
// limit fails the save instead of ending the process.
bool replaceFileAtomically(const std::filesystem::path& path, const std::function<void(std::ostream&)>& write,
                           std::string* why = nullptr, const ReplaceOptions& options = {});
