#include "net/GroupCommand.h"

#include "protocol/NetBios.h"

namespace lanquill::net {

platform::CommandLine groupSendCommand(const std::string& workgroup, const std::string& text,
                                       const std::vector<std::string>& members) {
    platform::CommandLine command{"net", {"send", "/domain:" + workgroup}};
    for (const std::string& member : members) {
        // A name no computer can have would make the command refuse the whole message.
        if (!protocol::netbios::isNetbiosName(member, protocol::netbios::NameUse::Peer))
            continue;
        command.arguments.push_back("--member");
        command.arguments.push_back(member);
    }
    // Without members the line stays as it always was; a text that starts like an option then
    // still needs the `--`.
    if (!members.empty() || text.starts_with("--"))
        command.arguments.push_back("--");
    command.arguments.push_back(text);
    return command;
}

} // namespace lanquill::net
