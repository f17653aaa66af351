// lanquill-deliver: smbd's `message command` for hosts where smbd holds TCP 139. smbd runs
//   /usr/libexec/lanquill/lanquill-deliver '%I' '%m' '%L' '%s' &
// as its guest account; this hands the message file to lanquilld over session.sock and removes
// the file once lanquilld has it in its spool. It never runs a shell: the arguments are data.
// smbd 4.17 splits that line into arguments itself and passes the `&` on as a last argument.
// %f is not used because smbd turns every byte over 0x7f in it into '_'; the sender is %m/%I,
// and %m comes empty when the caller's name held characters smbd deems unsafe (`;`, `$`, ...).
//
// What smbd hands it: the path of a file smbd has just made with mkstemp in its TMPDIR (else
// /tmp), mode 0600, owned by the account the command runs as, at most 1,600 bytes. Anything
// else in that place (a link, a folder, a FIFO, a device, a huge file) is not a message: it is
// left as it is, without blocking and without reading more than the limit. smbd waits for the
// command before it answers the sender (its `&` is escaped, not a shell's), so a hand-in that
// cannot be made now is queued and retried by a child that smbd does not wait for.
#include "files/AtomicFile.h"
#include "files/RecordFolder.h"
#include "files/Wait.h"
#include "protocol/Addresses.h"
#include "protocol/NetBios.h"
#include "protocol/OemCodePage.h"
#include "protocol/SessionProtocol.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace lanquill;
namespace session = protocol::session;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t MaxFileBytes = 64 * 1024; // smbd caps a message at 1,600 bytes
constexpr int AnswerTimeoutMs = 10000;
// The queue: messages lanquilld did not take, waiting in ${TMPDIR:-/tmp}/lanquill-deliver.UID.
constexpr std::size_t QueueRoom = 1000;
constexpr std::string_view QueuePrefix = "lanquill-deliver.";
constexpr std::string_view QueueExtension = ".json";
// How long a background run keeps trying, and its pauses between tries (doubling).
constexpr auto RetryFor = std::chrono::minutes(15);
constexpr auto FirstPause = std::chrono::seconds(1);
constexpr auto LongestPause = std::chrono::seconds(60);

// What became of the message file; smbd ignores the code, whoever runs it by hand reads it.
enum ExitCode : int {
    Delivered = 0,   // lanquilld has it in its spool; the file is removed
    Kept = 1,        // the file stays where it is, nothing retries it (the reason is on stderr)
    Usage = 2,       // arguments smbd never passes; the file is not touched
    Removed = 3,     // lanquilld refused it for good, or the queue is full; the file is removed
    NotAMessage = 4, // not a regular file of at most 64 KiB: left as it is, never read whole
    Queued = 75,     // lanquilld did not take it now: it waits in the queue, a child retries
};

// A string from the command line or the disk, safe for one line of smbd's log.
std::string shown(std::string_view text) {
    const bool plain = std::none_of(text.begin(), text.end(), [](char ch) {
        return static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f || ch == '"';
    });
    return plain && !text.empty()
               ? std::string(text)
               : json(std::string(text)).dump(-1, ' ', false, json::error_handler_t::replace);
}

void say(const std::string& line) {
    std::fprintf(stderr, "lanquill-deliver[%ld]: %s\n", static_cast<long>(::getpid()),
                 line.c_str());
    std::fflush(stderr);
}

int fail(ExitCode code, const std::string& why) {
    say(why);
    return code;
}

std::string errorText(int error) {
    return std::strerror(error);
}

struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    explicit Descriptor(int d) : fd(d) {}
    Descriptor(Descriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd, other.fd);
        return *this;
    }
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

// --- Reading a file that is not ours to trust ---

using files::FileRead;
using files::readRegularFile;

// Removes `path` only while it still is the file that was read.
bool removeIfSame(const std::string& path, const struct stat& file, std::string& why) {
    struct stat now {};
    if (::lstat(path.c_str(), &now) != 0) {
        const int error = errno;
        why = errorText(error);
        return error == ENOENT;
    }
    if (now.st_dev != file.st_dev || now.st_ino != file.st_ino) {
        why = "another file is in its place now";
        return false;
    }
    if (::unlink(path.c_str()) != 0) {
        why = errorText(errno);
        return false;
    }
    return true;
}

// --- The hand-in to lanquilld ---

