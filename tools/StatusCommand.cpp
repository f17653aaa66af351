// `lanquill-net status NAME|ADDRESS` (the name table, as nbtstat -A shows it) and
// `lanquill-net lookup NAME...` (the program's own name lookup, for checking and timing it).
#include "net/Lookups.h"
#include "platform/NameService.h"
#include "protocol/Addresses.h"
#include "protocol/OemCodePage.h"
#include "tools/Commands.h"
#include "tools/Texts.h"
#include "tools/WinsOption.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string_view>

namespace lanquill::tools {

namespace {

constexpr std::chrono::milliseconds StatusWait{1000};

// A host or NetBIOS name: letters (Chinese ones too), digits, '-', '_' and dots, not all digits
// and dots (that is a mistyped address).
bool couldBeAName(std::string_view text) {
    const auto nameByte = [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x80 || std::isalnum(byte) || c == '-' || c == '_' || c == '.';
    };
    return !text.empty() && text.size() <= 255 && std::all_of(text.begin(), text.end(), nameByte) &&
           text.find_first_not_of("0123456789.") != std::string_view::npos;
}

} // namespace

int runStatus(int argc, char** argv) {
    if (argc != 3) {
        std::fputs(say("usage: lanquill-net status NAME|ADDRESS\n"), stderr);
        return ExitUsage;
    }
    // A name is looked up the way the program looks names up (system resolver and NetBIOS);
    // what can be neither a dotted address nor a name is refused before anything is sent.
    auto address = protocol::parseIpv4(argv[2]);
    if (!address && !couldBeAName(argv[2])) {
        std::fprintf(stderr,
                     say("lanquill-net: %s is not a dotted IPv4 address or a computer name\n"),
                     protocol::oem::printable(argv[2]).c_str());
        return ExitUsage;
    }
    if (!address) {
        auto resolver = commandResolver();
        const auto found = net::HostNamesToIPs(resolver, {argv[2]});
        if (!found.at(0).found) {
            std::fprintf(stderr, say("lanquill-net: %s: not found\n"),
                         protocol::oem::printable(argv[2]).c_str());
            return ExitFailed;
        }
        address = protocol::parseIpv4(found[0].text);
        if (!address) {
            std::fprintf(stderr, say("lanquill-net: %s resolves to no IPv4 address\n"),
                         protocol::oem::printable(argv[2]).c_str());
            return ExitFailed;
        }
    }
    const auto status = platform::queryNodeStatus(*address, StatusWait);
    if (!status) {
        std::fprintf(stderr, say("lanquill-net: %s did not answer the node-status query\n"),
                     protocol::oem::printable(argv[2]).c_str());
        return ExitFailed;
    }
    std::fputs(protocol::netbios::nameTableText(*status).c_str(), stdout);
    return ExitOk;
}

int runLookup(int argc, char** argv) {
    if (argc < 3) {
        std::fputs(say("usage: lanquill-net lookup NAME...\n"), stderr);
        return ExitUsage;
    }
    // Several names are asked for together, with one wait for all of them.
    const std::vector<std::string> names(argv + 2, argv + argc);
    auto resolver = commandResolver();
    const auto results = net::HostNamesToIPs(resolver, names);
    int exitCode = ExitOk;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string shown = protocol::oem::printable(names[i]);
        if (!results[i].found) {
            std::fprintf(stderr, say("lanquill-net: %s: not found\n"), shown.c_str());
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
