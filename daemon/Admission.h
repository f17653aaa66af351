// Who may hand lanquilld a message: the checks every message passes, whichever way it came
// (datagram, TCP 139 session, smbd through lanquill-deliver). A datagram's source address can be
// forged, so datagrams are also limited as a whole and per subnet; a session's address cannot
// (TCP answers it). Every table here is bounded, whatever addresses a flood uses.
#pragma once

#include "daemon/EventLoop.h"
#include "daemon/LocalNetwork.h"
#include "daemon/Log.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

namespace lanquill::daemon {

// Arrivals in the last minute, at most `limit` of them kept.
class RateWindow {
public:
    // True and counted when fewer than `limit` came in the minute up to `now`.
    bool take(TimePoint now, std::size_t limit);
    // Nothing came in the minute up to `now`.
    bool empty(TimePoint now) const;
    std::size_t count(TimePoint now) const;

private:
    void expire(TimePoint now);
    std::deque<TimePoint> times_;
};

class Admission {
public:
    enum class Channel { Datagram, Session, HandedIn };
    struct Network {
        Ipv4 address{};
        int prefixLength = 32;
    };
    struct Rules {
        bool allowOffLink = false;
        std::size_t messagesPerMinute = 20; // per sender address; 0: no limit
        std::size_t datagramsPerMinute = 60;
        std::size_t datagramsPerSubnetPerMinute = 30; // per /24
        // With a WINS server the LAN is routed: its other subnets count as local, that is the
        // private address ranges (10/8, 172.16/12, 192.168/16).
        bool routedLan = false;
        std::vector<Network> allowFrom{}; // --allow-from CIDR, with or without a WINS server
    };
    // Room for what the sending side allows: 1,000 characters, as CP936 (2 bytes each) or as
    // the UTF-8 (3 bytes each) that Linux senders hand in as it is.
    static constexpr std::size_t MaxTextBytes = 4000;
    // Senders and subnets remembered at once; past it, new datagram senders wait their turn.
    static constexpr std::size_t MaxTracked = 4096;

    Admission(EventLoop& loop, LocalNetwork& network, Rules rules);
    ~Admission() { loop_.cancel(pruneTimer_); }
    Admission(const Admission&) = delete;
    Admission& operator=(const Admission&) = delete;

    // True when a message of `textBytes` from `sender` may be taken; counts it.
    bool admit(const Ipv4& sender, std::size_t textBytes, Channel channel);
    // On a local subnet, or off-link senders allowed; refusals logged at a bounded rate.
    bool senderAllowed(const Ipv4& sender);
    // A new TCP 139 session from `sender` is within its rate; counts it.
    bool sessionWithinRate(const Ipv4& sender);
    // Sessions `sender` opened in the last minute.
    std::size_t sessionsOpened(const Ipv4& sender) const;
    // Twice a sender's messages a minute (a retry each), so that a host that opens session after
    // session to push others' out is held to a pace no real sender comes near; 0: no limit.
    std::size_t sessionsPerMinute() const { return 2 * rules_.messagesPerMinute; }
    // Whether a question from `sender` may be answered now (node status, name queries): on a
    // local subnet always; from the other subnets of a routed LAN within a rate, since an
    // answer larger than the question must not stream to forged off-link addresses.
    static constexpr std::size_t OffLinkAnswersPerSenderPerMinute = 30;
    static constexpr std::size_t OffLinkAnswersPerMinute = 120;
    bool mayAnswer(const Ipv4& sender);
    std::size_t tracked() const {
        return bySender_.size() + bySubnet_.size() + sessionsBySender_.size() +
               answersBySender_.size();
    }

private:
    // On a local subnet, or in the networks taken as the LAN (routed, --allow-from).
    bool local(const Ipv4& sender);
    bool withinRates(const Ipv4& sender, Channel channel);
    // `sender`'s window in `table` (the prune timer armed); nullptr once the tables are full.
    RateWindow* trackedWindow(std::map<Ipv4, RateWindow>& table, const Ipv4& sender);
    void prune();

    EventLoop& loop_;
    LocalNetwork& network_;
    Rules rules_;
    LogLimiter logs_;
    RateWindow datagrams_;
    struct Sender {
        RateWindow window;
        bool refusalLogged = false; // once until it is within its rate again
    };
    std::map<Ipv4, Sender> bySender_;
    std::map<std::uint32_t, RateWindow> bySubnet_;
    std::map<Ipv4, RateWindow> sessionsBySender_;
    std::map<Ipv4, RateWindow> answersBySender_;
    RateWindow offLinkAnswers_;
    EventLoop::TimerId pruneTimer_ = 0;
};

} // namespace lanquill::daemon
