// Keeps this computer in its workgroup's browse list, as a workstation's server service does:
// Host Announcements to WORKGROUP<1D> (the master browser) on the datagram service, broadcast on
// each interface. One at start, then after 1, 2, 4 and 8 minutes and every 12 minutes from then
// on (a master browser drops a host it has not heard from in three of its periods); one after an
// Announcement Request, at a random moment of the next 30 s so that a workgroup's hosts do not
// all answer at once; and one at stop with server type 0, which takes us out of the list at
// once instead of after three periods.
//
// Only where lanquilld owns the machine's names: beside Samba's nmbd, nmbd announces the machine.
#pragma once

#include "daemon/EventLoop.h"
#include "daemon/LocalNetwork.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <span>
#include <string>

namespace lanquill::daemon {

class BrowserAnnouncer {
public:
    struct Identity {
        std::string computer;  // OEM
        std::string workgroup; // OEM
    };
    // Sends one datagram to UDP 138 of `to`, from the interface address `source`.
    using Send = std::function<void(const Ipv4& to, const Ipv4& source,
                                    std::span<const std::uint8_t> datagram)>;

    static constexpr auto AnswerWindow = std::chrono::seconds(30);
    static constexpr auto LongestPeriod = std::chrono::minutes(12);

    BrowserAnnouncer(EventLoop& loop, LocalNetwork& network, Send send, Identity identity);
    ~BrowserAnnouncer();
    BrowserAnnouncer(const BrowserAnnouncer&) = delete;
    BrowserAnnouncer& operator=(const BrowserAnnouncer&) = delete;

    // Announces now and keeps announcing.
    void start();
    // The last announcement, server type 0; nothing more after it.
    void stop();
    // A datagram of the datagram service that is no messenger message: an Announcement Request
    // for our workgroup from a host on a local subnet is answered, anything else is ignored.
    void onDatagram(std::span<const std::uint8_t> data, const Ipv4& from);

private:
    void announce(std::uint32_t serverType);
    void scheduled();

    EventLoop& loop_;
    LocalNetwork& network_;
    Send send_;
    Identity identity_;
    bool running_ = false;
    int announced_ = 0; // scheduled announcements so far
    Clock::duration period_{};
    EventLoop::TimerId next_ = 0;
    EventLoop::TimerId answer_ = 0;
    std::minstd_rand random_;
};

} // namespace lanquill::daemon
