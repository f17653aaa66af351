// The command that sends a message to a whole workgroup.
#pragma once

#include "platform/Platform.h"

#include <string>
#include <vector>

namespace lanquill::net {

// net send /domain:WORKGROUP [--member NAME]... TEXT, each a separate argument to `net`: the
// workgroup name whole, blanks included, and the text exactly and last (no quoting, CR LF kept,
// also when empty). `members` are computers known to be in the workgroup, reached one by one
// where the broadcast does not go; with them, `--` stands before the text, so that no text is
// taken for one more option.
platform::CommandLine groupSendCommand(const std::string& workgroup, const std::string& text,
                                       const std::vector<std::string>& members = {});

} // namespace lanquill::net
