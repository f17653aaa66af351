// lanquill-deliver: smbd's `message command` for hosts where smbd holds TCP 139. smbd runs
//   /usr/libexec/lanquill/lanquill-deliver '%I' '%m' '%L' '%s' &
// as its guest account; this hands the message file to lanquilld over session.sock and removes
// the file once lanquilld has it in its spool. It never runs a shell: the arguments are data.
// smbd 4.17 splits that line into arguments itself and passes the `&` on as a last argument.
// %f is not used because smbd turns every byte over 0x7f in it into '_'; the sender is %m/%I,
// and %m comes empty when the caller's name held characters smbd deems unsafe (`;`, `$`, ...).
#include "files/AtomicFile.h"
#include "protocol/Addresses.h"
#include "protocol/NetBios.h"
#include "protocol/OemCodePage.h"
#include "protocol/SessionProtocol.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace lanquill;
namespace session = protocol::session;
using nlohmann::json;

namespace {

constexpr std::size_t MaxFileBytes = 64 * 1024; // smbd caps a message at 1,600 bytes
constexpr int AnswerTimeoutMs = 10000;

int fail(const std::string& why) {
    std::fprintf(stderr, "lanquill-deliver: %s\n", why.c_str());
    return 1;
}

int connectTo(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The first line lanquilld answers, or nullopt on timeout or a closed socket.
std::optional<std::string> readLine(int fd) {
    std::string line;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(AnswerTimeoutMs);
    for (;;) {
        if (const auto end = line.find('\n'); end != std::string::npos)
            return line.substr(0, end);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd entry{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&entry, 1, static_cast<int>(left)) <= 0)
            return std::nullopt;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return std::nullopt;
        line.append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN); // a lanquilld gone mid-write is a failed hand-in, not a kill
    if (argc == 6 && std::strcmp(argv[5], "&") == 0)
        --argc;
    if (argc != 5) {
        std::fputs("usage: lanquill-deliver SENDER-ADDRESS SENDER-NAME CALLED-NAME MESSAGE-FILE\n"
                   "(smbd's message command: lanquill-deliver '%I' '%m' '%L' '%s' &)\n",
                   stderr);
        return 2;
    }
    const std::string address = argv[1];
    const std::string file = argv[4];
    if (!protocol::parseIpv4(address))
        return fail("not an IPv4 address: " +
                    json(address).dump(-1, ' ', false, json::error_handler_t::replace));
    // smbd passes both names in its unix charset (UTF-8). Without a caller's name the address
    // stands for the sender; a called name that is no NetBIOS name (an address, for a caller
    // that connected by address) means the computer: the message is not lost for either.
    const bool anonymous = *argv[2] == '\0';
    const auto from = protocol::netbios::netbiosName(anonymous ? "-" : argv[2]);
    const auto to = protocol::netbios::netbiosName(argv[3]);
    if (!from)
        return fail("not a NetBIOS name: " +
                    json(argv[2]).dump(-1, ' ', false, json::error_handler_t::replace) + "; " +
                    file + " kept");

    std::ifstream in(file, std::ios::binary);
    if (!in)
        return fail("cannot read " + file + ": " + std::strerror(errno));
    std::string fileText;
    fileText.assign(std::istreambuf_iterator<char>(in), {});
    if (fileText.size() > MaxFileBytes)
        return fail(file + " is over 64 KiB: not a message; kept");
    // smbd 4.17 converts the text from its dos charset to its unix charset (UTF-8 by default)
    // before writing the file; a file that is not UTF-8 comes from a smbd left in the OEM code
    // page.
    const std::string text =
        protocol::oem::isUtf8(fileText) ? fileText : protocol::oem::toUtf8Lossy(fileText);

    const std::string socketPath = session::socketPath();
    const int fd = connectTo(socketPath);
    if (fd < 0)
        return fail("lanquilld is not reachable at " + socketPath + " (" + std::strerror(errno) +
                    "); " + file + " kept");
    const json request = {
        {session::Deliver,
         {{session::field::From, anonymous ? address : protocol::oem::toUtf8Lossy(*from)},
          {session::field::Address, address},
          {session::field::To, to ? protocol::oem::toUtf8Lossy(*to) : ""},
          {session::field::Text, text}}}};
    if (!files::writeAll(fd, request.dump() + "\n"))
        return fail("lanquilld closed the session socket; " + file + " kept");
    const auto line = readLine(fd);
    ::close(fd);
    if (!line)
        return fail("no answer from lanquilld; " + file + " kept");
    const json answer = json::parse(*line, nullptr, false);
    if (answer.is_object() && answer.contains(session::Stored)) {
        ::unlink(file.c_str());
        return 0;
    }
    const auto error =
        answer.is_object() && answer.contains(session::Error) && answer[session::Error].is_string()
            ? answer[session::Error].get<std::string>()
            : *line;
    // A refusal (rate, size, off-link sender) is final: the file would only pile up.
    if (error == session::Refused) {
        ::unlink(file.c_str());
        return fail("lanquilld refused the message from " + address + "; " + file + " removed");
    }
    return fail("lanquilld: " + error + "; " + file + " kept");
}
