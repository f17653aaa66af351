// `--wins ADDRESS|none` of lanquill-net: the WINS server every name lookup of the command asks
// first, instead of the one the system's configuration names ("none": broadcast only).
#pragma once

#include "platform/NameService.h"

#include <optional>
#include <string>
#include <vector>

namespace lanquill::tools {

// Takes `--wins VALUE` (or `--wins=VALUE`) out of `args` where it stands before the command word
// or right after it; further on it is left alone, as a message text may contain anything. False
// with `error` set for a missing or bad value, or a repeated option.
bool takeWinsOption(std::vector<char*>& args, std::string& error);

// The resolver a command uses: the --wins choice when one was taken, else the configured server.
platform::RealResolver commandResolver();

} // namespace lanquill::tools
