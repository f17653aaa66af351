// Messages to Windows 10/11 desktops, which have no messenger service: the Terminal Services
// call that puts a message box on a session (RpcShowMessageBox, or RpcWinStationSendMessage on
// older systems), as DCE/RPC over the SMB2/3 named pipes of IPC$ on TCP 445.
//
// The pipes are opened as files through libsmbclient, and the DCE/RPC PDUs are this program's
// own (protocol/DceRpc.h). Samba's client RPC library would add RPC-level authentication and
// sealing, but it has no stable ABI and brings a large dependency; on this path the SMB session
// itself is authenticated (NTLMv2) and SMB3 signing or encryption still protect the calls.
#pragma once

#include "platform/Platform.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lanquill::platform {

enum class WindowsError {
    None,
    UnknownComputer,  // the name lookup failed
    CannotConnect,    // refused, unreachable, or the deadline passed while connecting
    LogonRefused,     // the user name or password
    AccessDenied,     // the account may not send messages there
    RemoteNotAllowed, // neither pipe is there: AllowRemoteRPC is not set
    NoSuchSession,
    Fault,   // any other fault or failing status, in `code`
    Timeout, // no answer within the deadline
    Cancelled,
    BadText,        // the title or text is not UTF-8
    ConnectionLost, // the pipe broke off in the middle of a call
    SenderKilled,   // the sending child died of the signal in `code`
    SenderFailed,   // the sending child ended without an answer; its exit status in `code`
};

struct WindowsOutcome {
    WindowsError error = WindowsError::None;
    std::uint32_t code = 0;    // the fault or status of a Fault
    std::uint32_t session = 0; // the session the message went to
    bool legacy = false;       // sent through IcaApi rather than TermSrvSession
    // What the target said that was not expected, although it did not stop the send.
    std::vector<std::string> notes;
};

// One open named pipe of the target, in message mode.
class MessagePipe {
public:
    virtual ~MessagePipe() = default;
    virtual bool write(std::span<const std::uint8_t> data) = 0;
    // Reads exactly `data.size()` bytes.
    virtual bool read(std::span<std::uint8_t> data) = 0;
};

// Opens the target's pipes; on failure says why (CannotConnect, LogonRefused, AccessDenied, or
// RemoteNotAllowed for a pipe that is not there).
class PipeOpener {
public:
    virtual ~PipeOpener() = default;
    struct Opened {
        std::unique_ptr<MessagePipe> pipe;
        WindowsError error = WindowsError::None;
    };
    virtual Opened open(std::string_view pipeName) = 0;
};

struct WindowsMessage {
    std::string title;
    std::string text;
    std::optional<std::uint32_t> session; // else the active console session, else 1
};

// The calls of one send, over pipes from `opener`: the session lookup, then the message box
// through TermSrvSession, or through IcaApi where the target does not offer it.
WindowsOutcome deliverToWindows(PipeOpener& opener, const WindowsMessage& message);

// What the sending child reported (`report`, its lines as written) and how it ended
// (`waitStatus`, as waitpid gives it), for a child that was neither cancelled nor timed out.
WindowsOutcome childOutcome(const std::string& report, int waitStatus);

// The account a send logs on with. The password stays in memory; it is never logged.
struct WindowsAccount {
    std::string domain; // empty: the one libsmbclient's configuration gives
    std::string user;
    std::string password;
};

// "DOMAIN\USER" or "USER".
WindowsAccount parseAccount(std::string_view account);

class WindowsMessenger {
public:
    struct Options {
        std::uint16_t port = 445;
        // The whole send, name lookup included.
        std::chrono::milliseconds deadline{10000};
        // Becomes readable to cancel the send (a signal handler writes to it); -1: none.
        int cancelFd = -1;
    };

    explicit WindowsMessenger(Resolver& resolver) : WindowsMessenger(resolver, Options{}) {}
    WindowsMessenger(Resolver& resolver, Options options)
        : resolver_(resolver), options_(options) {}

    // Resolves `computer` (a NetBIOS name or a dotted address) and delivers. The SMB work runs
    // in a child process, so that the deadline and a cancellation end it wherever it waits.
    WindowsOutcome send(const std::string& computer, const WindowsAccount& account,
                        const WindowsMessage& message);

private:
    Resolver& resolver_;
    Options options_;
};

} // namespace lanquill::platform
