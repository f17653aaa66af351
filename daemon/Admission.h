// Who may hand lanquilld a message: the checks every message passes, whichever way it came
// (datagram, TCP 139 session, smbd through lanquill-deliver). Refusals are logged once per
// sender and period, not once per message.
#pragma once

#include "daemon/EventLoop.h"
#include "daemon/LocalNetwork.h"

#include <cstddef>
#include <deque>
#include <map>
#include <set>

namespace lanquill::daemon {

class Admission {
public:
    struct Rules {
        bool allowOffLink = false;
        std::size_t messagesPerMinute = 20; // per sender address; 0: no limit
    };
    static constexpr std::size_t MaxTextBytes = 1600;

    Admission(EventLoop& loop, LocalNetwork& network, Rules rules);

    // True when a message of `textBytes` from `sender` may be taken; counts it against the
    // sender's rate.
    bool admit(const Ipv4& sender, std::size_t textBytes);
    bool senderAllowed(const Ipv4& sender);

private:
    bool withinRate(const Ipv4& sender);

    EventLoop& loop_;
    LocalNetwork& network_;
    Rules rules_;
    std::map<Ipv4, std::deque<TimePoint>> recentBySender_;
    std::set<Ipv4> refusedLogged_;
    std::set<Ipv4> offLinkLogged_;
};

} // namespace lanquill::daemon
