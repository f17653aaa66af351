// Waiting on one descriptor with a deadline, for code that blocks on purpose (a tool, a worker
// thread). Header only: any library may use it without linking this one.
#pragma once

#include <cerrno>
#include <chrono>
#include <poll.h>

namespace lanquill::files {

// Waits until `fd` is ready for `events` (POLLIN, POLLOUT) or the steady clock reaches
// `deadline`. A signal does not end the wait: it goes on for the time left. True when the
// descriptor is ready, hung up or in error (the next read or write tells which); false at the
// deadline or when poll itself fails.
inline bool waitUntil(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        // Rounded up, so that the wait never ends short of the deadline.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return false;
        pollfd entry{fd, events, 0};
        const int ready =
            ::poll(&entry, 1, left > 0x7fffffff ? 0x7fffffff : static_cast<int>(left));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

} // namespace lanquill::files
