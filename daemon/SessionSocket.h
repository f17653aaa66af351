// Where desktop sessions and lanquill-deliver find lanquilld's session socket.
#pragma once

#include <cstdlib>
#include <string>

namespace lanquill::daemon {

inline std::string sessionSocketPath() {
    const char* path = std::getenv("LANQUILL_SESSION_SOCKET");
    return path && *path ? path : "/run/lanquill/session.sock";
}

} // namespace lanquill::daemon
