// lanquilld: small services on one event loop. The name service (UDP 137), the datagram service
// (UDP 138), the messenger service (TCP 139), and the client hub (the session socket that hands
// messages to desktop sessions) share admission (who may send) and delivery (spool, then
// hand-out). One thread runs them all, and every socket is non-blocking; only the walk of the
// accounts runs on a worker (Accounts.h), as a directory can take seconds to answer.
#pragma once

#include "daemon/EventLoop.h"
#include "protocol/Bytes.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lanquill::daemon {

struct Config {
    std::string computer;  // OEM NetBIOS name
    std::string workgroup; // OEM NetBIOS name
    std::filesystem::path runtimeFolder;
    std::filesystem::path stateFolder;
    bool allowOffLink = false;
    std::optional<protocol::Ipv4> winsServer;              // node type H with one, B without
    std::vector<std::pair<protocol::Ipv4, int>> allowFrom; // --allow-from networks (prefix)
    std::size_t messagesPerMinute = 20;                    // per sender address; 0: no limit
    int nameSocket = -1;                                   // UDP 137
    int datagramSocket = -1;                               // UDP 138
    int sessionSocket = -1; // TCP 139, listening; -1 where smbd holds the port
    std::string no139Reason;
};

class Daemon {
public:
    explicit Daemon(Config config);
    ~Daemon();
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;
    // Runs until SIGTERM or SIGINT; the exit status.
    int run();

private:
    struct Services;
    std::unique_ptr<Services> services_;
};

} // namespace lanquill::daemon
