#include "net/GroupCommand.h"

namespace lanquill::net {

platform::CommandLine groupSendCommand(const std::string& workgroup, const std::string& text) {
    return {"net", {"send", "/domain:" + workgroup, text}};
}

} // namespace lanquill::net
