// The desktop keyring (the freedesktop Secret Service, through libsecret loaded on first use),
// read the way QtKeychain writes it, so that a password the desktop program keeps there serves
// lanquill-net as well. No Qt: lanquill-net stays without it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lanquill::platform {

// The secret QtKeychain keeps for `service` and `key`; nullopt when there is none, or no
// keyring, session bus or libsecret to ask. May wait while the keyring asks to be unlocked.
std::optional<std::string> keyringPassword(std::string_view service, std::string_view key);

} // namespace lanquill::platform
