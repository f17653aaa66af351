#include "daemon/Listener.h"

#include "daemon/Log.h"

#include <cerrno>
#include <cstring>
#include <sys/epoll.h>

namespace lanquill::daemon {

Listener::Listener(EventLoop& loop, std::string what, Accepted accepted)
    : loop_(loop), what_(std::move(what)), accepted_(std::move(accepted)) {}

void Listener::listen(int fd) {
    setNonBlocking(fd);
    fd_ = fd;
    watch();
}

void Listener::stop() {
    loop_.cancel(pause_);
    pause_ = 0;
    if (fd_ >= 0)
        loop_.unwatch(fd_);
    fd_ = -1;
}

void Listener::watch() {
    loop_.watch(fd_, EPOLLIN, [this](std::uint32_t) { acceptAll(); });
}

void Listener::acceptAll() {
    for (;;) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0 && (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)) {
            log(Priority::Warning,
                what_ + ": " + std::strerror(errno) + ": not accepting for a second");
            loop_.unwatch(fd_);
            pause_ = loop_.after(PauseWhenOutOfDescriptors, [this] {
                pause_ = 0;
                watch();
            });
            return;
        }
        if (fd < 0)
            return;
        accepted_(fd, peer);
    }
}

} // namespace lanquill::daemon
