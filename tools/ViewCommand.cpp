// lanquill-net view [/domain[:NAME]]: the workgroups of the network neighbourhood, or the
// computers of one, as the add-group dialog sees them (TNetUsers over the real enumerator).
#include "net/NetUsers.h"
#include "platform/LocalSystem.h"
#include "platform/SmbNetworkEnumerator.h"
#include "protocol/NetBios.h"
#include "protocol/OemCodePage.h"
#include "tools/Commands.h"
#include "tools/Texts.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace lanquill::tools {

namespace {

void usageView() {
    std::fputs(say("usage: lanquill-net view [/domain:WORKGROUP]\n"), stderr);
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const auto a = static_cast<unsigned char>(text[i]);
        const auto b = static_cast<unsigned char>(prefix[i]);
        if ((a | 0x20) != (b | 0x20))
            return false;
    }
    return true;
}

void printNames(const net::TNetUsers& users) {
    if (users.Names().empty()) {
        std::puts(say("There are no entries in the list."));
        return;
    }
    // Names come from the wire, from the browse list or the sweep alike.
    for (const std::string& name : users.Names())
        std::printf("%s\n", protocol::oem::printable(name).c_str());
}

} // namespace

int runListing(int argc, char** argv) {
    std::string workgroup;
    if (argc > 3) {
        usageView();
        return ExitUsage;
    }
    if (argc == 3) {
        const std::string_view option = argv[2];
        if (startsWithIgnoringCase(option, "/domain:")) {
            workgroup = option.substr(std::strlen("/domain:"));
            if (!protocol::netbios::isNetbiosName(workgroup, protocol::netbios::NameUse::Peer)) {
                std::fprintf(stderr, say("lanquill-net: \"%s\" cannot be a workgroup name\n"),
                             workgroup.c_str());
                return ExitUsage;
            }
        } else if (!(option.size() == 7 && startsWithIgnoringCase(option, "/domain"))) {
            usageView();
            return ExitUsage;
        }
    }

    platform::SmbNetworkEnumerator network;
    platform::LocalSystem system;
    net::TNetUsers users(network, system);
    try {
        if (workgroup.empty()) {
            users.EnumGroups();
        } else {
            users.setServer(workgroup);
            if (!users.EnumComputers()) {
                std::fprintf(stderr,
                             say("lanquill-net: the computers of workgroup %s cannot be listed\n"),
                             workgroup.c_str());
                return ExitFailed;
            }
        }
    } catch (const platform::SystemError& e) {
        std::fprintf(stderr, say("lanquill-net: %s\n"), e.what());
        return ExitFailed;
    }
    printNames(users);
    return ExitOk;
}

} // namespace lanquill::tools
