#include "platform/MailslotSender.h"

#include "platform/Interfaces.h"
#include "platform/NameService.h"
#include "platform/UdpSocket.h"
#include "protocol/Mailslot.h"
#include "protocol/MessageLimits.h"
#include "protocol/OemCodePage.h"

namespace lanquill::platform {

namespace netbios = protocol::netbios;
namespace oem = protocol::oem;
namespace mailslot = protocol::mailslot;

MailslotSender::Result MailslotSender::send(const std::string& workgroup, const std::string& from,
                                            const std::string& text) {
    reached_ = 0;
    for (const auto* part : {&workgroup, &from, &text})
        if (part->find('\0') != std::string::npos)
            return Result::InvalidText;
    const auto units = oem::utf16Length(text);
    if (!units)
        return Result::InvalidText;
    if (*units > protocol::MaxMessageTextUnits)
        return Result::TooLong;
    const auto oemGroup = oem::fromUtf8(workgroup);
    const auto oemGroupName = oem::fromUtf8(oem::upperAscii(workgroup));
    const auto oemText = oem::fromUtf8(text);
    const auto oemFrom =
        from.empty() ? std::optional<std::string>(ownNetbiosName()) : oem::fromUtf8(from);
    if (!oemGroup || !oemGroupName || !oemText || !oemFrom || oemGroup->empty())
        return Result::InvalidText;
    if (oemGroupName->size() > netbios::MaxNameLength || oemFrom->size() > netbios::MaxNameLength)
        return Result::TooLong;

    const auto parts = mailslot::messengerData(*oemFrom, *oemGroup, *oemText);
    if (parts.empty())
        return Result::TooLong;
    const auto interfaces = broadcastInterfaces();
    if (interfaces.empty())
        return Result::NoInterface;
    // Windows sends from the datagram port; when another service holds it, an ephemeral port
    // still reaches every receiver (they answer nothing).
    UdpSocket socket;
    if (!socket.open(netbios::DatagramPort) && !socket.open())
        return Result::SendFailed;
    if (!socket.allowBroadcast())
        return Result::SendFailed;
    const std::uint16_t sourcePort = socket.localPort();
    const std::string sourceName = ownNetbiosName();
    for (const auto& entry : interfaces) {
        bool all = true;
        for (const auto& data : parts) {
            mailslot::Source source;
            source.datagramId = nextTransactionId();
            source.address = entry.address;
            source.port = sourcePort;
            source.name = sourceName;
            const auto datagram = mailslot::messengerDatagram(source, *oemGroupName, data);
            all =
                all && datagram && socket.sendTo(entry.broadcast, netbios::DatagramPort, *datagram);
        }
        if (all)
            ++reached_;
    }
    return reached_ > 0 ? Result::Sent : Result::SendFailed;
}

} // namespace lanquill::platform
