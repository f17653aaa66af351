#include "daemon/Admission.h"

#include "daemon/Log.h"
#include "protocol/Addresses.h"

namespace lanquill::daemon {

Admission::Admission(EventLoop& loop, LocalNetwork& network, Rules rules)
    : loop_(loop), network_(network), rules_(rules) {}

bool Admission::admit(const Ipv4& sender, std::size_t textBytes) {
    if (textBytes > MaxTextBytes) {
        log(Priority::Notice, "message of " + std::to_string(textBytes) + " bytes from " +
                                  protocol::formatIpv4(sender) + " refused: the limit is " +
                                  std::to_string(MaxTextBytes));
        return false;
    }
    return senderAllowed(sender) && withinRate(sender);
}

bool Admission::senderAllowed(const Ipv4& sender) {
    if (rules_.allowOffLink || network_.onLink(sender))
        return true;
    if (offLinkLogged_.insert(sender).second)
        log(Priority::Warning, "refusing messages from " + protocol::formatIpv4(sender) +
                                   ": not on a local subnet (--allow-off-link allows it)");
    return false;
}

bool Admission::withinRate(const Ipv4& sender) {
    if (rules_.messagesPerMinute == 0)
        return true;
    const auto now = loop_.now();
    auto& times = recentBySender_[sender];
    while (!times.empty() && now - times.front() > std::chrono::seconds(60))
        times.pop_front();
    if (times.size() >= rules_.messagesPerMinute) {
        if (refusedLogged_.insert(sender).second)
            log(Priority::Warning, "more than " + std::to_string(rules_.messagesPerMinute) +
                                       " messages a minute from " + protocol::formatIpv4(sender) +
                                       ": refusing its messages for now");
        return false;
    }
    refusedLogged_.erase(sender);
    times.push_back(now);
    return true;
}

} // namespace lanquill::daemon
