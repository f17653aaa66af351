// The spool: every message taken from the wire is a file here before its sender hears
// "accepted", and stays until a desktop session acknowledges it. Files are written atomically
// (temporary file, fsync, rename, fsync of the folder), so a SIGKILL at any moment leaves either
// the whole message or none of it.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lanquill::daemon {

struct Message {
    std::string id;
    std::string time; // UTC, "2026-12-08T10:00:00Z"
    std::string kind; // "direct" or "workgroup"
    std::string from; // UTF-8
    std::string address;
    std::string to;
    std::string text;
    std::string user; // the NetBIOS user name it is for; empty: every session
};

class Spool {
public:
    static constexpr std::size_t MaxMessages = 1000;
    static constexpr std::chrono::hours MaxAge{24 * 30};

    // Opens the folder (made when missing) and drops unfinished temporary files.
    explicit Spool(std::filesystem::path folder);

    // Gives the message its id and time and writes it; false when the spool is full or the write
    // failed: the sender must then be refused, not told "accepted".
    bool store(Message& message);
    void remove(const std::string& id);
    // Every message waiting, oldest first.
    std::vector<Message> pending() const;
    // Removes messages older than MaxAge; returns how many.
    std::size_t expire();

private:
    std::filesystem::path folder_;
    unsigned counter_ = 0;
};

std::string toJson(const Message& message);
std::optional<Message> messageFromJson(const std::string& text);

} // namespace lanquill::daemon
