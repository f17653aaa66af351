#include "daemon/Spool.h"

#include "daemon/Log.h"
#include "daemon/WriteAll.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace lanquill::daemon {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr std::string_view Extension = ".msg";

bool syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    ::gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

} // namespace

std::string toJson(const Message& message) {
    const json object = {{"id", message.id},           {"time", message.time},
                         {"kind", message.kind},       {"from", message.from},
                         {"address", message.address}, {"to", message.to},
                         {"text", message.text}};
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<Message> messageFromJson(const std::string& text) {
    const json object = json::parse(text, nullptr, false);
    if (!object.is_object())
        return std::nullopt;
    Message message;
    const auto field = [&](const char* name, std::string& into) {
        const auto it = object.find(name);
        if (it != object.end() && it->is_string())
            into = it->get<std::string>();
    };
    field("id", message.id);
    field("time", message.time);
    field("kind", message.kind);
    field("from", message.from);
    field("address", message.address);
    field("to", message.to);
    field("text", message.text);
    field("user", message.user);
    if (message.id.empty())
        return std::nullopt;
    return message;
}

Spool::Spool(fs::path folder) : folder_(std::move(folder)) {
    std::error_code error;
    fs::create_directories(folder_, error);
    for (const auto& entry : fs::directory_iterator(folder_, error))
        if (entry.path().filename().string().starts_with(".tmp"))
            fs::remove(entry.path(), error);
}

bool Spool::store(Message& message) {
    std::error_code error;
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder_, error))
        count += entry.path().extension() == Extension;
    if (count >= MaxMessages) {
        log(Priority::Warning, "spool full (" + std::to_string(MaxMessages) +
                                   " messages unacknowledged): message refused");
        return false;
    }
    // Ids sort by arrival and stay unique across restarts: wall-clock nanoseconds, pid, counter.
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    char id[64];
    std::snprintf(id, sizeof id, "%020lld-%d-%u", static_cast<long long>(nanos), ::getpid(),
                  counter_++);
    message.id = id;
    message.time = utcNow();

    json object = json::parse(toJson(message));
    object["user"] = message.user;
    const std::string data = object.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    const fs::path temporary = folder_ / (".tmp-" + message.id);
    const fs::path final = folder_ / (message.id + std::string(Extension));
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        log(Priority::Error,
            "spool: cannot create " + temporary.string() + ": " + std::strerror(errno));
        return false;
    }
    const bool written = writeAll(fd, data) && ::fsync(fd) == 0;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), final.c_str()) != 0 || !syncFolder(folder_)) {
        log(Priority::Error, "spool: cannot write " + final.string() + ": " + std::strerror(errno));
        fs::remove(temporary, error);
        return false;
    }
    return true;
}

void Spool::remove(const std::string& id) {
    // Ids come from clients: only a name this spool could have made is looked up.
    if (id.empty() || id.find_first_not_of("0123456789-") != std::string::npos)
        return;
    if (::unlink((folder_ / (id + std::string(Extension))).c_str()) == 0)
        syncFolder(folder_);
}

std::vector<Message> Spool::pending() const {
    std::vector<Message> messages;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder_, error)) {
        if (entry.path().extension() != Extension)
            continue;
        std::ifstream file(entry.path());
        std::stringstream text;
        text << file.rdbuf();
        if (auto message = messageFromJson(text.str()))
            messages.push_back(std::move(*message));
        else
            log(Priority::Warning, "spool: unreadable " + entry.path().string() + " left alone");
    }
    std::sort(messages.begin(), messages.end(),
              [](const Message& a, const Message& b) { return a.id < b.id; });
    return messages;
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
            log(Priority::Notice, "spool: " + entry.path().filename().string() +
                                      " unacknowledged for 30 days, removed");
        }
    }
    if (removed)
        syncFolder(folder_);
    return removed;
}

} // namespace lanquill::daemon
