#include "daemon/EventLoop.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <system_error>
#include <unistd.h>

namespace lanquill::daemon {

int checked(int result, const char* what) {
    if (result < 0)
        throw std::system_error(errno, std::generic_category(), what);
    return result;
}

void setNonBlocking(int fd) {
    const int flags = checked(::fcntl(fd, F_GETFL), "fcntl(F_GETFL)");
    checked(::fcntl(fd, F_SETFL, flags | O_NONBLOCK), "fcntl(F_SETFL, O_NONBLOCK)");
}

EventLoop::EventLoop(Now now)
    : now_(std::move(now)), epoll_(checked(::epoll_create1(EPOLL_CLOEXEC), "epoll_create1")) {}

EventLoop::~EventLoop() {
    if (signals_ >= 0)
        ::close(signals_);
    ::close(epoll_);
}

void EventLoop::watch(int fd, std::uint32_t events, Handler handler) {
    epoll_event event{};
    event.events = events;
    event.data.fd = fd;
    checked(::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event), "epoll_ctl(ADD)");
    handlers_[fd] = std::make_shared<Handler>(std::move(handler));
}

void EventLoop::modify(int fd, std::uint32_t events) {
    epoll_event event{};
    event.events = events;
    event.data.fd = fd;
    checked(::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event), "epoll_ctl(MOD)");
}

void EventLoop::unwatch(int fd) {
    if (handlers_.erase(fd) == 0)
        return;
    // A descriptor closed elsewhere has already left the epoll set: nothing to undo then.
    if (::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr) != 0 && errno != EBADF && errno != ENOENT)
        throw std::system_error(errno, std::generic_category(), "epoll_ctl(DEL)");
}

EventLoop::TimerId EventLoop::at(TimePoint when, std::function<void()> callback) {
    const TimerId id = nextTimer_++;
    timers_.emplace(when, id);
    timerCallbacks_.emplace(id, std::move(callback));
    return id;
}

void EventLoop::cancel(TimerId id) {
    timerCallbacks_.erase(id); // its entry in timers_ is skipped when it comes due
}

void EventLoop::onSignals(std::initializer_list<int> signals, std::function<void(int)> handler) {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : signals)
        sigaddset(&set, signal);
    checked(::sigprocmask(SIG_BLOCK, &set, nullptr), "sigprocmask");
    signals_ = checked(::signalfd(signals_, &set, SFD_NONBLOCK | SFD_CLOEXEC), "signalfd");
    const int fd = signals_;
    watch(fd, EPOLLIN, [fd, handler = std::move(handler)](std::uint32_t) {
        signalfd_siginfo info{};
        while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            handler(static_cast<int>(info.ssi_signo));
    });
}

void EventLoop::runDueTimers() {
    const TimePoint current = now();
    while (!timers_.empty() && timers_.begin()->first <= current) {
        const TimerId id = timers_.begin()->second;
        timers_.erase(timers_.begin());
        const auto callback = timerCallbacks_.find(id);
        if (callback == timerCallbacks_.end())
            continue;
        const auto call = std::move(callback->second);
        timerCallbacks_.erase(callback);
        call();
    }
}

void EventLoop::turn(std::chrono::milliseconds longest) {
    while (!timers_.empty() && !timerCallbacks_.contains(timers_.begin()->second))
        timers_.erase(timers_.begin());
    auto wait = longest;
    if (!timers_.empty()) {
        const auto due =
            std::chrono::ceil<std::chrono::milliseconds>(timers_.begin()->first - now());
        wait = std::clamp(due, std::chrono::milliseconds(0), longest);
    }
    epoll_event events[64];
    const int n = ::epoll_wait(epoll_, events, 64, static_cast<int>(wait.count()));
    if (n < 0 && errno != EINTR)
        throw std::system_error(errno, std::generic_category(), "epoll_wait");
    for (int i = 0; i < n; ++i) {
        const auto handler = handlers_.find(events[i].data.fd);
        if (handler == handlers_.end())
            continue;
        const auto keep = handler->second; // the handler may unwatch itself
        (*keep)(events[i].events);
    }
    runDueTimers();
}

void EventLoop::run() {
    while (!stopping_)
        turn(std::chrono::milliseconds(60000));
}

} // namespace lanquill::daemon
