#include "tools/Commands.h"

#include <cstdio>

namespace lanquill::tools {

// The [global] lines that make smbd, where it holds TCP 139, hand each message to lanquilld.
// smbd's default minimum protocol (SMB2) drops the SMB1 messenger; the trailing `&` keeps smbd
// from waiting for the command. smbd runs the line through /bin/sh: the quotes keep each
// substitution one argument, and lanquill-deliver treats its arguments as data.
int runReceiverConfig(int argc, char** /*argv*/) {
    if (argc != 2) {
        std::fputs("usage: lanquill-net receiver-config\n", stderr);
        return ExitUsage;
    }
    std::fputs("# lanquilld receives through smbd: add to [global] of smb.conf, then restart smbd\n"
               "   server min protocol = NT1\n"
               "   message command = /usr/libexec/lanquill/lanquill-deliver '%I' '%m' '%L' '%s' "
               "&\n",
               stdout);
    return ExitOk;
}

} // namespace lanquill::tools
