#include "daemon/Admission.h"

#include "protocol/Addresses.h"

#include <algorithm>
#include <utility>

namespace lanquill::daemon {

namespace {
constexpr auto Minute = std::chrono::seconds(60);

std::uint32_t subnetOf(const Ipv4& address) {
    return std::uint32_t{address[0]} << 16 | std::uint32_t{address[1]} << 8 | address[2];
}
} // namespace

void RateWindow::expire(TimePoint now) {
    while (!times_.empty() && now - times_.front() >= Minute)
        times_.pop_front();
}

bool RateWindow::take(TimePoint now, std::size_t limit) {
    expire(now);
    if (times_.size() >= limit)
        return false;
    times_.push_back(now);
    return true;
}

std::size_t RateWindow::count(TimePoint now) const {
    return static_cast<std::size_t>(std::count_if(
        times_.begin(), times_.end(), [&](TimePoint time) { return now - time < Minute; }));
}

bool RateWindow::empty(TimePoint now) const {
    return times_.empty() || now - times_.back() >= Minute;
}

Admission::Admission(EventLoop& loop, LocalNetwork& network, Rules rules)
    : loop_(loop), network_(network), rules_(rules), logs_(loop, 10) {}

bool Admission::admit(const Ipv4& sender, std::size_t textBytes, Channel channel) {
    if (textBytes > MaxTextBytes) {
        logs_.log("oversized messages", Priority::Notice,
                  "message of " + std::to_string(textBytes) + " bytes from " +
                      protocol::formatIpv4(sender) + " refused: the limit is " +
                      std::to_string(MaxTextBytes));
        return false;
    }
    return senderAllowed(sender) && withinRates(sender, channel);
}

bool Admission::local(const Ipv4& sender) {
    if (rules_.allowOffLink || network_.onLink(sender))
        return true;
    const auto within = [&](const Network& network) {
        return sameSubnet(sender, network.address, network.prefixLength);
    };
    static constexpr Network PrivateRanges[] = {
        {{10, 0, 0, 0}, 8}, {{172, 16, 0, 0}, 12}, {{192, 168, 0, 0}, 16}};
    return std::ranges::any_of(rules_.allowFrom, within) ||
           (rules_.routedLan && std::ranges::any_of(PrivateRanges, within));
}

RateWindow* Admission::trackedWindow(std::map<Ipv4, RateWindow>& table, const Ipv4& sender) {
    if (pruneTimer_ == 0)
        pruneTimer_ = loop_.after(Minute, [this] { prune(); });
    auto entry = table.find(sender);
    if (entry == table.end()) {
        if (tracked() >= MaxTracked)
            return nullptr;
        entry = table.emplace(sender, RateWindow{}).first;
    }
    return &entry->second;
}

bool Admission::mayAnswer(const Ipv4& sender) {
    if (network_.onLink(sender))
        return true;
    if (!local(sender))
        return false;
    // An off-link source proves nothing (no ARP stands behind it): answers there, each larger
    // than its question, get a budget per source and one in all, so that forged sources cannot
    // aim a stream of them at a third host.
    const auto now = loop_.now();
    RateWindow* window = trackedWindow(answersBySender_, sender);
    if (!window)
        return false;
    if (!window->take(now, OffLinkAnswersPerSenderPerMinute) ||
        !offLinkAnswers_.take(now, OffLinkAnswersPerMinute)) {
        logs_.log("off-link answers", Priority::Notice,
                  "not answering " + protocol::formatIpv4(sender) +
                      ": answers to other subnets are over their rate");
        return false;
    }
    return true;
}

bool Admission::senderAllowed(const Ipv4& sender) {
    if (local(sender))
        return true;
    logs_.log("off-link senders", Priority::Warning,
              "refusing messages from " + protocol::formatIpv4(sender) +
                  ": not on a local subnet (--allow-from or --allow-off-link allows it)");
    return false;
}

std::size_t Admission::sessionsOpened(const Ipv4& sender) const {
    const auto entry = sessionsBySender_.find(sender);
    return entry == sessionsBySender_.end() ? 0 : entry->second.count(loop_.now());
}

bool Admission::sessionWithinRate(const Ipv4& sender) {
    if (sessionsPerMinute() == 0)
        return true;
    RateWindow* window = trackedWindow(sessionsBySender_, sender);
    if (!window)
        return false;
    if (window->take(loop_.now(), sessionsPerMinute()))
        return true;
    logs_.log("session rate", Priority::Warning,
              "more than " + std::to_string(sessionsPerMinute()) + " sessions a minute from " +
                  protocol::formatIpv4(sender) + ": refused");
    return false;
}

bool Admission::withinRates(const Ipv4& sender, Channel channel) {
    const auto now = loop_.now();
    if (pruneTimer_ == 0)
        pruneTimer_ = loop_.after(Minute, [this] { prune(); });
    const auto refuse = [&](const std::string& why) {
        logs_.log("rate limits", Priority::Warning,
                  "message from " + protocol::formatIpv4(sender) + " refused: " + why);
        return false;
    };
    // The sender's own rate first: what one host sends over it must not use up the budgets that
    // every host shares, nor their log lines.
    if (rules_.messagesPerMinute != 0) {
        auto entry = bySender_.find(sender);
        if (entry == bySender_.end()) {
            if (tracked() >= MaxTracked && channel == Channel::Datagram)
                return refuse("too many senders at once");
            entry = bySender_.emplace(sender, Sender{}).first;
        }
        Sender& known = entry->second;
        if (!known.window.take(now, rules_.messagesPerMinute)) {
            if (!std::exchange(known.refusalLogged, true))
                log(Priority::Warning, "more than " + std::to_string(rules_.messagesPerMinute) +
                                           " messages a minute from " +
                                           protocol::formatIpv4(sender) +
                                           ": refusing its messages for now");
            return false;
        }
        known.refusalLogged = false;
    }
    if (channel != Channel::Datagram)
        return true;
    // Forged sources cost nothing: each subnet and the intake as a whole have a ceiling, and the
    // tables stop growing at their bound.
    auto subnet = bySubnet_.find(subnetOf(sender));
    if (subnet == bySubnet_.end()) {
        if (tracked() >= MaxTracked)
            return refuse("too many senders at once");
        subnet = bySubnet_.emplace(subnetOf(sender), RateWindow{}).first;
    }
    if (!subnet->second.take(now, rules_.datagramsPerSubnetPerMinute))
        return refuse("more than " + std::to_string(rules_.datagramsPerSubnetPerMinute) +
                      " datagram messages a minute from its subnet");
    if (!datagrams_.take(now, rules_.datagramsPerMinute))
        return refuse("more than " + std::to_string(rules_.datagramsPerMinute) +
                      " datagram messages a minute in all");
    return true;
}

void Admission::prune() {
    pruneTimer_ = 0;
    const auto now = loop_.now();
    std::erase_if(bySender_, [&](auto& entry) { return entry.second.window.empty(now); });
    std::erase_if(bySubnet_, [&](auto& entry) { return entry.second.empty(now); });
    std::erase_if(sessionsBySender_, [&](auto& entry) { return entry.second.empty(now); });
    std::erase_if(answersBySender_, [&](auto& entry) { return entry.second.empty(now); });
    if (tracked() != 0)
        pruneTimer_ = loop_.after(Minute, [this] { prune(); });
}

} // namespace lanquill::daemon
