// The one hash of the program's own tables: FNV-1a, 64 bits. Not for anything a sender could
// turn against us by choosing colliding keys where that would cost more than a longer probe.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

namespace lanquill::protocol::fnv1a {

inline constexpr std::uint64_t Start = 0xcbf29ce484222325ULL;
inline constexpr std::uint64_t Prime = 0x100000001b3ULL;

constexpr std::uint64_t add(std::uint64_t hash, std::uint8_t byte) {
    return (hash ^ byte) * Prime;
}
// `transform` maps each byte first (a case fold, for instance).
template <typename Transform = std::identity>
constexpr std::uint64_t add(std::uint64_t hash, std::string_view bytes, Transform transform = {}) {
    for (const char c : bytes)
        hash = add(hash, static_cast<std::uint8_t>(transform(c)));
    return hash;
}
constexpr std::uint64_t add(std::uint64_t hash, std::span<const std::uint8_t> bytes) {
    for (const auto byte : bytes)
        hash = add(hash, byte);
    return hash;
}

} // namespace lanquill::protocol::fnv1a
