// The spool: every message taken from the wire is a file here before its sender hears
// "accepted", and stays until a desktop session acknowledges it. Files are written atomically
// (temporary file, fsync, rename, fsync of the folder), so a SIGKILL at any moment leaves either
// the whole message or none of it.
#pragma once

#include "protocol/SessionProtocol.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lanquill::daemon {

using Message = protocol::session::Message;

class Spool {
public:
    static constexpr std::size_t DefaultCapacity = 1000;
    static constexpr std::chrono::hours MaxAge{24 * 30};

    // Opens the folder (made when missing) and drops unfinished temporary files.
    explicit Spool(std::filesystem::path folder, std::size_t capacity = DefaultCapacity);
    std::size_t capacity() const { return capacity_; }

    enum class Stored { Yes, Full, Failed };
    std::size_t size() const { return users_.size(); }
    // Messages kept for one user's sessions rather than every session.
    std::size_t waitingForUsers() const { return waitingForUsers_; }
    // Gives the message its id and time and writes it, when fewer than `room` messages wait.
    // Anything but Yes: the sender must be refused, not told "accepted".
    Stored store(Message& message, std::size_t room);
    // Why the last store that Failed did, for the caller's log (which bounds its lines).
    const std::string& lastFailure() const { return lastFailure_; }
    // Whether the folder takes new files, as far as its mode tells.
    bool writable() const;
    void remove(const std::string& id);
    // Every message waiting, oldest first, as the folder holds them now (the index rebuilt).
    std::vector<Message> pending();
    // Reads, oldest first, the messages after id `after` that wait for `user`'s sessions or
    // every session, passing each to `take` until it returns false. Only those files are
    // read: a session that drains slowly costs one read of each message, not of the spool.
    void eachWaitingAfter(const std::string& after, const std::string& user,
                          const std::function<bool(const Message&)>& take) const;
    // Removes messages older than MaxAge; returns how many.
    std::size_t expire();

private:
    void forget(const std::string& id);

    std::filesystem::path folder_;
    std::size_t capacity_;
    // Each message file by id, with the user it waits for (empty: every session); unreadable
    // files take room too.
    std::map<std::string, std::string> users_;
    std::size_t waitingForUsers_ = 0;
    std::string lastFailure_;
};

} // namespace lanquill::daemon
