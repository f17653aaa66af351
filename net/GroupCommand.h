// The command line that sends a message to a whole workgroup.
#pragma once

#include <string>

namespace lanquill::net {

// "net send /domain:" + workgroup + " " + text, exactly: no quoting, CR LF kept, and the blank
// after the workgroup also for an empty text.
std::string groupSendCommandLine(const std::string& workgroup, const std::string& text);

} // namespace lanquill::net
