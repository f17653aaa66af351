// Log lines for the journal: stderr with sd-daemon priority prefixes, one line each. Text from
// the wire (names, addresses a peer chose) cannot start a second line or carry a terminal escape:
// every control character is shown as \xNN, and a line is cut at a bound. Hostile traffic is
// logged at a bounded rate per kind, with a count of what was left out.
#pragma once

#include "daemon/EventLoop.h"

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace lanquill::daemon {

enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

inline constexpr std::size_t LongestLogLine = 1000;

// The line as it is written: printable, bounded.
std::string logLine(std::string_view text);
void log(Priority priority, std::string_view text);

// At most `perMinute` lines of each kind a minute; the first line of a new minute says how many
// were left out in the one before.
class LogLimiter {
public:
    LogLimiter(EventLoop& loop, std::size_t perMinute) : loop_(loop), perMinute_(perMinute) {}
    void log(std::string_view kind, Priority priority, std::string_view text);

private:
    struct Window {
        TimePoint start{};
        std::size_t written = 0;
        std::size_t leftOut = 0;
    };
    EventLoop& loop_;
    std::size_t perMinute_;
    std::map<std::string, Window, std::less<>> windows_;
};

} // namespace lanquill::daemon
