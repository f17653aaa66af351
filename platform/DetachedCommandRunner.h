// WinExec for the one command the program runs: `net send /domain:NAME text`. The word `net`
// means our own lanquill-net beside the program; nothing else is run, and never a shell.
#pragma once

#include "platform/Platform.h"

#include <string>

namespace lanquill::platform {

class DetachedCommandRunner : public CommandRunner {
public:
    // Finds lanquill-net in the folder of the running program.
    DetachedCommandRunner();
    explicit DetachedCommandRunner(std::string programDirectory);

    // Starts the command in its own session, stdin and stdout on /dev/null, and returns at
    // once; true when the program was started. False for a program word other than `net` and
    // for an argument holding a zero byte (it could not reach the program whole).
    bool start(const CommandLine& command) override;

private:
    std::string programDirectory_;
};

} // namespace lanquill::platform
