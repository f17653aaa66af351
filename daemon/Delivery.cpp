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

namespace {

// Windows user names run to 20 characters, and smbclient sends the user's as the sender; past
// that, or with a line break or another control character, the name is no computer's or user's
// and is there to push the sender's address out of sight.
constexpr std::size_t LongestSenderName = 20;

std::optional<std::string> senderNameProblem(std::string_view name) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        const auto next = i + 1 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0;
        const auto third = i + 2 < name.size() ? static_cast<unsigned char>(name[i + 2]) : 0;
        const bool c1 = byte == 0xC2 && next >= 0x80 && next <= 0x9F;
        const bool separator = byte == 0xE2 && next == 0x80 && (third == 0xA8 || third == 0xA9);
        if (byte < 0x20 || byte == 0x7F || c1 || separator)
            return "the sender name holds a control character";
        characters += (byte & 0xC0) != 0x80;
    }
    if (characters > LongestSenderName)
        return "the sender name is longer than " + std::to_string(LongestSenderName) +
               " characters";
    return std::nullopt;
}

} // namespace

Delivery::Delivery(EventLoop& loop, Spool& spool, const Users& users, std::string computer)
    : spool_(spool), users_(users), computer_(std::move(computer)), logs_(loop, 10) {
    checkWritable();
}

Recipient Delivery::recipient(const std::string& name, Addressed how, const std::string& sender) {
    using Verdict = Recipient::Verdict;
    if (how == Addressed::ByName) {
        if (name == computer_)
            return {Verdict::Computer, {}};
        if (users_.connected(name))
            return {Verdict::User, name};
        return {Verdict::NotOurs, {}};
    }
    const std::string upper = protocol::oem::upperAscii(name);
    if (upper.empty() || upper == computer_)
        return {Verdict::Computer, {}};
    switch (users_.account(upper)) {
    case Users::Account::System:
        logs_.log("system account", Priority::Notice,
                  "message from " + sender + " to " + nameText(upper) +
                      " refused: no desktop session is ever opened for that account");
        return {Verdict::SystemAccount, {}};
    case Users::Account::Desktop:
        // A user of this computer who has no session now gets it in the next one.
        return {Verdict::User, upper};
    case Users::Account::None:
        break;
    }
    return {Verdict::Computer, {}};
}

Delivery::Result Delivery::accept(Message message, bool forgeableSender) {
    message.id = "-";
    message.time = "-";
    message.datagram = forgeableSender;
    auto problem = protocol::session::unusable(message);
    if (!problem)
        problem = senderNameProblem(message.from);
    if (problem) {
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
