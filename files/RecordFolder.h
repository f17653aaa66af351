// Folders of records, one file each, whose names sort in the order the records were put:
// lanquilld's spool and lanquill-deliver's queue. The files are written with replaceFile
// (AtomicFile.h); here are their names, the listing and a read that trusts nothing of the file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace lanquill::files {

// A name that sorts after every name this computer made before it, across processes and
// restarts as long as the wall clock does not go back: nanoseconds since the epoch (20 digits),
// the pid and a counter of this process (10 digits), then `extension`.
std::string timeOrderedName(std::string_view extension);

// The names in the open folder `folderFd` that end in `extension`, leaving out those that
// start with a dot (temporary files), sorted: the oldest record first. Empty when the folder
// cannot be read.
std::vector<std::string> recordNames(int folderFd, std::string_view extension);

struct FileRead {
    enum class Problem { None, Gone, Unreadable, NotARecord } problem = Problem::None;
    std::string why; // for a log line, when problem is not None
    std::string bytes;
    struct stat file {}; // what was read, for removing that very file later
};

// A regular file of at most `limit` bytes, read whole. The path's last component is never
// followed as a link; nothing else is opened for reading (lstat first, then the descriptor's own
// fstat must name the same file), O_NONBLOCK keeps a FIFO swapped in between from hanging the
// open, and no more than limit + 1 bytes are read even from a file that grows meanwhile.
FileRead readRegularFile(const std::string& path, std::size_t limit);

} // namespace lanquill::files
