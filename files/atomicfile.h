// The one way our programs write a file people keep: the bytes go to a
// temporary file beside the target, every write and the final flush are
// checked, the data reaches the disk, and only then does the temporary file
// replace the target. On any failure the target keeps what it had.
//
// A target that is not a regular file (a character device such as /dev/null,
// a FIFO) is written directly: replacing it would turn a device node into a
// plain file. A name for an open descriptor (/dev/stdout, /dev/fd/N, a link
// through /proc) is written through that descriptor, so the file a shell
// redirected to is neither cut out of its directory nor truncated.
//
// Plain C++ (POSIX): failures come back as an error text, empty when it
// worked, that names the file and the reason.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zem::files {

class AtomicFile
{
public:
    explicit AtomicFile(std::string path);
    // Cancels what was not committed.
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // Creates the temporary file (or opens a target that is not a regular
    // file); "" or why it cannot be written.
    std::string open();
    // Appends bytes; the first failure is kept and later writes do nothing.
    void write(std::string_view bytes);
    // Flushes, syncs and renames over the target; "" or the first failure,
    // after which the target is as it was.
    std::string commit();
    // Drops the temporary file; the target keeps what it had.
    void cancel();

    const std::string &path() const { return m_path; }
    // The reason of the last failure alone ("No space left on device").
    const std::string &reason() const { return m_reason; }

private:
    std::string fail(int error);

    std::string m_path;
    std::string m_temporary; // empty when writing the target directly
    int m_fd = -1;
    int m_error = 0; // errno of the first failed write
    std::string m_reason;
};

// Writes the whole file in one go; "" or the reason.
std::string writeFile(const std::string &path, std::string_view bytes);

} // namespace zem::files
