#include "daemon/Spool.h"

#include "daemon/Log.h"
#include "files/AtomicFile.h"
#include "files/RecordFolder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lanquill::daemon {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view Extension = ".msg";

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    ::gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

// A spooled message; nothing for what is no regular file of ours: a FIFO put in its place would
// hang the read, a link could point anywhere.
std::optional<Message> readRecord(const fs::path& path) {
    const files::FileRead read =
        files::readRegularFile(path.string(), 2 * protocol::session::LongestText);
    if (read.problem != files::FileRead::Problem::None)
        return std::nullopt;
    return protocol::session::messageFromJson(read.bytes);
}

} // namespace

Spool::Spool(fs::path folder, std::size_t capacity)
    : folder_(std::move(folder)), capacity_(capacity) {
    std::error_code error;
    fs::create_directories(folder_, error);
    // What others were sent is nobody else's business: not even the message ids are listed.
    ::chmod(folder_.c_str(), 0700);
    for (const auto& entry : fs::directory_iterator(folder_, error))
        if (entry.path().filename().string().starts_with(".tmp"))
            fs::remove(entry.path(), error); // an older lanquilld's temporary files
    files::removeStaleTemporaries(folder_.string(), "");
    pending();
}

bool Spool::writable() const {
    return ::access(folder_.c_str(), W_OK | X_OK) == 0;
}

Spool::Stored Spool::store(Message& message, std::size_t room) {
    if (users_.size() >= std::min(room, capacity_))
        return Stored::Full;
    // Ids sort by arrival and stay unique across restarts.
    message.id = files::timeOrderedName("");
    message.time = utcNow();

    const std::string record = protocol::session::spoolRecord(message) + "\n";
    const fs::path final = folder_ / (message.id + std::string(Extension));
    const auto written = files::replaceFile(final.string(), record, {});
    if (!written) {
        lastFailure_ =
            "cannot write " + final.string() + ": " + std::strerror(written.failure->error);
        return Stored::Failed;
    }
    users_[message.id] = message.user;
    waitingForUsers_ += !message.user.empty();
    return Stored::Yes;
}

void Spool::forget(const std::string& id) {
    const auto entry = users_.find(id);
    if (entry == users_.end())
        return;
    waitingForUsers_ -= !entry->second.empty();
    users_.erase(entry);
}

void Spool::remove(const std::string& id) {
    // Ids come from clients: only a name this spool could have made is looked up.
    if (id.empty() || id.find_first_not_of("0123456789-") != std::string::npos)
        return;
    if (::unlink((folder_ / (id + std::string(Extension))).c_str()) == 0) {
        files::syncFolder(folder_.string());
        forget(id);
    } else if (errno == ENOENT) {
        forget(id);
    }
}

std::vector<Message> Spool::pending() {
    std::vector<Message> messages;
    const int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return messages;
    const std::vector<std::string> names = files::recordNames(fd, Extension);
    ::close(fd);
    std::map<std::string, std::string> users;
    std::size_t waitingForUsers = 0;
    for (const std::string& name : names) {
        const fs::path path = folder_ / name;
        auto message = readRecord(path);
        std::string& user = users[name.substr(0, name.size() - Extension.size())];
        if (message) {
            user = message->user;
            waitingForUsers += !user.empty();
            messages.push_back(std::move(*message));
        } else {
            log(Priority::Warning, "spool: unreadable " + path.string() + " left alone");
        }
    }
    users_ = std::move(users);
    waitingForUsers_ = waitingForUsers;
    return messages;
}

void Spool::eachWaitingAfter(const std::string& after, const std::string& user,
                             const std::function<bool(const Message&)>& take) const {
    for (auto it = users_.upper_bound(after); it != users_.end(); ++it) {
        if (!it->second.empty() && it->second != user)
            continue;
        const fs::path path = folder_ / (it->first + std::string(Extension));
        const auto message = readRecord(path);
        if (!message) {
            log(Priority::Warning, "spool: unreadable " + path.string() + " left alone");
            continue;
        }
        if (!take(*message))
            return;
    }
}

std::size_t Spool::expire() {
    std::size_t removed = 0;
    std::error_code error;
    const auto limit = fs::file_time_type::clock::now() - MaxAge;
    for (const auto& entry : fs::directory_iterator(folder_, error)) {
        if (entry.path().extension() != Extension || entry.last_write_time(error) >= limit)
            continue;
        if (fs::remove(entry.path(), error)) {
            ++removed;
            forget(entry.path().stem().string());
            log(Priority::Notice, "spool: " + entry.path().filename().string() +
                                      " unacknowledged for 30 days, removed");
        }
    }
    if (removed)
        files::syncFolder(folder_.string());
    return removed;
}

} // namespace lanquill::daemon
