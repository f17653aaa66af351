#include "contacts/BookEdit.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace lanquill::contacts {

namespace {

// The lock file is never removed: a process that removed it could let a third one lock a new
// file of the same name while a second still waits on the old one.
class BookLock {
public:
    explicit BookLock(const std::string& path) {
        const auto slash = path.find_last_of('/');
        const std::string lockPath =
            slash == std::string::npos
                ? "." + path + ".lock"
                : path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".lock";
        fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd_ < 0)
            throw failure(BookError::CannotOpenLock, path, lockPath, errno);
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                const int err = errno;
                ::close(fd_);
                throw failure(BookError::CannotLock, path, lockPath, err);
            }
        }
    }
    ~BookLock() { ::close(fd_); } // releases the lock
    BookLock(const BookLock&) = delete;
    BookLock& operator=(const BookLock&) = delete;

private:
    static XmlError failure(BookError code, const std::string& path, const std::string& lockPath,
                            int error) {
        return XmlError(BookFailure{.action = BookAction::Edit,
                                    .code = code,
                                    .error = error,
                                    .path = path,
                                    .detail = lockPath});
    }

    int fd_ = -1;
};

} // namespace

bool editBook(XmlDocument& doc, const std::string& path,
              const std::function<void(XmlDocument&)>& edit) {
    BookLock lock(path);
    const bool reread = doc.changedOnDisk(path);
    if (reread) {
        const LoadOutcome outcome = doc.load(path);
        if (outcome.kind == LoadOutcome::Kind::Unreadable)
            throw XmlError(outcome.failure);
    }
    try {
        edit(doc);
    } catch (...) {
        doc.load(path);
        throw;
    }
    return reread;
}

} // namespace lanquill::contacts
