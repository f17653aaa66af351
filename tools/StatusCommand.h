// `lanquill-net status` and `lanquill-net lookup`.
#pragma once

#include "platform/NetBios.h"

#include <string>

namespace lanquill::tools {

// The name table as nbtstat -A prints it, ending with the "MAC Address = ..." line.
std::string formatNameTable(const platform::netbios::NodeStatus& status);

} // namespace lanquill::tools
