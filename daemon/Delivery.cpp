#include "daemon/Delivery.h"

#include "protocol/Addresses.h"
#include "protocol/OemCodePage.h"
#include "protocol/SessionProtocol.h"

namespace lanquill::daemon {

std::string nameText(const std::string& oemName) {
    return protocol::oem::toUtf8Lossy(oemName);
}

Message wireMessage(std::string_view kind, const std::string& oemFrom, const protocol::Ipv4& sender,
                    const std::string& oemTo, std::span<const std::string> textBlocks,
                    const std::string& user) {
    Message message;
    message.kind = kind;
    message.from = nameText(oemFrom);
    message.address = protocol::formatIpv4(sender);
    message.to = nameText(oemTo);
    message.text = protocol::oem::receivedTextToUtf8(textBlocks);
    message.user = user;
    return message;
}

Delivery::Delivery(EventLoop& loop, Spool& spool) : spool_(spool), logs_(loop, 10) {
    checkWritable();
}

Delivery::Result Delivery::accept(Message message, bool forgeableSender) {
    message.id = "-";
    message.time = "-";
    message.datagram = forgeableSender;
    if (const auto problem = protocol::session::unusable(message)) {
        logs_.log("unusable messages", Priority::Notice,
                  "message from " + message.address + " dropped: " + *problem);
        return Result::Unusable;
    }
    if (!message.user.empty() && spool_.waitingForUsers() >= roomForAbsentUsers()) {
        logs_.log("spool full for absent users", Priority::Warning,
                  "spool full for users without a session (" +
                      std::to_string(roomForAbsentUsers()) + " messages wait): message from " +
                      message.address + " to " + message.to + " refused");
        return Result::Full;
    }
    const std::size_t room = forgeableSender ? roomForDatagrams() : spool_.capacity();
    switch (spool_.store(message, room)) {
    case Spool::Stored::Full:
        logs_.log("spool full", Priority::Warning,
                  "spool full (" + std::to_string(room) + " messages unacknowledged" +
                      (forgeableSender ? ", the rest kept for sessions" : "") + "): message from " +
                      message.address + " refused");
        return Result::Full;
    case Spool::Stored::Failed:
        logs_.log("spool write", Priority::Error, "spool: " + spool_.lastFailure());
        setWritable(false);
        return Result::Failed;
    case Spool::Stored::Yes:
        break;
    }
    setWritable(true);
    log(Priority::Info, "message " + message.id + " from " + message.from + " (" + message.address +
                            ") to " + message.to);
    if (offer_)
        offer_(message);
    return Result::Stored;
}

void Delivery::refuseForSystemAccount(const std::string& address, const std::string& account) {
    logs_.log("system account", Priority::Notice,
              "message from " + address + " to " + account +
                  " refused: no desktop session is ever opened for that account");
}

void Delivery::checkWritable() {
    setWritable(spool_.writable());
}

void Delivery::setWritable(bool writable) {
    if (writable == writable_)
        return;
    writable_ = writable;
    if (!writable)
        log(Priority::Error, "the spool cannot be written: messages are refused until it can");
    if (writableChanged_)
        writableChanged_();
}

} // namespace lanquill::daemon