int connectTo(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// The first line lanquilld answers, or nullopt on timeout or a closed socket.
std::optional<std::string> readLine(int fd) {
    std::string line;
    const auto deadline = Clock::now() + std::chrono::milliseconds(AnswerTimeoutMs);
    for (;;) {
        if (const auto end = line.find('\n'); end != std::string::npos)
            return line.substr(0, end);
        if (line.size() > session::LongestServerLine)
            return std::nullopt;
        if (!files::waitUntil(fd, POLLIN, deadline))
            return std::nullopt;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        line.append(buffer, static_cast<std::size_t>(n));
    }
}

struct HandIn {
    enum class Outcome {
        Stored,  // in lanquilld's spool
        Refused, // for good: lanquilld will never take this request
        Later,   // lanquilld not there, not answering, or not able now
    } outcome;
    std::string why;
};

// Errors after which the same request can never be taken: retrying would only pile it up (and,
// in the queue, hold up the messages behind it).
bool isFinal(const std::string& error) {
    return error == session::Refused || error == session::LineTooLong ||
           error == session::BadAddress || error == session::NotAnObject ||
           error == session::UnknownRequest;
}

// Hands one request line (with its newline) to lanquilld.
HandIn handIn(const std::string& line) {
    using Outcome = HandIn::Outcome;
    const std::string socketPath = session::socketPath();
    const Descriptor socket{connectTo(socketPath)};
    if (socket.fd < 0) {
        const std::string error = errorText(errno);
        return {Outcome::Later, "lanquilld is not reachable at " + socketPath + " (" + error + ")"};
    }
    if (!files::writeAll(socket.fd, line))
        return {Outcome::Later, "lanquilld closed the session socket"};
    const auto answerLine = readLine(socket.fd);
    if (!answerLine)
        return {Outcome::Later, "no answer from lanquilld"};
    const json answer = json::parse(*answerLine, nullptr, false);
    if (answer.is_object() && answer.contains(session::Stored))
        return {Outcome::Stored, {}};
    const auto error =
        answer.is_object() && answer.contains(session::Error) && answer[session::Error].is_string()
            ? answer[session::Error].get<std::string>()
            : *answerLine;
    return {isFinal(error) ? Outcome::Refused : Outcome::Later, "lanquilld: " + shown(error)};
}

// --- The queue ---

// Messages lanquilld did not take, each a file holding its hand-in line, named by the time it
// was queued: ${TMPDIR:-/tmp}/lanquill-deliver.UID, beside smbd's own message files and as
// private as they are (0700, this account's). A folder of that name that is not this account's,
// or that others may enter, is not used. One run at a time hands the queue in: the one that
// holds the folder's flock.
class Queue {
public:
    static std::optional<Queue> open(bool create, std::string& why) {
        const char* tmp = std::getenv("TMPDIR");
        Queue queue;
        queue.folder_ = std::string(tmp != nullptr && *tmp == '/' ? tmp : "/tmp") + "/" +
                        std::string(QueuePrefix) + std::to_string(::geteuid());
        if (create && ::mkdir(queue.folder_.c_str(), 0700) != 0 && errno != EEXIST) {
            const std::string error = errorText(errno);
            why = "cannot make the queue " + shown(queue.folder_) + ": " + error;
            return std::nullopt;
        }
        queue.fd_ = Descriptor{
            ::open(queue.folder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
        if (queue.fd_.fd < 0) {
            const std::string error = errorText(errno);
            why = "cannot open the queue " + shown(queue.folder_) + ": " + error;
            return std::nullopt;
        }
        struct stat folder {};
        if (::fstat(queue.fd_.fd, &folder) != 0 || !S_ISDIR(folder.st_mode) ||
            folder.st_uid != ::geteuid() || (folder.st_mode & 077) != 0) {
            char mode[8];
            std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(folder.st_mode & 07777));
            why = "the queue " + shown(queue.folder_) + " is not this account's own (owner " +
                  std::to_string(folder.st_uid) + ", mode " + mode + "): not used";
            return std::nullopt;
        }
        return queue;
    }

    const std::string& folder() const { return folder_; }
    std::string path(const std::string& name) const { return folder_ + "/" + name; }

    // Queued messages, oldest first.
    std::vector<std::string> names() const { return files::recordNames(fd_.fd, QueueExtension); }

    enum class Put { Done, Full, Failed };
    Put put(const std::string& line, std::string& name, std::string& why) const {
        if (names().size() >= QueueRoom) {
            why = "the queue " + shown(folder_) + " is full (" + std::to_string(QueueRoom) +
                  " messages wait for lanquilld)";
            return Put::Full;
        }
        name = files::timeOrderedName(QueueExtension);
        const auto written = files::replaceFile(path(name), line, {});
        if (!written) {
            why = "cannot write " + shown(path(name)) + ": " + errorText(written.failure->error);
            return Put::Failed;
        }
        return Put::Done;
    }

    bool remove(const std::string& name) const { return ::unlinkat(fd_.fd, name.c_str(), 0) == 0; }
    void sync() const { ::fsync(fd_.fd); }
    bool tryLock() const { return ::flock(fd_.fd, LOCK_EX | LOCK_NB) == 0; }
    void unlock() const { ::flock(fd_.fd, LOCK_UN); }

private:
    Queue() = default;
    std::string folder_;
    Descriptor fd_;
};

// A queued line lanquilld can take: a JSON object with a deliver object.
bool isHandIn(const std::string& line) {
    const json request = json::parse(line, nullptr, false);
    return request.is_object() && request.contains(session::Deliver) &&
           request[session::Deliver].is_object();
}

struct Drain {
    enum class Outcome {
        Empty,   // everything listed was handed in (or refused, or unusable, and removed)
        Blocked, // lanquilld did not take the next one: try again later
        Stuck,   // a handed-in message could not be removed: stop, or it would come twice
    } outcome = Outcome::Empty;
    std::string why;
};

// Hands in the queued messages, oldest first, until lanquilld stops taking them.
Drain drain(const Queue& queue, std::size_t& delivered) {
    Drain result;
    for (const auto& name : queue.names()) {
        const auto record = readRegularFile(queue.path(name), session::LongestClientLine + 1);
        if (record.problem == FileRead::Problem::Gone)
            continue;
        if (record.problem != FileRead::Problem::None) {
            say("queued " + shown(name) + " unusable (" + record.why + "): removed");
            queue.remove(name);
            continue;
        }
        if (!isHandIn(record.bytes)) {
            say("queued " + shown(name) + " is no hand-in: removed");
            queue.remove(name);
            continue;
        }
        const auto handed = handIn(record.bytes);
        if (handed.outcome == HandIn::Outcome::Later) {
            result = {Drain::Outcome::Blocked, handed.why};
            break;
        }
        if (handed.outcome == HandIn::Outcome::Refused)
            say("queued " + name + " refused (" + handed.why + "): removed");
        else
            ++delivered;
        if (!queue.remove(name)) {
            const int error = errno;
            result = {Drain::Outcome::Stuck,
                      "cannot remove " + shown(queue.path(name)) + ": " + errorText(error)};
            break;
        }
    }
    queue.sync();
    return result;
}

// The background run: hands the queue in, waiting for lanquilld with growing pauses for at most
// RetryFor; then the queue waits for the next message, whose run starts this again.
void retry() {
    std::string why;
    const auto queue = Queue::open(false, why);
    if (!queue)
        return;
    const auto deadline = Clock::now() + RetryFor;
    auto pause = std::chrono::duration_cast<Clock::duration>(FirstPause);
    std::size_t delivered = 0;
    for (;;) {
        // Another run holds the queue: it hands in everything queued before it lets go, and
        // looks again after letting go.
        if (!queue->tryLock())
            break;
        files::removeStaleTemporaries(queue->folder(), "");
        const auto drained = drain(*queue, delivered);
        if (drained.outcome == Drain::Outcome::Empty) {
            queue->unlock();
            // A run that queued while this one held the lock left its message to this one.
            if (queue->names().empty())
                break;
            continue;
        }
        if (drained.outcome == Drain::Outcome::Stuck) {
            say(drained.why + "; stopped, so that no message is handed in twice");
            break;
        }
        if (Clock::now() + pause > deadline) {
            say(drained.why + "; gave up retrying after " +
                std::to_string(std::chrono::duration_cast<std::chrono::minutes>(RetryFor).count()) +
                " minutes: " + std::to_string(queue->names().size()) + " message(s) wait in " +
                shown(queue->folder()) + " for the next message");
            break;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::duration_cast<Clock::duration>(LongestPause));
    }
    if (delivered > 0)
        say("lanquilld took " + std::to_string(delivered) + " queued message(s)");
}

// Starts the background run and returns its pid in the caller (0 when it could not start).
// smbd waits only for this process.
pid_t retryInBackground() {
    std::fflush(stderr);
    const pid_t child = ::fork();
    if (child < 0) {
        const std::string error = errorText(errno);
        say("cannot start the background retry (" + error +
            "); the next message hands the queue in");
        return 0;
    }
    if (child > 0)
        return child;
    ::setsid();
    std::signal(SIGHUP, SIG_IGN);
    if (const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC); null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
    retry();
    std::fflush(stderr);
    ::_exit(0);
}

// After lanquilld answered: messages an earlier run queued go in now, behind the caller's.
void handInQueueIfAny() {
    std::string why;
    if (const auto queue = Queue::open(false, why); queue && !queue->names().empty())
        retryInBackground();
}

// Hands the request line in; what lanquilld does not take now goes to the queue, and a child
// keeps trying. The exit status.
int deliver(const std::string& line, const std::string& address, const std::string& file,
            const struct stat& read) {
    std::string why;
    const auto handed = handIn(line);
    if (handed.outcome != HandIn::Outcome::Later) {
        const bool removed = removeIfSame(file, read, why);
        handInQueueIfAny();
        if (handed.outcome == HandIn::Outcome::Refused)
            return fail(Removed, handed.why + " (message from " + address + "); " + shown(file) +
                                     (removed ? " removed" : " not removed: " + why));
        if (!removed)
            say("lanquilld has the message, but " + shown(file) + " could not be removed: " + why);
        return Delivered;
    }

    // lanquilld did not take it now: into the queue, and a child keeps trying.
    const auto queue = Queue::open(true, why);
    if (!queue)
        return fail(Kept, handed.why + "; " + why + "; " + shown(file) + " kept");
    std::string name;
    switch (queue->put(line, name, why)) {
    case Queue::Put::Failed:
        return fail(Kept, handed.why + "; " + why + "; " + shown(file) + " kept");
    case Queue::Put::Full: {
        std::string removeWhy;
        const bool removed = removeIfSame(file, read, removeWhy);
        retryInBackground();
        return fail(Removed, handed.why + "; " + why + "; " + shown(file) +
                                 (removed ? " removed" : " not removed: " + removeWhy));
    }
    case Queue::Put::Done:
        break;
    }
    if (!removeIfSame(file, read, why))
        say(shown(file) + " is queued, but could not be removed: " + why);
    if (const pid_t child = retryInBackground())
        say(handed.why + "; queued as " + shown(queue->path(name)) + ", handed in by run " +
            std::to_string(child) + " once lanquilld answers");
    else
        say(handed.why + "; queued as " + shown(queue->path(name)));
    return Queued;
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN); // a lanquilld gone mid-write is a failed hand-in, not a kill
    if (argc == 6 && std::strcmp(argv[5], "&") == 0)
        --argc;
    if (argc != 5) {
        std::fputs("usage: lanquill-deliver SENDER-ADDRESS SENDER-NAME CALLED-NAME MESSAGE-FILE\n"
                   "(smbd's message command: lanquill-deliver '%I' '%m' '%L' '%s' &)\n"
                   "exit: 0 delivered, 1 kept in place, 2 usage, 3 removed undelivered,\n"
                   "      4 not a message (left alone), 75 queued for a retry\n",
                   stderr);
        return Usage;
    }
    const std::string address = argv[1];
    const std::string file = argv[4];
    if (!protocol::parseIpv4(address))
        return fail(Usage, "not an IPv4 address: " + shown(address) + "; " + shown(file) +
                               " left as it is");
    // smbd passes both names in its unix charset (UTF-8). Without a caller's name the address
    // stands for the sender; a called name that is no NetBIOS name (an address, for a caller
    // that connected by address) means the computer: the message is not lost for either.
    const bool anonymous = *argv[2] == '\0';
    const auto from = protocol::netbios::netbiosName(anonymous ? "-" : argv[2]);
    const auto to = protocol::netbios::netbiosName(argv[3]);
    if (!from)
        return fail(Usage, "not a NetBIOS name: " + shown(argv[2]) + "; " + shown(file) +
                               " left as it is");

    const auto read = readRegularFile(file, MaxFileBytes);
    if (read.problem == FileRead::Problem::NotARecord)
        return fail(NotAMessage, shown(file) + ": " + read.why + "; left as it is");
    if (read.problem != FileRead::Problem::None)
        return fail(Kept, "cannot read " + shown(file) + ": " + read.why + "; kept");
    // smbd 4.17 converts the text from its dos charset to its unix charset (UTF-8 by default)
    // before writing the file; a file that is not UTF-8 comes from a smbd left in the OEM code
    // page.
    const std::string text =
        protocol::oem::isUtf8(read.bytes) ? read.bytes : protocol::oem::toUtf8Lossy(read.bytes);
    const json request = {
        {session::Deliver,
         {{session::field::From, anonymous ? address : protocol::oem::toUtf8Lossy(*from)},
          {session::field::Address, address},
          {session::field::To, to ? protocol::oem::toUtf8Lossy(*to) : ""},
          {session::field::Text, text}}}};
    const std::string line = request.dump() + "\n";

    return deliver(line, address, file, read.file);
}
