#include "daemon/Log.h"

#include <cstdio>

namespace lanquill::daemon {

std::string logLine(std::string_view text) {
    std::string line;
    line.reserve(std::min(text.size(), LongestLogLine) + 8);
    for (std::size_t i = 0; i < text.size() && line.size() < LongestLogLine; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        // C1 controls in UTF-8 (U+0080..U+009F: C2 80..C2 9F) act as escapes on some terminals.
        const bool c1 = byte == 0xC2 && i + 1 < text.size() &&
                        static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (byte < 0x20 || byte == 0x7F || c1) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X",
                          c1 ? static_cast<unsigned char>(text[++i]) : byte);
            line += escaped;
        } else {
            line += static_cast<char>(byte);
        }
    }
    if (line.size() >= LongestLogLine)
        line += "...";
    return line;
}

void log(Priority priority, std::string_view text) {
    const std::string line = logLine(text);
    std::fprintf(stderr, "<%d>%s\n", static_cast<int>(priority), line.c_str());
}

void LogLimiter::log(std::string_view kind, Priority priority, std::string_view text) {
    auto it = windows_.find(kind);
    if (it == windows_.end())
        it = windows_.emplace(std::string(kind), Window{}).first;
    Window& window = it->second;
    const auto now = loop_.now();
    if (window.written == 0 || now - window.start >= std::chrono::minutes(1)) {
        if (window.leftOut > 0)
            daemon::log(Priority::Notice, std::to_string(window.leftOut) + " more lines of " +
                                              std::string(kind) + " left out in the last minute");
        window = {now, 0, 0};
    }
    if (window.written >= perMinute_) {
        ++window.leftOut;
        return;
    }
    ++window.written;
    daemon::log(priority, text);
}

} // namespace lanquill::daemon
