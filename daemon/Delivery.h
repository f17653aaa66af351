// From the wire to the desktop: a message is written to the spool before its sender hears
// "accepted", then offered to the sessions it is for, and stays until one acknowledges it.
// What no client could use is dropped at the door, and datagrams, whose senders can be forged,
// may fill only part of the spool: the rest stays for senders over TCP.
#pragma once

#include "daemon/EventLoop.h"
#include "daemon/Log.h"
#include "daemon/Spool.h"
#include "daemon/Users.h"
#include "protocol/Bytes.h"

#include <functional>
#include <span>
#include <string>

namespace lanquill::daemon {

// How the name a message is for reached this computer.
enum class Addressed {
    // Called on the wire (a datagram's destination, a session's called name): every host hears
    // it, and it is ours only as this computer's name or a connected user's.
    ByName,
    // Inside a message that already reached this computer (an SMB send, smbd's hand-in), in any
    // case: a name that is no account's means the computer.
    InMessage,
};

// Whom a message is for; each door turns a refusal into its own wire answer.
struct Recipient {
    enum class Verdict {
        Computer,      // every session
        User,          // `user`'s sessions: the ones there are, or the next one
        SystemAccount, // refused: no desktop session is ever opened for that account
        NotOurs,       // no name of this computer: not answered
    } verdict = Verdict::Computer;
    std::string user; // OEM, with User
};

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

    // `users` is asked only once messages come, so it may be made after this (the client hub,
    // which needs the delivery first).
    Delivery(EventLoop& loop, Spool& spool, const Users& users, std::string computer);

    // The one intake rule: who a message to `name` (OEM) is for, at every door. `sender` names
    // the sender in the log of a refusal.
    Recipient recipient(const std::string& name, Addressed how, const std::string& sender = {});

    // Where stored messages go out: the client hub.
    void setOffer(Offer offer) { offer_ = std::move(offer); }
    // Called when writable() changes.
    void onWritableChanged(Changed changed) { writableChanged_ = std::move(changed); }

    enum class Result { Stored, Unusable, Full, Failed };
    // Checks, spools and offers the message.
    Result accept(Message message, bool forgeableSender);
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
    const Users& users_;
    std::string computer_; // OEM
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
