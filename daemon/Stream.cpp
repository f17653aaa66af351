#include "daemon/Stream.h"

#include <cerrno>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lanquill::daemon {

namespace {
constexpr std::size_t ReadChunk = 4096;
}

Stream::Stream(EventLoop& loop, int fd, Limits limits, OnInput onInput, OnClosed onClosed)
    : loop_(loop), fd_(fd), limits_(limits), onInput_(std::move(onInput)),
      onClosed_(std::move(onClosed)) {
    interest_ = EPOLLIN;
    loop_.watch(fd_, interest_, [this](std::uint32_t events) { onEvents(events); });
    touch();
}

Stream::~Stream() {
    loop_.cancel(idleTimer_);
    loop_.cancel(closedCall_);
    if (fd_ >= 0) {
        loop_.unwatch(fd_);
        ::close(fd_);
    }
}

void Stream::onEvents(std::uint32_t events) {
    if (events & EPOLLOUT) {
        flush();
        if (output_.empty() && onDrained_)
            onDrained_(*this);
    }
    if (fd_ >= 0 && (events & (EPOLLIN | EPOLLHUP | EPOLLERR)))
        readSome();
}

void Stream::readSome() {
    char buffer[ReadChunk];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        end();
        return;
    }
    if (n < 0)
        return;
    input_.append(buffer, static_cast<std::size_t>(n));
    onInput_(*this);
    if (fd_ >= 0 && input_.size() > limits_.input)
        end();
}

void Stream::send(std::string_view data) {
    if (fd_ < 0)
        return;
    output_.append(data);
    flush();
    if (fd_ >= 0 && output_.size() > limits_.output)
        end();
}

void Stream::flush() {
    while (!output_.empty()) {
        const ssize_t n = ::send(fd_, output_.data(), output_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        output_.erase(0, static_cast<std::size_t>(n));
    }
    updateInterest();
}

void Stream::updateInterest() {
    std::uint32_t wanted = output_.empty() ? 0u : std::uint32_t{EPOLLOUT};
    if (output_.size() < limits_.pauseReading)
        wanted |= EPOLLIN;
    if (wanted != interest_) {
        interest_ = wanted;
        loop_.modify(fd_, wanted);
    }
}

void Stream::touch() {
    if (limits_.idle == Clock::duration::zero())
        return;
    idleDeadline_ = loop_.now() + limits_.idle;
    if (idleTimer_ != 0 && idleDeadline_ < armedFor_) {
        loop_.cancel(idleTimer_);
        idleTimer_ = 0;
    }
    if (idleTimer_ == 0)
        armIdleTimer();
}

void Stream::setIdleLimit(Clock::duration idle) {
    limits_.idle = idle;
    touch();
}

void Stream::armIdleTimer() {
    armedFor_ = idleDeadline_;
    idleTimer_ = loop_.at(idleDeadline_, [this] {
        idleTimer_ = 0;
        if (fd_ < 0)
            return;
        if (loop_.now() >= idleDeadline_)
            end();
        else
            armIdleTimer(); // touched since: wait for the new deadline
    });
}

void Stream::close() {
    if (fd_ < 0)
        return;
    flush();
    end();
}

void Stream::end() {
    if (fd_ < 0)
        return;
    loop_.unwatch(fd_);
    ::close(fd_);
    fd_ = -1;
    loop_.cancel(idleTimer_);
    idleTimer_ = 0;
    closedCall_ = loop_.after(Clock::duration::zero(), [this] {
        closedCall_ = 0;
        onClosed_(*this);
    });
}

} // namespace lanquill::daemon
