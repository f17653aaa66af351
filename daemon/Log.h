// Log lines for the journal: stderr with sd-daemon priority prefixes, one line each.
#pragma once

#include <cstdio>
#include <string_view>

namespace lanquill::daemon {

enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

inline void log(Priority priority, std::string_view text) {
    std::fprintf(stderr, "<%d>%.*s\n", static_cast<int>(priority), static_cast<int>(text.size()),
                 text.data());
}

} // namespace lanquill::daemon
