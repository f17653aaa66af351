// Writes all of a buffer to a descriptor (a file or a socket), across short writes and signals.
#pragma once

#include <cerrno>
#include <string_view>
#include <unistd.h>

namespace lanquill::daemon {

// False when the descriptor refuses more (an error, or nothing written); on a socket the
// caller ignores SIGPIPE.
inline bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace lanquill::daemon
