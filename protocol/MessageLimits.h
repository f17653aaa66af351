// How long a pop-up message's names and text may be: the Windows delivery buffers, counted in
// UTF-16 units. Every sender checks here, so a message is refused whole rather than cut.
#pragma once

#include "protocol/OemCodePage.h"

#include <cstddef>
#include <string_view>

namespace lanquill::protocol {

inline constexpr std::size_t MaxMessageNameUnits = 64;
inline constexpr std::size_t MaxMessageTextUnits = 1000;

// True when a name or the text is longer than its limit. Bytes that are not UTF-8 are not
// counted here: the senders refuse them as invalid on their own.
inline bool overMessageLimits(std::string_view to, std::string_view from, std::string_view text) {
    const auto over = [](std::string_view utf8, std::size_t limit) {
        const auto units = oem::utf16Length(utf8);
        return units && *units > limit;
    };
    return over(to, MaxMessageNameUnits) || over(from, MaxMessageNameUnits) ||
           over(text, MaxMessageTextUnits);
}

} // namespace lanquill::protocol
