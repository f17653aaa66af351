// `lanquill-net send --windows`: a message box on a Windows 10/11 desktop, which has no
// messenger service, through the Terminal Services call an administrator's account may make.
#include "platform/DesktopKeyring.h"
#include "platform/NameService.h"
#include "platform/SmbNetworkEnumerator.h"
#include "platform/WindowsMessenger.h"
#include "protocol/Addresses.h"
#include "protocol/NetBios.h"
#include "protocol/OemCodePage.h"
#include "protocol/TermSrv.h"
#include "tools/Commands.h"
#include "tools/Texts.h"
#include "tools/WinsOption.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace lanquill::tools {

namespace {

constexpr std::size_t MaxCharacters = 1000;

int usageWindows() {
    std::fputs(say("usage: lanquill-net send --windows --user [DOMAIN\\]USER [--session N] "
                   "COMPUTER text\n"),
               stderr);
    return ExitUsage;
}

void fail(const std::string& computer, const std::string& reason) {
    std::fprintf(stderr, say("lanquill-net: %s: %s\n"), protocol::oem::printable(computer).c_str(),
                 reason.c_str());
}

std::size_t codePoints(const std::string& utf8) {
    std::size_t count = 0;
    for (const char c : utf8)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return count;
}

std::optional<std::uint32_t> sessionNumber(std::string_view text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != text.npos)
        return std::nullopt;
    return static_cast<std::uint32_t>(std::strtoul(std::string(text).c_str(), nullptr, 10));
}

// The password without echo, from the terminal on standard input; nullopt when there is none.
std::optional<std::string> askPassword(const std::string& user) {
    if (!::isatty(STDIN_FILENO))
        return std::nullopt;
    std::fprintf(stderr, say("Password for %s: "), user.c_str());
    std::fflush(stderr);
    termios saved{};
    const bool quiet = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        silent.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
    std::string password;
    bool ended = false;
    for (char c = 0; !ended;) {
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0 || c == '\n')
            ended = true;
        else
            password.push_back(c);
    }
    if (quiet)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    return password;
}

// SIGINT and SIGTERM cancel the send: the handler only writes to this pipe.
int cancelPipe[2] = {-1, -1};

void onSignal(int) {
    const int saved = errno;
    const char byte = 1;
    if (::write(cancelPipe[1], &byte, 1) < 0) {
        // Nothing to do: the pipe is full, so the send is already cancelled.
    }
    errno = saved;
}

