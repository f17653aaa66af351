// lanquilld: receives pop-up messages for this computer and its desktop users. Its sockets come
// from systemd's socket units (LISTEN_FDS), or with --listen it binds them itself (root or
// cap_net_bind_service on this program only).
#include "daemon/Daemon.h"
#include "daemon/Log.h"
#include "platform/WinsServer.h"
#include "protocol/Addresses.h"
#include "protocol/NetBios.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace lanquill;
using daemon::log;
using daemon::Priority;

namespace {

constexpr int FirstPassedFd = 3; // SD_LISTEN_FDS_START

void usage() {
    std::fputs("usage: lanquilld [--listen] [--name NAME] [--workgroup WORKGROUP] "
               "[--allow-off-link] [--allow-from CIDR]... [--per-minute N] "
               "[--wins ADDRESS|none]\n",
               stderr);
}

std::string env(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

// systemd's RuntimeDirectory= and StateDirectory= may list several folders: the first counts.
std::string firstFolder(const std::string& list) {
    return list.substr(0, list.find(':'));
}

int boundSocket(int type, std::uint16_t port, std::string& error) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (type == SOCK_DGRAM)
        ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, 64) != 0)) {
        error = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

// The sockets systemd passed, told apart by type and port.
bool takePassedSockets(daemon::Config& config) {
    const char* pid = std::getenv("LISTEN_PID");
    const char* fds = std::getenv("LISTEN_FDS");
    if (!pid || !fds || std::strtol(pid, nullptr, 10) != ::getpid())
        return false;
    const long count = std::strtol(fds, nullptr, 10);
    for (int fd = FirstPassedFd; fd < FirstPassedFd + count && fd < 64; ++fd) {
        int type = 0;
        socklen_t length = sizeof type;
        sockaddr_in address{};
        socklen_t addressLength = sizeof address;
        if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &addressLength) != 0 ||
            address.sin_family != AF_INET)
            continue;
        const std::uint16_t port = ntohs(address.sin_port);
        if (type == SOCK_DGRAM && port == protocol::netbios::NameServicePort)
            config.nameSocket = fd;
        else if (type == SOCK_DGRAM && port == protocol::netbios::DatagramPort)
            config.datagramSocket = fd;
        else if (type == SOCK_STREAM && port == protocol::netbios::SessionPort)
            config.sessionSocket = fd;
    }
    ::unsetenv("LISTEN_PID");
    ::unsetenv("LISTEN_FDS");
    ::unsetenv("LISTEN_FDNAMES");
    if (config.sessionSocket < 0)
        config.no139Reason = "no TCP 139 socket was passed";
    return true;
}

struct Options {
    bool listen = false;
    std::string name;
    std::string workgroup = "WORKGROUP";
    bool winsGiven = false; // --wins overrides the WINS server of smb.conf
};

// The command line into `options` and `config`; false on anything it does not know.
bool parseArguments(int argc, char** argv, Options& options, daemon::Config& config) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--listen") {
            options.listen = true;
        } else if (arg == "--allow-off-link") {
            config.allowOffLink = true;
        } else if (arg == "--per-minute" && i + 1 < argc) {
            char* end = nullptr;
            const unsigned long count = std::strtoul(argv[++i], &end, 10);
            if (*argv[i] == '\0' || *end != '\0' || count > 100000)
                return false;
            config.messagesPerMinute = count;
        } else if (arg == "--allow-from" && i + 1 < argc) {
            // A.B.C.D/N: the address with its host bits as given; only the prefix is compared.
            const std::string value = argv[++i];
            const auto slash = value.find('/');
            const auto address = protocol::parseIpv4(value.substr(0, slash));
            if (slash == std::string::npos || !address || slash + 1 >= value.size() ||
                value.size() - slash - 1 > 2 ||
                value.find_first_not_of("0123456789", slash + 1) != std::string::npos)
                return false;
            const int prefix = std::stoi(value.substr(slash + 1));
            if (prefix > 32)
                return false;
            config.allowFrom.emplace_back(*address, prefix);
        } else if (arg == "--wins" && i + 1 < argc && !options.winsGiven) {
            const std::string value = argv[++i];
            const auto address = protocol::parseIpv4(value);
            if (value != "none" && !(address && protocol::isHostAddress(*address)))
                return false;
            config.winsServer = value == "none" ? std::nullopt : address;
            options.winsGiven = true;
        } else if ((arg == "--name" || arg == "--workgroup") && i + 1 < argc) {
            (arg == "--name" ? options.name : options.workgroup) = argv[++i];
        } else {
            return false;
        }
    }
    return true;
}

// UDP 137, 138 and TCP 139 bound here (--listen); the exit status on failure.
std::optional<int> bindSockets(daemon::Config& config) {
    std::string error;
    config.nameSocket = boundSocket(SOCK_DGRAM, protocol::netbios::NameServicePort, error);
    config.datagramSocket = config.nameSocket < 0
                                ? -1
                                : boundSocket(SOCK_DGRAM, protocol::netbios::DatagramPort, error);
    if (config.nameSocket < 0 || config.datagramSocket < 0) {
        log(Priority::Error, "cannot bind UDP 137/138: " + error);
        return 1;
    }
    config.sessionSocket = boundSocket(SOCK_STREAM, protocol::netbios::SessionPort, error);
    if (config.sessionSocket < 0)
        config.no139Reason = "port 139: " + error + " (held by Samba's smbd?)";
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    daemon::Config config;
    Options options;
    if (!parseArguments(argc, argv, options, config)) {
        usage();
        return 2;
    }
    if (options.name.empty()) {
        char host[256] = {};
        ::gethostname(host, sizeof host - 1);
        options.name = protocol::netbios::hostNameToNetbiosName(host).value_or("");
    }
    const auto computer = protocol::netbios::netbiosName(options.name);
    const auto group = protocol::netbios::netbiosName(options.workgroup);
    if (!computer || !group) {
        log(Priority::Error,
            "not a NetBIOS name: " + (computer ? options.workgroup : options.name));
        return 2;
    }
    if (!options.winsGiven)
        config.winsServer = platform::configuredWinsServer();
    config.computer = *computer;
    config.workgroup = *group;
    config.runtimeFolder = firstFolder(env("RUNTIME_DIRECTORY", "/run/lanquill"));
    config.stateFolder = firstFolder(env("STATE_DIRECTORY", "/var/lib/lanquill"));
    // The spool is private to lanquilld: with --listen as root nobody else may list it.
    std::error_code ignored;
    std::filesystem::create_directories(config.stateFolder, ignored);
    ::chmod(config.stateFolder.c_str(), 0700);

    if (!takePassedSockets(config)) {
        if (!options.listen) {
            log(Priority::Error, "no sockets: start lanquilld through its socket units, or with "
                                 "--listen to bind UDP 137, 138 and TCP 139 itself");
            return 2;
        }
        if (const auto failed = bindSockets(config))
            return *failed;
    }
    if (config.nameSocket < 0 || config.datagramSocket < 0) {
        log(Priority::Error, "the UDP 137 and 138 sockets are both needed");
        return 2;
    }
    try {
        daemon::Daemon receiver(std::move(config));
        return receiver.run();
    } catch (const std::exception& error) {
        log(Priority::Error, error.what());
        return 1;
    }
}
