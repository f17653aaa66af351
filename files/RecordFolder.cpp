#include "files/RecordFolder.h"

#include "files/Descriptor.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <utility>

namespace lanquill::files {

namespace {

std::string kindOf(mode_t mode) {
    switch (mode & S_IFMT) {
    case S_IFDIR:
        return "a directory";
    case S_IFIFO:
        return "a FIFO";
    case S_IFCHR:
        return "a character device";
    case S_IFBLK:
        return "a block device";
    case S_IFSOCK:
        return "a socket";
    case S_IFLNK:
        return "a symbolic link";
    default:
        return "not a regular file";
    }
}

} // namespace

std::string timeOrderedName(std::string_view extension) {
    static std::atomic<unsigned> counter{0};
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    char name[64];
    // The counter has a fixed width too: two names of one nanosecond still sort as they were made.
    std::snprintf(name, sizeof name, "%020lld-%d-%010u", static_cast<long long>(nanos), ::getpid(),
                  counter++);
    return name + std::string(extension);
}

std::vector<std::string> recordNames(int folderFd, std::string_view extension) {
    std::vector<std::string> names;
    // A descriptor of its own: readdir moves the position of the one it reads.
    const int fd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::unique_ptr<DIR, int (*)(DIR*)> folder(fd >= 0 ? ::fdopendir(fd) : nullptr, ::closedir);
    if (!folder) {
        if (fd >= 0)
            ::close(fd);
        return names;
    }
    while (const dirent* entry = ::readdir(folder.get())) {
        const std::string_view name = entry->d_name;
        if (name.front() != '.' && name.size() > extension.size() && name.ends_with(extension))
            names.emplace_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

FileRead readRegularFile(const std::string& path, std::size_t limit) {
    FileRead read;
    const auto problem = [&](FileRead::Problem kind, std::string why) {
        read.problem = kind;
        read.why = std::move(why);
        return read;
    };
    const auto overLimit = [&](std::size_t size) {
        return problem(FileRead::Problem::NotARecord,
                       "over " + std::to_string(limit) + " bytes (" + std::to_string(size) + ")");
    };
    struct stat seen {};
    if (::lstat(path.c_str(), &seen) != 0) {
        const int error = errno;
        return problem(error == ENOENT ? FileRead::Problem::Gone : FileRead::Problem::Unreadable,
                       std::strerror(error));
    }
    if (!S_ISREG(seen.st_mode))
        return problem(FileRead::Problem::NotARecord, kindOf(seen.st_mode));
    if (static_cast<std::uint64_t>(seen.st_size) > limit)
        return overLimit(static_cast<std::size_t>(seen.st_size));
    const Descriptor file{
        ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0)
        return errno == ELOOP ? problem(FileRead::Problem::NotARecord, "a symbolic link")
                              : problem(FileRead::Problem::Unreadable, std::strerror(errno));
    if (::fstat(file.fd, &read.file) != 0)
        return problem(FileRead::Problem::Unreadable, std::strerror(errno));
    if (read.file.st_dev != seen.st_dev || read.file.st_ino != seen.st_ino)
        return problem(FileRead::Problem::NotARecord, "replaced while it was opened");
    if (!S_ISREG(read.file.st_mode))
        return problem(FileRead::Problem::NotARecord, kindOf(read.file.st_mode));
    if (static_cast<std::uint64_t>(read.file.st_size) > limit)
        return overLimit(static_cast<std::size_t>(read.file.st_size));
    read.bytes.resize(limit + 1);
    std::size_t got = 0;
    while (got < read.bytes.size()) {
        const ssize_t n = ::read(file.fd, read.bytes.data() + got, read.bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return problem(FileRead::Problem::Unreadable, std::strerror(errno));
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    if (got > limit)
        return overLimit(got);
    read.bytes.resize(got);
    return read;
}

} // namespace lanquill::files
