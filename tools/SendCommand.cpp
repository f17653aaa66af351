#include "tools/SendCommand.h"

#include "net/GroupDelivery.h"
#include "platform/Interfaces.h"
#include "platform/NameService.h"
#include "platform/SmbMessenger.h"
#include "platform/SmbNetworkEnumerator.h"
#include "protocol/Addresses.h"
#include "protocol/NetBios.h"
#include "protocol/OemCodePage.h"
#include "tools/Commands.h"
#include "tools/Texts.h"
#include "tools/WinsOption.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <strings.h>
#include <vector>

namespace lanquill::tools {

namespace {

constexpr std::string_view DomainOption = "/domain:";

// A workgroup message is over within this, the browse list, the lookups and every directed
// copy included: 500 members at the pace of the sends take about half of it.
constexpr std::chrono::seconds GroupSendTime{120};

// Words after the target form the text, joined by single blanks; lanquill itself passes the
// whole text as one argument.
std::string joinText(int argc, char** argv, int first) {
    std::string text;
    for (int i = first; i < argc; ++i) {
        if (i > first)
            text += ' ';
        text += argv[i];
    }
    return text;
}

// Blanks and line breaks alone show the receiver an empty pop-up that tells it nothing.
bool isBlank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n\v\f") == std::string::npos;
}

int usageSend() {
    std::fputs(say("usage: lanquill-net send /domain:WORKGROUP [--member NAME]... text\n"
                   "       lanquill-net send NAME|ADDRESS text\n"
                   "       lanquill-net send --windows --user [DOMAIN\\]USER [--session N] "
                   "COMPUTER text\n"),
               stderr);
    return ExitUsage;
}

// `--member NAME` or `--member=NAME`, repeated, between the workgroup and the text: computers the
// caller knows in the workgroup besides the browse list (the desktop program passes its book's
// page). `--` ends them, for a text that begins with "--member". Returns the index of the text's
// first word, or -1 after saying what is wrong.
int takeMembers(int argc, char** argv, int first, std::vector<std::string>& members) {
    constexpr std::string_view Option = "--member";
    while (first < argc) {
        const std::string_view word = argv[first];
        std::string name;
        if (word == "--")
            return first + 1;
        if (word == Option) {
            if (first + 1 >= argc) {
                std::fputs(say("lanquill-net: --member wants a computer name\n"), stderr);
                return -1;
            }
            name = argv[first + 1];
            first += 2;
        } else if (word.starts_with(Option) && word[Option.size()] == '=') {
            name = word.substr(Option.size() + 1);
            first += 1;
        } else {
            break;
        }
        if (!protocol::netbios::isNetbiosName(name, protocol::netbios::NameUse::Peer)) {
            std::fprintf(stderr, say("lanquill-net: \"%s\" cannot be a computer name\n"),
                         protocol::oem::printable(name).c_str());
            return -1;
        }
        members.push_back(std::move(name));
    }
    return first;
}

// The members to reach beyond the routers: the caller's, then the browse list's (the domain
// master browser merges every subnet's list into it).
std::vector<std::string> workgroupMembers(const std::string& workgroup,
                                          std::vector<std::string> members,
                                          std::chrono::steady_clock::time_point until) {
    platform::SmbNetworkEnumerator network;
    const auto listing = network.browseListOf(workgroup)->waitUntil(std::min(
        until, std::chrono::steady_clock::now() + platform::SmbNetworkEnumerator::BrowseDeadline));
    if (listing)
        members.insert(members.end(), listing->begin(), listing->end());
    return net::distinctMembers(members, platform::ownNetbiosName());
}

// One line per member the directed copies did not reach, saying why.
void reportMissed(const std::vector<net::GroupMiss>& missed,
                  const net::GroupDeliveryOptions& options) {
    using Why = net::GroupMiss::Why;
    for (const net::GroupMiss& miss : missed) {
        const char* name = miss.name.c_str();
        switch (miss.why) {
        case Why::NotFound:
        case Why::SendFailed:
            std::fprintf(stderr, say("lanquill-net: %s: %s (error %u)\n"), name,
                         messengerResultText(miss.code).c_str(), miss.code);
            break;
        case Why::OutsideLan:
            std::fprintf(stderr,
                         say("lanquill-net: %s: not sent: its name was answered with %s, an "
                             "address outside this LAN's networks\n"),
                         name, protocol::formatIpv4(miss.address).c_str());
            break;
        case Why::OverCap:
            std::fprintf(stderr,
                         say("lanquill-net: %s: not sent: only the first %zu members on other "
                             "networks are sent to\n"),
                         name, options.cap);
            break;
        case Why::OutOfTime:
            std::fprintf(stderr,
                         say("lanquill-net: %s: not sent: the %lld seconds for the workgroup "
                             "message were over\n"),
                         name, static_cast<long long>(GroupSendTime.count()));
            break;
        }
    }
}

} // namespace

