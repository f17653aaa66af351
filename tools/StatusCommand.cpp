// `lanquill-net status ADDRESS` (the name table, as nbtstat -A shows it) and
// `lanquill-net lookup NAME...` (the program's own name lookup, for checking and timing it).
#include "net/Lookups.h"
#include "platform/NameService.h"
#include "protocol/Addresses.h"
#include "protocol/OemCodePage.h"
#include "tools/Commands.h"

#include <cstdio>

namespace lanquill::tools {

namespace {

constexpr std::chrono::milliseconds StatusWait{1000};

} // namespace

int runStatus(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: lanquill-net status ADDRESS\n", stderr);
        return ExitUsage;
    }
    const auto address = protocol::parseIpv4(argv[2]);
    if (!address) {
        std::fprintf(stderr, "lanquill-net: %s is not a dotted IPv4 address\n", argv[2]);
        return ExitUsage;
    }
    const auto status = platform::queryNodeStatus(*address, StatusWait);
    if (!status) {
        std::fprintf(stderr, "lanquill-net: %s did not answer the node-status query\n", argv[2]);
        return ExitFailed;
    }
    std::fputs(protocol::netbios::nameTableText(*status).c_str(), stdout);
    return ExitOk;
}

int runLookup(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: lanquill-net lookup NAME...\n", stderr);
        return ExitUsage;
    }
    // Several names are asked for together, with one wait for all of them.
    const std::vector<std::string> names(argv + 2, argv + argc);
    platform::RealResolver resolver;
    const auto results = net::HostNamesToIPs(resolver, names);
    int exitCode = ExitOk;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string shown = protocol::oem::printable(names[i]);
        if (!results[i].found) {
            std::fprintf(stderr, "lanquill-net: %s: not found\n", shown.c_str());
            exitCode = ExitFailed;
        } else if (names.size() == 1) {
            std::printf("%s\n", results[i].text.c_str());
        } else {
            std::printf("%s %s\n", shown.c_str(), results[i].text.c_str());
        }
    }
    return exitCode;
}

} // namespace lanquill::tools
