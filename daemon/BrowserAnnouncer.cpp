#include "daemon/BrowserAnnouncer.h"

#include "daemon/Delivery.h"
#include "daemon/Log.h"
#include "platform/UdpSocket.h"
#include "protocol/Browse.h"

#include <array>

namespace lanquill::daemon {

namespace browse = protocol::browse;
using namespace std::chrono_literals;

namespace {

// The waits after the first scheduled announcements; LongestPeriod after the rest. A host that
// has just come up is announced often, so that a master browser that missed the first hears it
// soon.
constexpr std::array<Clock::duration, 4> FirstPeriods{1min, 2min, 4min, 8min};

// A workstation whose server service takes SMB sessions on TCP 139: lanquilld announces only
// where it holds that port. Without the server bit the host would be missing from the lists of
// libsmbclient (the add-group dialog, `lanquill-net view`), which asks for any type but a bare
// workstation. No browser bits: lanquilld takes no part in elections and keeps no list.
constexpr std::uint32_t ServerType = browse::type::Workstation | browse::type::Server;
constexpr std::string_view Comment = "Lanquill";
// The version Samba's nmbd announces; browse clients show it, none acts on it.
constexpr std::uint8_t OsMajor = 6;
constexpr std::uint8_t OsMinor = 1;

} // namespace

BrowserAnnouncer::BrowserAnnouncer(EventLoop& loop, LocalNetwork& network, Send send,
                                   Identity identity)
    : loop_(loop), network_(network), send_(std::move(send)), identity_(std::move(identity)),
      random_(std::random_device{}()) {}

BrowserAnnouncer::~BrowserAnnouncer() {
    loop_.cancel(next_);
    loop_.cancel(answer_);
}

void BrowserAnnouncer::start() {
    if (running_)
        return;
    browse::Announcement probe;
    probe.serverName = identity_.computer;
    if (!browse::hostAnnouncementDatagram({.name = identity_.computer}, identity_.workgroup,
                                          probe)) {
        log(Priority::Warning, "the computer " + nameText(identity_.computer) +
                                   " cannot be announced to workgroup " +
                                   nameText(identity_.workgroup) + ": not in browse lists");
        return;
    }
    running_ = true;
    scheduled();
}

void BrowserAnnouncer::stop() {
    if (!running_)
        return;
    running_ = false;
    loop_.cancel(next_);
    loop_.cancel(answer_);
    next_ = answer_ = 0;
    period_ = {};
    announce(0);
}

void BrowserAnnouncer::scheduled() {
    period_ = announced_ < static_cast<int>(FirstPeriods.size()) ? FirstPeriods[announced_]
                                                                 : LongestPeriod;
    ++announced_;
    announce(ServerType);
    next_ = loop_.after(period_, [this] { scheduled(); });
}

void BrowserAnnouncer::onDatagram(std::span<const std::uint8_t> data, const Ipv4& from) {
    // One answer pending at a time: a storm of requests gets one announcement per window.
    if (!running_ || answer_ != 0)
        return;
    const auto frame = browse::parseDatagram(data);
    if (!frame || !browse::asksWorkgroupToAnnounce(*frame, identity_.workgroup) ||
        !network_.onLink(from))
        return;
    std::uniform_int_distribution<long> wait(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(AnswerWindow).count());
    answer_ = loop_.after(std::chrono::milliseconds(wait(random_)), [this] {
        answer_ = 0;
        announce(ServerType);
    });
}

void BrowserAnnouncer::announce(std::uint32_t serverType) {
    browse::Announcement announcement;
    announcement.periodicityMs = static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(period_).count());
    announcement.serverName = identity_.computer;
    announcement.osMajor = OsMajor;
    announcement.osMinor = OsMinor;
    announcement.serverType = serverType;
    announcement.comment = Comment;
    for (const auto& entry : network_.interfaces()) {
        if (!entry.broadcast)
            continue;
        protocol::mailslot::Source source;
        source.datagramId = platform::nextTransactionId();
        source.address = entry.address;
        source.name = identity_.computer;
        if (const auto datagram =
                browse::hostAnnouncementDatagram(source, identity_.workgroup, announcement))
            send_(*entry.broadcast, entry.address, *datagram);
    }
}

} // namespace lanquill::daemon
