// The file an image is written into.
//
// The image goes into a temporary file beside its output (the same folder, hence the same file
// system) and is renamed over the output only once it is whole, so a failed or interrupted run
// leaves whatever the output held before. An output that already exists as something other than
// a plain file (a character device such as /dev/null) is written in place instead: it cannot be
// replaced by a rename. A link to an existing file is followed, so the file it names is replaced
// and the link stays.
#pragma once

#include <sys/stat.h>

#include <string>

class ImageOutput {
public:
    ImageOutput() = default;
    ~ImageOutput();
    ImageOutput(const ImageOutput&) = delete;
    ImageOutput& operator=(const ImageOutput&) = delete;

    // Opens the file to write into; false with errno set, nothing created.
    bool Open(const std::string& path);
    // The descriptor to write with (seekable unless the output is a device written in place).
    int Fd() const { return m_fd; }
    // Closes the file and puts it in place. False with errno set and *step naming the failing
    // call ("fclose" or "rename"); the temporary file is gone then.
    bool Commit(const char** step);
    // Closes and removes the temporary file; the output keeps what it held.
    void Discard();

private:
    bool OpenTemporary(const std::string& target, mode_t mode);

    int m_fd = -1;
    std::string m_target;    // where the image ends up
    std::string m_temporary; // empty when writing in place
};
