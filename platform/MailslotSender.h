// `net send /domain:NAME text`: the MESSNGR mailslot broadcast to the workgroup NAME<00> on every
// local IPv4 network. Nobody acknowledges a broadcast; success means the datagrams went out.
#pragma once

#include <string>

namespace lanquill::platform {

class MailslotSender {
public:
    enum class Result {
        Sent,        // every datagram went out on at least one interface
        InvalidText, // not valid UTF-8, or not expressible in the OEM code page, or a zero byte
        TooLong,     // a name over 15 OEM bytes, or a text over 1000 UTF-16 units
        NoInterface, // no IPv4 interface that can broadcast
        SendFailed,  // the socket could not be made or no datagram went out
    };

    // Sends `text` from `from` (empty: this computer's name) to the workgroup `workgroup`.
    Result send(const std::string& workgroup, const std::string& from, const std::string& text);

    // How many interfaces the last send reached.
    int interfacesReached() const { return reached_; }

private:
    int reached_ = 0;
};

} // namespace lanquill::platform
