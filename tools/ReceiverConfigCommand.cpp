#include "tools/Commands.h"
#include "tools/Texts.h"

#include <cstdio>

namespace lanquill::tools {

// The [global] lines that make smbd, where it holds TCP 139, hand each message to lanquilld.
// smbd's default minimum protocol (SMB2) drops the SMB1 messenger. smbd 4.17 splits the command
// into arguments itself, shell-like quotes kept, and passes the `&` on as a last argument (which
// lanquill-deliver ignores); a smbd that runs it through a shell does not wait, thanks to it.
int runReceiverConfig(int argc, char** /*argv*/) {
    if (argc != 2) {
        std::fputs(say("usage: lanquill-net receiver-config\n"), stderr);
        return ExitUsage;
    }
    std::fputs(
        say("# lanquilld receives through smbd: add to [global] of smb.conf, then restart smbd\n"),
        stdout);
    std::fputs("   server min protocol = NT1\n"
               "   message command = /usr/libexec/lanquill/lanquill-deliver '%I' '%m' '%L' '%s' "
               "&\n",
               stdout);
    return ExitOk;
}

} // namespace lanquill::tools
