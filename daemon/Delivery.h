// From the wire to the desktop: a message is written to the spool before its sender hears
// "accepted", then offered to the sessions it is for, and stays until one acknowledges it.
// What no client could use is dropped at the door, and datagrams, whose senders can be forged,
// may fill only part of the spool: the rest stays for senders over TCP.
#pragma once

#include "daemon/EventLoop.h"
#include "daemon/Log.h"
#include "daemon/Spool.h"
#include "protocol/Bytes.h"

#include <functional>
#include <span>
#include <string>

namespace lanquill::daemon {

class Delivery {
public:
    using Offer = std::function<void(const Message&)>;
    using Changed = std::function<void()>;
    // The part of the spool datagram messages may not take.
    static constexpr std::size_t KeptForSessionsPercent = 20;
    std::size_t roomForDatagrams() const {
        return spool_.capacity() - spool_.capacity() * KeptForSessionsPercent / 100;
    }
    // The part of the spool messages waiting for a user's next session may take: whoever sends
    // them, the rest stays for the sessions there are.
    static constexpr std::size_t ForAbsentUsersPercent = 20;
    std::size_t roomForAbsentUsers() const {
        return spool_.capacity() * ForAbsentUsersPercent / 100;
    }

    Delivery(EventLoop& loop, Spool& spool);

    // Where stored messages go out: the client hub.
    void setOffer(Offer offer) { offer_ = std::move(offer); }
    // Called when writable() changes.
    void onWritableChanged(Changed changed) { writableChanged_ = std::move(changed); }

    enum class Result { Stored, Unusable, Full, Failed };
    // Checks, spools and offers the message.
    Result accept(Message message, bool forgeableSender);
    // Says, at a bounded rate, that a message to an account with no desktop was refused.
    void refuseForSystemAccount(const std::string& address, const std::string& account);
    // The spooled messages after id `after` for `user`'s sessions (and those for every
    // session), oldest first, each to `take` until it returns false.
    void eachPendingAfter(const std::string& after, const std::string& user,
                          const std::function<bool(const Message&)>& take) const {
        spool_.eachWaitingAfter(after, user, take);
    }
    void acknowledge(const std::string& id) { spool_.remove(id); }
    // False since a write to the spool failed, until one succeeds or the folder takes files
    // again.
    bool writable() const { return writable_; }
    void checkWritable();

private:
    void setWritable(bool writable);

    Spool& spool_;
    Offer offer_;
    Changed writableChanged_;
    LogLimiter logs_;
    bool writable_ = true;
};

// A message as it came off the wire: names in the OEM code page, the text in the blocks it was
// sent in.
Message wireMessage(std::string_view kind, const std::string& oemFrom, const protocol::Ipv4& sender,
                    const std::string& oemTo, std::span<const std::string> textBlocks,
                    const std::string& user);

// A NetBIOS name from the wire as UTF-8 for logs and clients.
std::string nameText(const std::string& oemName);

} // namespace lanquill::daemon
