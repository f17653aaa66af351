// One stream connection of lanquilld (a TCP 139 session or a session-socket client): a
// non-blocking socket with bounded input and output buffers and an idle deadline of its own.
// A peer that does not read is not fed: reading pauses while its backlog is full, and the
// connection is dropped when the backlog passes its hard bound.
#pragma once

#include "daemon/EventLoop.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace lanquill::daemon {

class Stream {
public:
    struct Limits {
        std::size_t input = 64 * 1024;        // unconsumed input past this closes the stream
        std::size_t pauseReading = 64 * 1024; // backlog at which reading pauses
        std::size_t output = 1024 * 1024;     // backlog past this closes the stream
        Clock::duration idle = Clock::duration::zero(); // zero: no idle deadline
    };
    // New input is in input(); the consumer takes what it can use from the front.
    using OnInput = std::function<void(Stream&)>;
    // The stream ended (peer gone, an error, a bound, the deadline, or close()). Called from a
    // later turn of the loop, so the owner may destroy the stream there.
    using OnClosed = std::function<void(Stream&)>;

    // The backlog has gone out: more may be queued without holding memory for a slow reader.
    void onDrained(std::function<void(Stream&)> drained) { onDrained_ = std::move(drained); }

    // Takes ownership of the connected, non-blocking `fd`.
    Stream(EventLoop& loop, int fd, Limits limits, OnInput onInput, OnClosed onClosed);
    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    int fd() const { return fd_; }
    bool open() const { return fd_ >= 0; }
    std::string& input() { return input_; }
    std::size_t backlog() const { return output_.size(); }

    // Queues `data` and sends what the peer takes now.
    void send(std::string_view data);
    // Moves the idle deadline to now + the idle limit.
    void touch();
    // A new idle limit, counted from now.
    void setIdleLimit(Clock::duration idle);
    // Sends what the peer takes now, then closes.
    void close();

private:
    void onEvents(std::uint32_t events);
    void readSome();
    void flush();
    void updateInterest();
    void armIdleTimer();
    void end();

    EventLoop& loop_;
    int fd_;
    Limits limits_;
    OnInput onInput_;
    OnClosed onClosed_;
    std::function<void(Stream&)> onDrained_;
    std::string input_;
    std::string output_;
    std::uint32_t interest_ = 0;
    TimePoint idleDeadline_{};
    TimePoint armedFor_{};
    EventLoop::TimerId idleTimer_ = 0;
    EventLoop::TimerId closedCall_ = 0;
};

} // namespace lanquill::daemon
