// Messages to Windows 10/11 desktops: lanquill-net shows them in a message box on the target
// with an administrator's account, the password handed over in its environment (PASSWD) only.
#pragma once

#include "desktop/Desktop.h"

#include <QString>

#include <string>
#include <vector>

namespace lanquill::dialogs {

// net send --windows --user ACCOUNT COMPUTER TEXT, each a separate argument.
platform::CommandLine windowsSendCommand(const std::string& account, const std::string& computer,
                                         const std::string& text);

// Why a finished run did not show the message, in a sentence; empty when it did (exit 0).
// lanquill-net's own line "lanquill-net: COMPUTER: REASON" gives the reason.
QString windowsSendFailure(const platform::CommandResult& result);

struct WindowsTarget {
    std::string name;     // as the user knows it (the book's id), for the list of failures
    std::string computer; // what lanquill-net is given: the address, else the name
    std::string account;
};

struct WindowsFailure {
    std::string name;
    QString reason;
};

// Sends `text` to every target, several at a time, without freezing the windows; the passwords
// come from the keyring first (on the GUI thread, each account asked once). The failures, in
// the targets' order.
std::vector<WindowsFailure> sendToWindowsDesktops(const desktop::Platform& platform,
                                                  const std::vector<WindowsTarget>& targets,
                                                  const std::string& text);

} // namespace lanquill::dialogs
