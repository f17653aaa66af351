// The OEM code page of the Windows machines Lanquill talks to (CP936, that is GBK). Names and
// message texts cross the wire in it; inside the program everything is UTF-8.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace lanquill::protocol::oem {

// UTF-8 -> CP936. Nullopt when the text is not valid UTF-8 or holds a character CP936 lacks:
// nothing is ever dropped or replaced silently.
std::optional<std::string> fromUtf8(std::string_view utf8);

// CP936 -> UTF-8. Nullopt for bytes that are not valid CP936.
std::optional<std::string> toUtf8(std::string_view oem);

// CP936 -> UTF-8 for showing a name or text from the wire: every character that decodes is
// kept, and each byte that does not becomes U+FFFD, so nothing is dropped without a trace.
std::string toUtf8Lossy(std::string_view oem);

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF).
bool isUtf8(std::string_view text);

// The number of UTF-16 units the UTF-8 text takes; nullopt when it is not valid UTF-8.
std::optional<std::size_t> utf16Length(std::string_view utf8);

// A received message text, sent in `blocks`, as UTF-8. Senders on Linux hand in UTF-8 as it is
// (their OEM code page cannot hold it), or CP936 converted piece by piece, where a piece that
// cuts a character is sent raw: the whole text is taken as UTF-8 when it is valid UTF-8 with
// multi-byte sequences, else each run of blocks that is raw UTF-8 (but for a character cut at
// its edges) as UTF-8 and every other run as CP936.
std::string receivedTextToUtf8(std::span<const std::string> blocks);

// The length of the longest prefix of `oem` (CP936) of at most `limit` bytes that does not cut
// a double-byte character in two.
std::size_t characterBoundary(std::string_view oem, std::size_t limit);

// An ASCII letter a..z as A..Z; every other byte as it is.
constexpr char upperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// ASCII letters a..z to A..Z in UTF-8 text, before it goes to the code page: CP936's second
// bytes include the letters, so upper-casing must never run on OEM bytes.
std::string upperAscii(std::string_view text);

// UTF-8 text for a terminal: each control character (C0, DEL, and C1 such as U+009B, which
// some terminals take for ESC [) shown as '.', so a name from the wire cannot carry an escape
// sequence. Everything else is kept.
std::string printable(std::string_view utf8);

} // namespace lanquill::protocol::oem
