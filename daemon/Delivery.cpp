#include "daemon/Delivery.h"

#include "daemon/Log.h"
#include "protocol/Addresses.h"
#include "protocol/OemCodePage.h"

namespace lanquill::daemon {

std::string nameText(const std::string& oemName) {
    return protocol::oem::toUtf8Lossy(oemName);
}

Message wireMessage(std::string_view kind, const std::string& oemFrom, const protocol::Ipv4& sender,
                    const std::string& oemTo, const std::string& oemText, const std::string& user) {
    Message message;
    message.kind = kind;
    message.from = nameText(oemFrom);
    message.address = protocol::formatIpv4(sender);
    message.to = nameText(oemTo);
    message.text = protocol::oem::toUtf8Lossy(oemText);
    message.user = user;
    return message;
}

bool Delivery::accept(Message message) {
    if (!spool_.store(message))
        return false;
    log(Priority::Info, "message " + message.id + " from " + message.from + " (" + message.address +
                            ") to " + message.to);
    if (offer_)
        offer_(message);
    return true;
}

std::vector<Message> Delivery::pendingFor(const std::string& user) const {
    std::vector<Message> messages = spool_.pending();
    std::erase_if(messages, [&](const Message& message) {
        return !message.user.empty() && message.user != user;
    });
    return messages;
}

} // namespace lanquill::daemon
