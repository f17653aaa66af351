// The one loop every service of lanquilld runs on: descriptors, timers and signals. Every
// system call it makes is checked here; a failure that leaves the loop unable to serve throws.
// Time comes from a clock the loop is given, so tests can move it on.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>

namespace lanquill::daemon {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

class EventLoop {
public:
    using Handler = std::function<void(std::uint32_t events)>;
    using Now = std::function<TimePoint()>;
    using TimerId = std::uint64_t;

    explicit EventLoop(Now now = &Clock::now);
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    TimePoint now() const { return now_(); }

    // Epoll events (EPOLLIN, EPOLLOUT) for `fd`; the loop does not own the descriptor. A
    // handler may unwatch its own descriptor, or any other.
    void watch(int fd, std::uint32_t events, Handler handler);
    void modify(int fd, std::uint32_t events);
    void unwatch(int fd);
    bool watching(int fd) const { return handlers_.contains(fd); }

    // Runs `callback` once the clock reaches `when`; the id cancels it.
    TimerId at(TimePoint when, std::function<void()> callback);
    TimerId after(Clock::duration delay, std::function<void()> callback) {
        return at(now() + delay, std::move(callback));
    }
    void cancel(TimerId id);

    // Blocks the signals and calls `handler` with each one as it arrives.
    void onSignals(std::initializer_list<int> signals, std::function<void(int)> handler);

    // One turn: waits for descriptors at most `longest` (less when a timer is due sooner; zero
    // does not wait), handles what came, then runs the timers that are due.
    void turn(std::chrono::milliseconds longest);
    // Turns until stop().
    void run();
    void stop() { stopping_ = true; }
    bool stopping() const { return stopping_; }

private:
    void runDueTimers();

    Now now_;
    int epoll_ = -1;
    int signals_ = -1;
    bool stopping_ = false;
    std::map<int, std::shared_ptr<Handler>> handlers_;
    std::multimap<TimePoint, TimerId> timers_;
    std::map<TimerId, std::function<void()>> timerCallbacks_;
    TimerId nextTimer_ = 1;
};

// Throws std::system_error naming `what` when a system call returned a negative result.
int checked(int result, const char* what);

// Makes a descriptor non-blocking; throws when it cannot.
void setNonBlocking(int fd);

} // namespace lanquill::daemon
