#include "protocol/OemCodePage.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <iconv.h>
#include <vector>

namespace lanquill::protocol::oem {

namespace {

// One conversion through iconv; nullopt on any invalid or unconvertible sequence.
std::optional<std::string> convert(const char* to, const char* from, std::string_view input) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string output;
    std::vector<char> buffer(input.size() * 4 + 16);
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    bool ok = true;
    while (inLeft > 0) {
        char* out = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t result = iconv(cd, &in, &inLeft, &out, &outLeft);
        output.append(buffer.data(), buffer.size() - outLeft);
        if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
            ok = false; // EILSEQ or EINVAL: a byte sequence that does not convert
            break;
        }
        // glibc counts irreversible conversions in the result; any of them would change the
        // text, which we refuse rather than send something else than was typed.
        if (result != static_cast<std::size_t>(-1) && result > 0) {
            ok = false;
            break;
        }
    }
    iconv_close(cd);
    if (!ok)
        return std::nullopt;
    return output;
}

} // namespace

std::optional<std::string> fromUtf8(std::string_view utf8) {
    if (!utf16Length(utf8))
        return std::nullopt;
    return convert("CP936", "UTF-8", utf8);
}

std::optional<std::string> toUtf8(std::string_view oemText) {
    return convert("UTF-8", "CP936", oemText);
}

std::string toUtf8Lossy(std::string_view oemText) {
    // Most names are ASCII, which CP936 leaves as it is: skip the converter for them.
    if (std::all_of(oemText.begin(), oemText.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(oemText);
    if (auto whole = toUtf8(oemText))
        return *whole;
    static constexpr std::string_view Replacement = "\xEF\xBF\xBD"; // U+FFFD
    std::string out;
    std::size_t i = 0;
    while (i < oemText.size()) {
        if (static_cast<unsigned char>(oemText[i]) < 0x80) {
            out.push_back(oemText[i++]);
            continue;
        }
        if (i + 1 < oemText.size()) {
            if (auto pair = toUtf8(oemText.substr(i, 2))) {
                out += *pair;
                i += 2;
                continue;
            }
        }
        if (auto single = toUtf8(oemText.substr(i, 1)))
            out += *single;
        else
            out += Replacement;
        ++i;
    }
    return out;
}

bool isUtf8(std::string_view text) {
    return utf16Length(text).has_value();
}

namespace {

struct Sequence {
    std::size_t length = 0;
    std::uint32_t code = 0;
};

// The well-formed UTF-8 sequence at `i`; nullopt for a bad, overlong or cut one.
std::optional<Sequence> sequenceAt(std::string_view utf8, std::size_t i) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    Sequence s;
    if (lead < 0x80)
        return Sequence{1, lead};
    if ((lead & 0xE0) == 0xC0)
        s = {2, lead & 0x1Fu};
    else if ((lead & 0xF0) == 0xE0)
        s = {3, lead & 0x0Fu};
    else if ((lead & 0xF8) == 0xF0)
        s = {4, lead & 0x07u};
    else
        return std::nullopt;
    if (utf8.size() - i < s.length)
        return std::nullopt;
    for (std::size_t k = 1; k < s.length; ++k) {
        const auto next = static_cast<unsigned char>(utf8[i + k]);
        if ((next & 0xC0) != 0x80)
            return std::nullopt;
        s.code = (s.code << 6) | (next & 0x3F);
    }
    static constexpr std::uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (s.code < minimum[s.length] || s.code > 0x10FFFF || (s.code >= 0xD800 && s.code <= 0xDFFF))
        return std::nullopt; // overlong form, beyond Unicode, or a lone surrogate
    return s;
}

bool hasMultiByte(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// UTF-8 with each byte that starts no well-formed sequence as U+FFFD.
std::string utf8Lossy(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (const auto s = sequenceAt(text, i)) {
            out.append(text.substr(i, s->length));
            i += s->length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

// A block sent as raw UTF-8: valid once a character cut at either edge is left aside.
bool rawUtf8Block(std::string_view block) {
    if (!hasMultiByte(block))
        return false;
    std::size_t start = 0;
    while (start < block.size() && start < 3 &&
           (static_cast<unsigned char>(block[start]) & 0xC0) == 0x80)
        ++start;
    std::size_t end = block.size();
    for (std::size_t back = 1; back <= 3 && back <= end - start; ++back) {
        const auto byte = static_cast<unsigned char>(block[end - back]);
        if ((byte & 0xC0) == 0x80)
            continue;
        if (byte >= 0xC0) // a lead byte whose sequence the block cuts
            end -= sequenceAt(block.substr(0, end), end - back) ? 0 : back;
        break;
    }
    return isUtf8(block.substr(start, end - start));
}

} // namespace

std::optional<std::size_t> utf16Length(std::string_view utf8) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto s = sequenceAt(utf8, i);
        if (!s)
            return std::nullopt;
        units += s->code >= 0x10000 ? 2 : 1;
        i += s->length;
    }
    return units;
}

std::string receivedTextToUtf8(std::span<const std::string> blocks) {
    std::string whole;
    for (const auto& block : blocks)
        whole += block;
    if (hasMultiByte(whole) && isUtf8(whole))
        return whole;
    // Runs of blocks of one kind are decoded together: a CP936 character may straddle two
    // blocks, and so may a UTF-8 character that a sender's piecewise conversion left raw.
    std::string out;
    for (std::size_t i = 0; i < blocks.size();) {
        const bool raw = rawUtf8Block(blocks[i]);
        std::string run;
        for (; i < blocks.size() && rawUtf8Block(blocks[i]) == raw; ++i)
            run += blocks[i];
        out += raw ? utf8Lossy(run) : toUtf8Lossy(run);
    }
    return out;
}

std::size_t characterBoundary(std::string_view oemText, std::size_t limit) {
    std::size_t i = 0;
    while (i < oemText.size()) {
        // In CP936 a byte of 0x81..0xFE starts a two-byte character.
        const auto byte = static_cast<unsigned char>(oemText[i]);
        const std::size_t length = (byte >= 0x81 && byte <= 0xFE) ? 2 : 1;
        if (i + length > limit)
            break;
        i += length;
    }
    return std::min(i, oemText.size());
}

std::string printable(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const bool c1 = c == 0xC2 && i + 1 < utf8.size() &&
                        static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(utf8[i + 1]) <= 0x9F;
        if (c < 0x20 || c == 0x7F || c1) {
            out += '.';
            i += c1 ? 1 : 0;
        } else {
            out += utf8[i];
        }
    }
    return out;
}

std::string upperAscii(std::string_view text) {
    std::string out(text);
    for (auto& c : out)
        c = upperAscii(c);
    return out;
}

} // namespace lanquill::protocol::oem
