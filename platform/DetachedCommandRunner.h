// WinExec for the commands the program runs: `net send ...`. The word `net` means our own
// lanquill-net beside the program; nothing else is run, and never a shell.
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
    // Runs the command with stdin and stdout on /dev/null, its stderr collected (the first
    // 64 KiB), and waits for it; a command still running after two minutes is killed (lanquill-net
    // keeps deadlines of its own far below that). The same programs are refused as by start().
    CommandResult run(const CommandLine& command, const ChildEnvironment& environment) override;

private:
    // The path of the program `command` names; empty when it may not be run.
    std::string programPath(const CommandLine& command) const;

    std::string programDirectory_;
};

} // namespace lanquill::platform
