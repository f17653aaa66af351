// The command that sends a message to a whole workgroup.
#pragma once

#include "platform/Platform.h"

#include <string>

namespace lanquill::net {

// net send /domain:WORKGROUP TEXT, as three arguments to `net`: the workgroup name whole, blanks
// included, and the text exactly (no quoting, CR LF kept, also when empty).
platform::CommandLine groupSendCommand(const std::string& workgroup, const std::string& text);

} // namespace lanquill::net
