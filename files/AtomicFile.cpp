#include "files/AtomicFile.h"

#include "files/Descriptor.h"

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace lanquill::files {

namespace {

std::pair<std::string, std::string> splitPath(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// The pid in a temporary file's name ".<target>.<pid>.XXXXXX", with the target's name.
std::optional<std::pair<std::string_view, long>> parseTemporary(std::string_view name) {
    if (name.size() < 1 + 1 + 1 + 1 + 1 + 6 || name[0] != '.')
        return std::nullopt;
    const auto lastDot = name.rfind('.');
    if (lastDot == std::string_view::npos || name.size() - lastDot - 1 != 6)
        return std::nullopt;
    const auto pidDot = name.rfind('.', lastDot - 1);
    if (pidDot == std::string_view::npos || pidDot <= 1 || pidDot + 1 == lastDot)
        return std::nullopt;
    long pid = 0;
    for (const char ch : name.substr(pidDot + 1, lastDot - pidDot - 1)) {
        if (ch < '0' || ch > '9' || pid > 100000000)
            return std::nullopt;
        pid = pid * 10 + (ch - '0');
    }
    if (pid <= 0)
        return std::nullopt;
    return std::pair{name.substr(1, pidDot - 1), pid};
}

} // namespace

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool syncFolder(const std::string& folder) {
    const Descriptor d{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    return d.fd >= 0 && ::fsync(d.fd) == 0;
}

ReplaceResult replaceFile(const std::string& target, std::string_view data,
                          const ReplaceOptions& options) {
    const auto [folder, name] = splitPath(target);
    std::string temporary = folder + "/." + name + "." + std::to_string(::getpid()) + ".XXXXXX";
    const auto fail = [&](ReplaceStep step) {
        const int error = errno;
        return ReplaceResult{std::nullopt, ReplaceFailure{step, error}};
    };
    Descriptor file{::mkostemp(temporary.data(), O_CLOEXEC)};
    if (file.fd < 0)
        return fail(ReplaceStep::CreateTemporary);
    struct Remover {
        const std::string& path;
        bool armed = true;
        ~Remover() {
            if (armed)
                ::unlink(path.c_str());
        }
    } remover{temporary};

    if (!writeAll(file.fd, data))
        return fail(ReplaceStep::Write);
    if (options.owner && ::fchown(file.fd, options.owner->first, options.owner->second) != 0) {
        // not ours to give away: the file is then ours, with the same mode
    }
    if (::fchmod(file.fd, options.mode) != 0)
        return fail(ReplaceStep::SetMode);
    Replaced replaced;
    if (::fsync(file.fd) != 0 || ::fstat(file.fd, &replaced.written) != 0)
        return fail(ReplaceStep::Sync);
    const int fd = file.fd;
    file.fd = -1;
    if (::close(fd) != 0)
        return fail(ReplaceStep::Close);
    if (::rename(temporary.c_str(), target.c_str()) != 0)
        return fail(ReplaceStep::Rename);
    remover.armed = false;
    replaced.folderSynced = syncFolder(folder);
    return ReplaceResult{replaced, std::nullopt};
}

void removeStaleTemporaries(const std::string& folder, const std::string& targetName) {
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(folder.c_str()), ::closedir);
    if (!d)
        return;
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(d.get())) {
        const auto temporary = parseTemporary(entry->d_name);
        if (!temporary || (!targetName.empty() && temporary->first != targetName))
            continue;
        const auto pid = static_cast<pid_t>(temporary->second);
        const bool gone = ::kill(pid, 0) != 0 && errno == ESRCH;
        if (gone || pid == self)
            ::unlinkat(::dirfd(d.get()), entry->d_name, 0);
    }
}

} // namespace lanquill::files
