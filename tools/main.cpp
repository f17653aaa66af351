// lanquill-net: the small `net`-style command the program starts for workgroup messages, also
// usable by hand. Each subcommand lives in its own file; this only dispatches.
#include "tools/Commands.h"
#include "tools/Texts.h"
#include "tools/WinsOption.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

using lanquill::tools::say;

struct Subcommand {
    const char* name;
    int (*run)(int argc, char** argv);
};

// One row per subcommand; `view` gets its row here together with tools/ViewCommand.cpp.
constexpr Subcommand Subcommands[] = {
    {"send", lanquill::tools::runSend},
    {"status", lanquill::tools::runStatus},
    {"lookup", lanquill::tools::runLookup},
    {"view", lanquill::tools::runView},
    {"receiver-config", lanquill::tools::runReceiverConfig},
};

void usage(std::FILE* to) {
    std::fputs(say("usage: lanquill-net send /domain:WORKGROUP [--member NAME]... text\n"
                   "       lanquill-net send NAME|ADDRESS text\n"
                   "       lanquill-net send --windows --user [DOMAIN\\]USER [--session N] "
                   "COMPUTER text\n"
                   "       lanquill-net status NAME|ADDRESS\n"
                   "       lanquill-net lookup NAME...\n"
                   "       lanquill-net view [/domain:WORKGROUP]\n"
                   "       lanquill-net receiver-config\n"
                   "       lanquill-net --help\n"
                   "Before or right after the command word, --wins ADDRESS|none chooses the WINS\n"
                   "server names are asked of first (default: \"wins server\" of smb.conf).\n"),
               to);
}

} // namespace

int main(int argc, char** argv) {
    // The WINS choice is taken out first, so that every command sees only its own words.
    std::vector<char*> args(argv, argv + argc);
    if (std::string error; !lanquill::tools::takeWinsOption(args, error)) {
        std::fprintf(stderr, "lanquill-net: %s\n", error.c_str());
        usage(stderr);
        return lanquill::tools::ExitUsage;
    }
    argc = static_cast<int>(args.size());
    args.push_back(nullptr); // argv[argc] is null, as the commands may expect
    argv = args.data();
    // Asked for, the usage is the answer: on standard output, and success.
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
                      std::strcmp(argv[1], "help") == 0)) {
        usage(stdout);
        return lanquill::tools::ExitOk;
    }
    if (argc >= 2)
        for (const auto& command : Subcommands)
            if (std::strcmp(argv[1], command.name) == 0) {
                // Whatever a hostile peer makes go wrong ends as a failure, never an abort.
                try {
                    return command.run(argc, argv);
                } catch (const std::exception& e) {
                    std::fprintf(stderr, say("lanquill-net: %s\n"), e.what());
                    return lanquill::tools::ExitFailed;
                }
            }
    if (argc >= 2)
        std::fprintf(stderr, say("lanquill-net: unknown command \"%s\"\n"), argv[1]);
    usage(stderr);
    return lanquill::tools::ExitUsage;
}
