// What lanquilld's datagram service hands the browser announcer: any datagram on UDP 138 that is
// no messenger message. The parser stays within the bytes it is given (the sanitizers check),
// the data it points to lies inside them, and an announcement it reads, built again, reads back
// as the same fields.
#include "protocol/Browse.h"

#include <cstddef>
#include <cstdint>
#include <span>

using namespace lanquill::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    if (const auto write = mailslot::parseWrite(input))
        if (write->data.data() < data || write->data.data() + write->data.size() > data + size)
            __builtin_trap();
    const auto frame = browse::parseDatagram(input);
    if (!frame || !frame->announcement)
        return 0;
    const auto& announcement = *frame->announcement;
    if (announcement.serverName.size() > 16 || announcement.comment.size() > size)
        __builtin_trap();
    mailslot::Source source;
    source.name = frame->source.name;
    source.address = frame->sourceAddress;
    const auto again = browse::hostAnnouncementDatagram(source, "WG", announcement);
    if (!again)
        return 0; // a name or comment we would not send
    const auto back = browse::parseDatagram(*again);
    if (!back || !back->announcement || back->announcement->serverName != announcement.serverName ||
        back->announcement->comment != announcement.comment ||
        back->announcement->serverType != announcement.serverType ||
        back->announcement->periodicityMs != announcement.periodicityMs ||
        back->destination.suffix != netbios::MasterBrowser)
        __builtin_trap();
    return 0;
}
