#include "daemon/Daemon.h"

#include "daemon/Admission.h"
#include "daemon/BrowserAnnouncer.h"
#include "daemon/ClientHub.h"
#include "daemon/DatagramService.h"
#include "daemon/Delivery.h"
#include "daemon/LocalNetwork.h"
#include "daemon/Log.h"
#include "daemon/MessengerService.h"
#include "daemon/NameService.h"
#include "daemon/Spool.h"
#include "platform/UdpSocket.h"
#include "protocol/Addresses.h"
#include "protocol/SessionProtocol.h"

#include <csignal>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>

namespace lanquill::daemon {

namespace {

// The UDP sockets answer from the address a question came to, and broadcast.
void prepareDatagramSocket(platform::UdpSocket& socket, int fd) {
    socket.adopt(fd);
    setNonBlocking(fd);
    const int on = 1;
    checked(::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on), "setsockopt(SO_BROADCAST)");
    if (!socket.reportArrival())
        checked(-1, "setsockopt(IP_PKTINFO)");
}

} // namespace

namespace {

Admission::Rules admissionRules(const Config& config) {
    Admission::Rules rules;
    rules.allowOffLink = config.allowOffLink;
    rules.messagesPerMinute = config.messagesPerMinute;
    rules.routedLan = config.winsServer.has_value();
    for (const auto& [address, prefixLength] : config.allowFrom)
        rules.allowFrom.push_back({address, prefixLength});
    return rules;
}

} // namespace

struct Daemon::Services {
    Config config;
    EventLoop loop;
    LocalNetwork network{loop};
    platform::UdpSocket nameSocket;
    platform::UdpSocket datagramSocket;
    Spool spool;
    Delivery delivery{loop, spool, hub, config.computer};
    Admission admission{loop, network, admissionRules(config)};
    ClientHub hub{loop, delivery, admission, {config.computer, config.workgroup}};
    NameService names{
        loop,    nameSocket,
        network, admission,
        hub,     {config.computer, config.workgroup, config.sessionSocket >= 0, config.winsServer}};
    DatagramService datagrams{loop,      datagramSocket, network,
                              admission, delivery,       {config.workgroup}};
    MessengerService messenger{loop, admission, delivery, {config.computer}};
    BrowserAnnouncer browser{
        loop,
        network,
        [this](const Ipv4& to, const Ipv4& source, std::span<const std::uint8_t> datagram) {
            datagramSocket.sendFrom(to, protocol::netbios::DatagramPort, datagram, source);
        },
        {config.computer, config.workgroup}};
    std::string nameLost;

    explicit Services(Config c) : config(std::move(c)), spool(config.stateFolder / "spool") {}

    // What sessions are told: the worst of what keeps messages from arriving.
    void updateStatus() {
        namespace session = protocol::session;
        if (!delivery.writable())
            hub.setStatus(session::SpoolUnwritable, "the spool " +
                                                        (config.stateFolder / "spool").string() +
                                                        " cannot be written: senders are refused");
        else if (!nameLost.empty())
            hub.setStatus(session::NameLost, nameLost);
        else if (config.sessionSocket < 0)
            hub.setStatus(session::No139, config.no139Reason);
        else
            hub.setStatus(session::Receiving, "");
    }

    // A lanquilld that runs for months still lets old messages go.
    void expireEvery(Clock::duration period) {
        spool.expire();
        loop.after(period, [this, period] { expireEvery(period); });
    }

    // The spool's folder may become writable again (a disk made room, a mode put right).
    void checkSpoolEvery(Clock::duration period) {
        loop.after(period, [this, period] {
            delivery.checkWritable();
            checkSpoolEvery(period);
        });
    }
};

Daemon::Daemon(Config config) : services_(std::make_unique<Services>(std::move(config))) {}
Daemon::~Daemon() = default;

int Daemon::run() {
    Services& s = *services_;
    const Config& config = s.config;
    std::signal(SIGPIPE, SIG_IGN);
    s.loop.onSignals({SIGTERM, SIGINT}, [&](int) { s.loop.stop(); });

    prepareDatagramSocket(s.nameSocket, config.nameSocket);
    prepareDatagramSocket(s.datagramSocket, config.datagramSocket);
    s.loop.watch(config.nameSocket, EPOLLIN, [&](std::uint32_t) { s.names.onReadable(); });
    s.loop.watch(config.datagramSocket, EPOLLIN, [&](std::uint32_t) { s.datagrams.onReadable(); });
    if (config.sessionSocket >= 0)
        s.messenger.listen(config.sessionSocket);
    else
        log(Priority::Warning, "no session service on TCP 139 (" + config.no139Reason +
                                   "): receiving through smbd's message command and the "
                                   "datagram service; see lanquill-net receiver-config");

    s.hub.onUserEvents(
        [&](const std::string& user) {
            log(Priority::Info, "first session of " + nameText(user) + ": registering its name");
            s.names.registerUser(user);
        },
        [&](const std::string& user) {
            log(Priority::Info, "last session of " + nameText(user) + " gone: releasing its name");
            s.names.releaseUser(user);
        });
    s.delivery.onWritableChanged([&] { s.updateStatus(); });
    s.names.onNameLost([&](const std::string& why) {
        s.nameLost = why;
        s.updateStatus();
    });
    s.updateStatus();
    s.checkSpoolEvery(std::chrono::seconds(30));
    s.hub.listen(config.runtimeFolder / protocol::session::SocketFileName);
    s.names.start();
    // Beside smbd, nmbd owns the machine's names and announces it to the browse list itself.
    s.datagrams.onOtherDatagrams([&](std::span<const std::uint8_t> data, const Ipv4& from) {
        s.browser.onDatagram(data, from);
    });
    if (config.sessionSocket >= 0)
        s.browser.start();
    s.expireEvery(std::chrono::hours(1));
    log(Priority::Info,
        "receiving as " + nameText(config.computer) + " in workgroup " +
            nameText(config.workgroup) +
            (config.winsServer ? ", WINS server " + protocol::formatIpv4(*config.winsServer)
                               : std::string(", no WINS server")));

    s.loop.run();

    s.browser.stop();
    s.names.stop();
    log(Priority::Info, "names released, stopping");
    return 0;
}

} // namespace lanquill::daemon
