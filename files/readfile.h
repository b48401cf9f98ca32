// The one way our programs read a file people give them: whatever the name
// stands for (a regular file, a pipe, /dev/zero, a terminal), reading stops
// at a limit, so a file that never ends cannot take all memory.
//
// Plain C++ (POSIX): failures come back as an error text, empty when it
// worked, that names the file and the reason.
#pragma once

#include <cstddef>
#include <string>

namespace zem::files {

// Which files a reader takes: any (a pipe, /dev/stdin), or only regular ones,
// for inputs that a FIFO with no writer would keep waiting forever.
enum class Accept { AnyFile, RegularFile };

// Reads the whole file into bytes, but never more than limit bytes; a longer
// file is refused ("board.json: larger than 256 MiB, the limit for a
// signature"), and bytes is then empty. `what` names the kind of file. With
// Accept::RegularFile, anything else is refused before it is read
// ("board.d356: not a regular file").
std::string readFile(const std::string &path, std::size_t limit, const char *what,
    std::string &bytes, Accept accept = Accept::AnyFile);

} // namespace zem::files
