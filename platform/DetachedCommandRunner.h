// WinExec for the one command line the program runs: `net send /domain:NAME text`. The word
// `net` means our own lanquill-net beside the program; nothing else is run, and never a shell.
#pragma once

#include "platform/Platform.h"

#include <optional>
#include <string>
#include <vector>

namespace lanquill::platform {

struct CommandLine {
    std::string program;                // the program word as written ("net")
    std::vector<std::string> arguments; // argv[1..]
};

// Splits a command line the way `net` reads it: the program word, the subcommand, its target,
// each ending at the first blank, then the rest of the line as one argument, kept exactly
// (blanks, quotes, CR LF and all). Nullopt for an empty line or one with a zero byte.
std::optional<CommandLine> commandLineArguments(const std::string& line);

class DetachedCommandRunner : public CommandRunner {
public:
    // Finds lanquill-net in the folder of the running program.
    DetachedCommandRunner();
    explicit DetachedCommandRunner(std::string programDirectory);

    // Starts the command in its own session, stdin and stdout on /dev/null, and returns at
    // once; true when the program was started. False for a program word other than `net`.
    bool start(const std::string& commandLine) override;

private:
    std::string programDirectory_;
};

} // namespace lanquill::platform
