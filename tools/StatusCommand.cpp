#include "tools/StatusCommand.h"

#include "net/Lookups.h"
#include "platform/Addresses.h"
#include "platform/NameService.h"
#include "platform/OemCodePage.h"
#include "tools/Commands.h"

#include <cstdio>

namespace lanquill::tools {

namespace {

constexpr std::chrono::milliseconds StatusWait{1000};
constexpr std::size_t NameColumn = 15;

// A table name for the terminal: control bytes as '.', OEM as UTF-8, padded to its column.
std::string displayName(const std::string& oemName) {
    std::string visible;
    for (const char c : oemName)
        visible += static_cast<unsigned char>(c) < 0x20 ? '.' : c;
    std::string text = platform::oem::toUtf8(visible).value_or(visible);
    std::size_t width = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++width;
    if (width < NameColumn)
        text.append(NameColumn - width, ' ');
    return text;
}

} // namespace

std::string formatNameTable(const platform::netbios::NodeStatus& status) {
    std::string out = "    NetBIOS Remote Machine Name Table\n\n"
                      "       Name               Type         Status\n"
                      "    ---------------------------------------------\n";
    for (const auto& entry : status.names) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "<%02X>", entry.suffix);
        out += "    " + displayName(entry.name) + "  " + suffix + "  " +
               (entry.group ? "GROUP " : "UNIQUE") + "      Registered\n";
    }
    out += "\n    MAC Address = " + platform::formatHardwareAddress(status.unitId) + "\n";
    return out;
}

int runStatus(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: lanquill-net status ADDRESS\n", stderr);
        return ExitUsage;
    }
    const auto address = platform::parseIpv4(argv[2]);
    if (!address) {
        std::fprintf(stderr, "lanquill-net: %s is not a dotted IPv4 address\n", argv[2]);
        return ExitUsage;
    }
    const auto status = platform::queryNodeStatus(*address, StatusWait);
    if (!status) {
        std::fprintf(stderr, "lanquill-net: %s did not answer the node-status query\n", argv[2]);
        return ExitFailed;
    }
    std::fputs(formatNameTable(*status).c_str(), stdout);
    return ExitOk;
}

int runLookup(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: lanquill-net lookup NAME\n", stderr);
        return ExitUsage;
    }
    platform::RealResolver resolver;
    const auto result = net::HostNameToIP(resolver, argv[2]);
    if (!result.found) {
        std::fprintf(stderr, "lanquill-net: %s: not found\n", argv[2]);
        return ExitFailed;
    }
    std::printf("%s\n", result.text.c_str());
    return ExitOk;
}

} // namespace lanquill::tools