std::string messengerResultText(std::uint32_t code) {
    namespace m = platform::messenger;
    switch (code) {
    case m::Success:
        return say("delivered");
    case m::InvalidParameter:
        return say("the name or text holds characters that cannot be sent");
    case m::NameNotFound:
        return say("the recipient is not known on the network");
    case m::NetworkError:
        return say("the recipient could not be reached");
    case m::BadTransactConfig:
        return say("the recipient does not speak the messenger protocol");
    case m::MessageRejected:
        return say("the recipient refused the message");
    case m::BufferTooSmall:
        return say("the name or text is too long");
    case m::ReceiverBusy:
        return say("the recipient is busy and refused the connection for lack of resources; "
                   "try again later");
    default:
        return say("error ") + std::to_string(code);
    }
}

std::string broadcastResultText(platform::MailslotSender::Result result) {
    using R = platform::MailslotSender::Result;
    switch (result) {
    case R::Sent:
        return say("sent");
    case R::InvalidText:
        return say("the workgroup name or text holds characters that cannot be sent");
    case R::TooLong:
        return say("the workgroup name or text is too long");
    case R::NoInterface:
        return say("there is no network to broadcast on");
    case R::SendFailed:
        return say("the broadcast could not be sent");
    }
    return say("unknown failure");
}

int runSend(int argc, char** argv) {
    if (argc < 3)
        return usageSend();
    const std::string target = argv[2];
    if (target == "--windows")
        return runWindowsSend(argc, argv);
    const bool toWorkgroup =
        target.size() >= DomainOption.size() &&
        strncasecmp(target.c_str(), DomainOption.data(), DomainOption.size()) == 0;
    std::vector<std::string> members;
    const int textStart = toWorkgroup ? takeMembers(argc, argv, 3, members) : 3;
    if (textStart < 0)
        return usageSend();
    const std::string text = joinText(argc, argv, textStart);
    if (isBlank(text)) {
        std::fputs(say("lanquill-net: there is no text to send: give it after the recipient\n"),
                   stderr);
        return usageSend();
    }
    if (toWorkgroup) {
        const std::string workgroup = target.substr(DomainOption.size());
        // "*", a second option or a control character is no workgroup: the broadcast would go
        // to a group nobody meant, or carry an escape sequence to every receiver's screen.
        if (!protocol::netbios::isNetbiosName(workgroup, protocol::netbios::NameUse::Peer)) {
            std::fputs(say("lanquill-net: that cannot be a workgroup name\n"), stderr);
            return usageSend();
        }
        const auto until = std::chrono::steady_clock::now() + GroupSendTime;
        platform::MailslotSender sender;
        const auto result = sender.send(workgroup, {}, text);
        if (result != platform::MailslotSender::Result::Sent) {
            std::fprintf(stderr, say("lanquill-net: no message to workgroup %s: %s\n"),
                         workgroup.c_str(), broadcastResultText(result).c_str());
            return ExitFailed;
        }
        // A broadcast is never acknowledged: say what was done, not more.
        std::printf(say("The message was broadcast to workgroup %s on %d network(s); receivers do "
                        "not confirm broadcasts.\n"),
                    workgroup.c_str(), sender.interfacesReached());
        // Beyond the routers only a WINS server finds the members by name; without one the
        // broadcast is all there is, as it always was.
        auto resolver = commandResolver();
        if (!resolver.winsServer())
            return ExitOk;
        // The broadcast has reached every computer on our networks: a name answered by
        // broadcast could only be one of them, or someone claiming to be a computer elsewhere.
        resolver.setBroadcast(false);
        const auto interfaces = platform::upInterfaces();
        net::GroupDeliveryOptions options;
        options.until = until;
        const auto reached = net::deliverToMembers(
            workgroupMembers(workgroup, std::move(members), until), {}, text, resolver, interfaces,
            net::lanNetworks(interfaces, resolver.winsServer()),
            [](platform::Resolver& known, std::chrono::steady_clock::time_point end) {
                platform::SmbMessenger::Options sends;
                sends.until = end;
                return std::make_unique<platform::SmbMessenger>(known, sends);
            },
            options);
        if (reached.delivered > 0)
            std::printf(say("The message was delivered to %zu computer(s) of workgroup %s on "
                            "other networks.\n"),
                        reached.delivered, workgroup.c_str());
        // The broadcast went out, which is what the exit status has always reported.
        reportMissed(reached.missed, options);
        if (!reached.missed.empty())
            std::fprintf(stderr,
                         say("lanquill-net: %zu member(s) of workgroup %s on other networks were "
                             "not reached\n"),
                         reached.missed.size(), workgroup.c_str());
        return ExitOk;
    }
    // The option without its workgroup is no computer name.
    if (strcasecmp(target.c_str(), "/domain") == 0)
        return usageSend();
    if (target == "*") {
        std::fputs(say("lanquill-net: send * is not supported; use /domain:WORKGROUP\n"), stderr);
        return ExitUsage;
    }
    auto resolver = commandResolver();
    platform::SmbMessenger messenger(resolver);
    const std::uint32_t code = messenger.send(target, {}, text);
    if (code != platform::messenger::Success) {
        std::fprintf(stderr,
                     say("lanquill-net: the message to %s was not delivered: %s (error %u)\n"),
                     target.c_str(), messengerResultText(code).c_str(), code);
        return ExitFailed;
    }
    std::printf(say("The message was delivered to %s.\n"), target.c_str());
    return ExitOk;
}

} // namespace lanquill::tools
