// From the wire to the desktop: a message is written to the spool before its sender hears
// "accepted", then offered to the sessions it is for, and stays until one acknowledges it.
#pragma once

#include "daemon/Spool.h"
#include "protocol/Bytes.h"

#include <functional>
#include <string>

namespace lanquill::daemon {

class Delivery {
public:
    using Offer = std::function<void(const Message&)>;
    explicit Delivery(Spool& spool) : spool_(spool) {}

    // Where stored messages go out: the client hub.
    void setOffer(Offer offer) { offer_ = std::move(offer); }

    // Spools the message and offers it; false when it could not be stored (the sender is
    // refused then).
    bool accept(Message message);
    // The spooled messages for `user`'s sessions (and those for every session), oldest first.
    std::vector<Message> pendingFor(const std::string& user) const;
    void acknowledge(const std::string& id) { spool_.remove(id); }

private:
    Spool& spool_;
    Offer offer_;
};

// A message as it came off the wire: names and text in the OEM code page.
Message wireMessage(std::string_view kind, const std::string& oemFrom, const protocol::Ipv4& sender,
                    const std::string& oemTo, const std::string& oemText, const std::string& user);

// A NetBIOS name from the wire as UTF-8 for logs and clients.
std::string nameText(const std::string& oemName);

} // namespace lanquill::daemon
