// The operating-system and network services Lanquill uses, one small interface each (Qt Core at
// most). The program builds the real set once in main() and hands it down; tests hand down fakes
// instead. The desktop's own services (tray, hot key, ...) are in desktop/Desktop.h.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/Bytes.h"
#include "protocol/PresenceRound.h"

namespace lanquill::platform {

using protocol::Ipv4;
using protocol::PresenceTarget;

// An error of the operating system, carrying its code and text.
class SystemError : public std::runtime_error {
public:
    SystemError(int code, const std::string& what) : std::runtime_error(what), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};

// Builds the text of a SystemError for errno value `code` ("System Error.  Code: 2.\n...").
std::string systemErrorText(int code);

class SystemInfo {
public:
    virtual ~SystemInfo() = default;
    // The process's current directory; throws SystemError when it cannot be read.
    virtual std::string currentDirectory() = 0;
    // The host name as gethostname() gives it; empty when it cannot be read.
    virtual std::string hostName() = 0;
    // The computer's name as Windows reports it: the host name without domain, upper case.
    virtual std::string computerName() = 0;
    // Folder of the running program (where lanquill-net lies).
    virtual std::string programDirectory() = 0;
    // The addresses of the IPv4 interfaces that are up, loopback left out, in the system's
    // order; none known unless overridden.
    virtual std::vector<Ipv4> interfaceAddresses() { return {}; }
};

struct HostEntry {
    std::string officialName;
    std::vector<Ipv4> addresses; // at least one for a found host
};

// Name service: the system resolver and NetBIOS on the LAN, the system resolver's answer
// preferred. Every call is bounded (about 1.5 s) and never throws.
class Resolver {
public:
    virtual ~Resolver() = default;
    virtual std::optional<HostEntry> hostByName(const std::string& name) = 0;
    virtual std::optional<HostEntry> hostByAddress(const Ipv4& address) = 0;
    // hostByName for each of `names`, answers in the same order. The real resolver asks for all
    // of them at once and waits once; this default asks one after another.
    virtual std::vector<std::optional<HostEntry>>
    hostsByName(const std::vector<std::string>& names) {
        std::vector<std::optional<HostEntry>> entries;
        entries.reserve(names.size());
        for (const std::string& name : names)
            entries.push_back(hostByName(name));
        return entries;
    }
};

// The adapter (MAC) address of an on-link host, after making the kernel resolve it.
class NeighbourTable {
public:
    virtual ~NeighbourTable() = default;
    // The hardware address bytes (6 for Ethernet); empty when the host did not answer.
    virtual std::vector<std::uint8_t> hardwareAddress(const Ipv4& address) = 0;
};

// The UDP socket on which node-status replies arrive (local port 6767).
class DatagramSocket {
public:
    virtual ~DatagramSocket() = default;
    // What stopped open(), with the system's error code.
    enum class Failure { None, Create, Bind };
    struct Opened {
        Failure failure = Failure::None;
        int error = 0;
    };
    // Creates the socket and binds it to 0.0.0.0:port.
    virtual Opened open(std::uint16_t port) = 0;
    // From now on `onReadable` runs on the GUI thread whenever a datagram is waiting.
    virtual void notifyReadable(std::function<void()> onReadable) = 0;
    // Bytes sent, or -1 on failure.
    virtual long sendTo(const Ipv4& address, std::uint16_t port,
                        std::span<const std::uint8_t> data) = 0;
    // Reads one datagram into `buffer` and its sender's address into `from`: its length, or -1
    // on failure (no datagram waiting, or one longer than the buffer, which is then discarded).
    virtual long receive(std::span<std::uint8_t> buffer, Ipv4& from) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
};

// Result codes of the messenger layer, as NetMessageBufferSend gives them.
namespace messenger {
constexpr std::uint32_t Success = 0;              // NERR_Success
constexpr std::uint32_t InvalidParameter = 87;    // ERROR_INVALID_PARAMETER
constexpr std::uint32_t NameNotFound = 2273;      // NERR_NameNotFound
constexpr std::uint32_t NetworkError = 2136;      // NERR_NetworkError
constexpr std::uint32_t BadTransactConfig = 2141; // server refused the SMB dialect
constexpr std::uint32_t MessageRejected = 2277;   // receiver answered a non-zero status
constexpr std::uint32_t BufferTooSmall = 2123;    // NERR_BufTooSmall: name or text too long
// ERROR_REQ_NOT_ACCEP: the receiver has no session to spare (NetBIOS refusal 0x83); it may take
// the message later.
constexpr std::uint32_t ReceiverBusy = 71;
} // namespace messenger

// A directed pop-up message, as NetMessageBufferSend delivers it.
class Messenger {
public:
    virtual ~Messenger() = default;
    // Sends `text` to the messenger name (or dotted address) `to`; `from` empty means the
    // default sender name. All strings UTF-8. 0 when the receiver accepted every block.
    virtual std::uint32_t send(const std::string& to, const std::string& from,
                               const std::string& text) = 0;
};

// A program word and its arguments, each passed to the program exactly as it is: nothing is
// ever joined into a line and split again, so a blank inside an argument stays there.
struct CommandLine {
    std::string program;                // the program word as written ("net")
    std::vector<std::string> arguments; // argv[1..]
    bool operator==(const CommandLine&) const = default;
};

// How a command run to its end went.
struct CommandResult {
    bool started = false; // false: the program could not be run at all
    int exitCode = -1;    // -1 when it was killed by a signal
    std::string standardError;
};

// Variables set for one child only, over those of the program (a secret the child takes from
// its environment never passes through the program's own).
using ChildEnvironment = std::vector<std::pair<std::string, std::string>>;

// Starts a command detached, without any shell (WinExec).
class CommandRunner {
public:
    virtual ~CommandRunner() = default;
    // Returns true when the program was started.
    virtual bool start(const CommandLine& command) = 0;
    // Runs the command to its end and gives its exit code and what it wrote on stderr. Blocks:
    // the desktop calls it off the GUI thread. A runner that cannot wait runs nothing.
    virtual CommandResult run(const CommandLine& /*command*/,
                              const ChildEnvironment& /*environment*/) {
        return {};
    }
};

// Network-resource enumeration in the manner of WNetOpenEnum / WNetEnumResource.
namespace netenum {
constexpr std::uint32_t NoError = 0;
constexpr std::uint32_t NoMoreItems = 259; // ERROR_NO_MORE_ITEMS
constexpr std::uint32_t InvalidHandle = 6; // ERROR_INVALID_HANDLE
constexpr std::uint32_t BadNetName = 67;   // ERROR_BAD_NET_NAME
constexpr std::uint32_t NoNetwork = 1222;  // ERROR_NO_NETWORK

constexpr std::uint32_t ScopeConnected = 1; // RESOURCE_CONNECTED
constexpr std::uint32_t ScopeGlobalNet = 2; // RESOURCE_GLOBALNET
constexpr std::uint32_t TypeAny = 0;        // RESOURCETYPE_ANY
constexpr std::uint32_t TypeDisk = 1;       // RESOURCETYPE_DISK
constexpr std::uint32_t UsageContainer = 2; // RESOURCEUSAGE_CONTAINER
constexpr std::uint32_t DisplayDomain = 1;  // RESOURCEDISPLAYTYPE_DOMAIN
constexpr std::uint32_t DisplayServer = 2;  // RESOURCEDISPLAYTYPE_SERVER
constexpr std::uint32_t DisplayNetwork = 6; // RESOURCEDISPLAYTYPE_NETWORK
} // namespace netenum

struct NetResource {
    std::uint32_t scope = 0;
    std::uint32_t type = 0;
    std::uint32_t displayType = 0;
    std::uint32_t usage = 0;
    std::string localName;
    std::string remoteName;
    std::string comment;
    std::string provider;
};

class NetworkEnumerator {
public:
    virtual ~NetworkEnumerator() = default;
    using Handle = std::uintptr_t;
    // Opens an enumeration of `container` (nullptr: the top level, whose entries are the
    // providers). NoError and a handle on success.
    virtual std::uint32_t open(std::uint32_t scope, std::uint32_t type, std::uint32_t usage,
                               const NetResource* container, Handle& handle) = 0;
    // Reads the next batch into `entries` (replacing them); NoMoreItems at the end.
    virtual std::uint32_t read(Handle handle, std::vector<NetResource>& entries) = 0;
    virtual std::uint32_t close(Handle handle) = 0;
};

// Which computers are up: one NetBIOS node-status query to each address, one broadcast name
// query for each computer known only by name, the answers collected for a short while (about
// 1 s). It blocks for that while, so the desktop calls it off the GUI thread; it never throws.
class PresenceProber {
public:
    virtual ~PresenceProber() = default;
    // Per target, in the same order: true when it answered.
    virtual std::vector<bool> probe(const std::vector<PresenceTarget>& targets) = 0;
};

// The operating-system and network layers handed down through the program. Pointers, never null
// in a complete set.
struct Platform {
    SystemInfo* system = nullptr;
    Resolver* resolver = nullptr;
    NeighbourTable* neighbours = nullptr;
    DatagramSocket* probeSocket = nullptr;
    Messenger* messenger = nullptr;
    CommandRunner* commands = nullptr;
    NetworkEnumerator* network = nullptr;
    PresenceProber* presence = nullptr;
};

} // namespace lanquill::platform
