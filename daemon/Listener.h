// A listening socket on the loop: every connection waiting is accepted and handed on. Out of
// descriptors, the connection left waiting would wake the loop again at once; the listener stops
// listening for a moment instead of spinning.
#pragma once

#include "daemon/EventLoop.h"

#include <functional>
#include <string>
#include <sys/socket.h>

namespace lanquill::daemon {

class Listener {
public:
    static constexpr auto PauseWhenOutOfDescriptors = std::chrono::seconds(1);
    // A connected, non-blocking descriptor, now the callee's, and the peer's address.
    using Accepted = std::function<void(int fd, const sockaddr_storage& peer)>;

    // `what` names the socket in the log.
    Listener(EventLoop& loop, std::string what, Accepted accepted);
    ~Listener() { stop(); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Accepts from `fd` (made non-blocking), which stays the caller's to close after stop().
    void listen(int fd);
    void stop();

private:
    void acceptAll();
    void watch();

    EventLoop& loop_;
    std::string what_;
    Accepted accepted_;
    int fd_ = -1;
    EventLoop::TimerId pause_ = 0;
};

} // namespace lanquill::daemon