void watchSignals() {
    if (::pipe2(cancelPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

std::string reasonText(const platform::WindowsOutcome& outcome) {
    using E = platform::WindowsError;
    switch (outcome.error) {
    case E::None:
        break;
    case E::UnknownComputer:
        return say("the computer is not known on the network");
    case E::CannotConnect:
        return say("cannot connect to the computer (TCP 445)");
    case E::LogonRefused:
        return say("the logon was refused (user name or password)");
    case E::AccessDenied:
        return say("access denied: the account may not send messages there");
    case E::RemoteNotAllowed:
        return say("the computer does not take remote messages (AllowRemoteRPC is not set)");
    case E::NoSuchSession:
        return say("no such session on the computer");
    case E::Timeout:
        return say("no answer within 10 seconds");
    case E::Cancelled:
        return say("the send was cancelled");
    case E::BadText:
        return say("the name or text holds characters that cannot be sent");
    case E::ConnectionLost:
        return say("the connection to the computer broke off before it answered");
    case E::SenderKilled:
    case E::SenderFailed: {
        char text[128];
        std::snprintf(text, sizeof text,
                      outcome.error == E::SenderKilled
                          ? say("the sending process failed (killed by signal %u)")
                          : say("the sending process failed (exit status %u)"),
                      static_cast<unsigned>(outcome.code));
        return text;
    }
    case E::Fault:
        break;
    }
    char text[128];
    std::snprintf(text, sizeof text, say("the computer answered with fault 0x%08X"),
                  static_cast<unsigned>(outcome.code));
    return text;
}

} // namespace

int runWindowsSend(int argc, char** argv) {
    // argv[2] is --windows; options up to the computer, in any order.
    std::optional<std::string> user;
    std::optional<std::uint32_t> session;
    int at = 3;
    while (at < argc) {
        const std::string_view word = argv[at];
        const auto value = [&](std::string_view option) -> std::optional<std::string> {
            if (word == option && at + 1 < argc) {
                at += 2;
                return std::string(argv[at - 1]);
            }
            if (word.size() > option.size() && word.starts_with(option) &&
                word[option.size()] == '=') {
                at += 1;
                return std::string(word.substr(option.size() + 1));
            }
            return std::nullopt;
        };
        if (word == "--") {
            ++at;
            break;
        }
        if (word == "--user" || word.starts_with("--user=")) {
            user = value("--user");
            if (!user || user->empty() || user->back() == '\\')
                return usageWindows();
        } else if (word == "--session" || word.starts_with("--session=")) {
            const auto number = value("--session");
            session = number ? sessionNumber(*number) : std::nullopt;
            if (!session) {
                std::fputs(say("lanquill-net: --session wants a session number\n"), stderr);
                return usageWindows();
            }
        } else if (word.starts_with("--")) {
            return usageWindows();
        } else {
            break;
        }
    }
    if (!user) {
        std::fputs(say("lanquill-net: --windows wants --user [DOMAIN\\]USER\n"), stderr);
        return usageWindows();
    }
    if (at + 1 >= argc)
        return usageWindows();
    const std::string computer = argv[at];
    if (!protocol::parseIpv4(computer) &&
        !protocol::netbios::isNetbiosName(computer, protocol::netbios::NameUse::Peer)) {
        std::fprintf(stderr, say("lanquill-net: \"%s\" cannot be a computer name\n"),
                     protocol::oem::printable(computer).c_str());
        return usageWindows();
    }
    std::string text;
    for (int i = at + 1; i < argc; ++i)
        text += (i > at + 1 ? " " : "") + std::string(argv[i]);
    if (text.find_first_not_of(" \t\r\n\v\f") == std::string::npos) {
        std::fputs(say("lanquill-net: there is no text to send: give it after the recipient\n"),
                   stderr);
        return usageWindows();
    }
    if (!protocol::termsrv::toUtf16(text)) {
        fail(computer, say("the name or text holds characters that cannot be sent"));
        return usageWindows();
    }
    if (codePoints(text) > MaxCharacters) {
        std::fprintf(stderr, say("lanquill-net: the text is longer than %zu characters\n"),
                     MaxCharacters);
        return usageWindows();
    }

    auto account = platform::parseAccount(*user);
    // A process that holds a password leaves no core file, and keeps no copy of it in the
    // environment that its children inherit and /proc shows.
    ::prctl(PR_SET_DUMPABLE, 0);
    if (char* password = std::getenv("PASSWD"); password != nullptr) {
        account.password = password;
        std::memset(password, 0, std::strlen(password));
        ::unsetenv("PASSWD");
    } else if (auto kept = platform::keyringPassword("Lanquill", "windows/" + *user)) {
        // Where the desktop program keeps it: the account exactly as typed.
        account.password = std::move(*kept);
    } else if (auto typed = askPassword(account.user)) {
        account.password = std::move(*typed);
    } else {
        fail(computer, say("no password: set PASSWD, or run the command on a terminal"));
        return ExitFailed;
    }

    watchSignals();
    auto resolver = commandResolver();
    platform::WindowsMessenger::Options options;
    options.cancelFd = cancelPipe[0];
    platform::WindowsMessenger messenger(resolver, options);
    const std::string sender = protocol::netbios::displayName(platform::ownNetbiosName());
    char title[256];
    std::snprintf(title, sizeof title, say("Message from %s"), sender.c_str());
    platform::WindowsMessage message{title, text, session};
    const auto outcome = messenger.send(computer, account, message);
    // What the target said beyond the expected, for whoever captures a first real exchange.
    if (const char* debug = std::getenv("LANQUILL_NET_DEBUG"); debug != nullptr && *debug != '\0')
        for (const auto& note : outcome.notes)
            std::fprintf(stderr, "lanquill-net: %s: %s\n",
                         protocol::oem::printable(computer).c_str(), note.c_str());
    if (outcome.error != platform::WindowsError::None) {
        fail(computer, reasonText(outcome));
        return ExitFailed;
    }
    std::printf(say("message shown on %s (session %u)\n"),
                protocol::oem::printable(computer).c_str(), static_cast<unsigned>(outcome.session));
    return ExitOk;
}

} // namespace lanquill::tools
