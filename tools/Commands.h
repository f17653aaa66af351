// The subcommands of lanquill-net. Each takes the whole command line (argv[1] is its own name)
// and returns the process's exit status: 0 done, 1 the network part failed, 2 bad usage.
#pragma once

namespace lanquill::tools {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

// send /domain:WORKGROUP text | send NAME text
int runSend(int argc, char** argv);
// send --windows --user [DOMAIN\]USER [--session N] COMPUTER text (in WindowsSend.cpp)
int runWindowsSend(int argc, char** argv);
// status ADDRESS: the name table of a host, as nbtstat -A shows it
int runStatus(int argc, char** argv);
// lookup NAME: the address the program's own name lookup gives
int runLookup(int argc, char** argv);
// receiver-config: the smb.conf lines that hand smbd's messages to lanquilld
int runReceiverConfig(int argc, char** argv);
// view: defined in ViewCommand.cpp
int runView(int argc, char** argv);    // starts lanquill-net-view with the arguments
int runListing(int argc, char** argv); // the listing itself, in lanquill-net-view

} // namespace lanquill::tools
