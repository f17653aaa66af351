#include "protocol/Browse.h"

#include "protocol/OemCodePage.h"

#include <algorithm>

namespace lanquill::protocol::browse {

namespace {

constexpr std::size_t ServerNameField = 16; // the name, a zero byte, zeros to fill
// Browser protocol version 15.1 and the signature that every announcement carries.
constexpr std::uint8_t BrowserVersionMajor = 0x0F;
constexpr std::uint8_t BrowserVersionMinor = 0x01;
constexpr std::uint16_t Signature = 0xAA55;

bool holdsZero(std::string_view text) {
    return text.find('\0') != std::string_view::npos;
}

} // namespace

std::optional<Bytes> hostAnnouncementDatagram(const mailslot::Source& source,
                                              std::string_view workgroup,
                                              const Announcement& announcement) {
    const auto& name = announcement.serverName;
    if (name.empty() || name.size() > netbios::MaxNameLength || holdsZero(name) ||
        announcement.comment.size() > MaxComment || holdsZero(announcement.comment))
        return std::nullopt;
    ByteWriter frame;
    frame.u8(HostAnnouncement);
    frame.u8(0); // update count: browsers ignore it
    frame.u32le(announcement.periodicityMs);
    frame.text(name).zeros(ServerNameField - name.size());
    frame.u8(announcement.osMajor).u8(announcement.osMinor);
    frame.u32le(announcement.serverType);
    frame.u8(BrowserVersionMajor).u8(BrowserVersionMinor).u16le(Signature);
    frame.text(announcement.comment).u8(0);
    return mailslot::groupDatagram(source, workgroup, netbios::MasterBrowser, Slot, frame.data());
}

std::optional<Frame> parseDatagram(std::span<const std::uint8_t> datagram) {
    auto write = mailslot::parseWrite(datagram);
    if (!write || oem::upperAscii(write->slot) != Slot || write->data.empty())
        return std::nullopt;
    Frame frame;
    frame.source = std::move(write->source);
    frame.destination = std::move(write->destination);
    frame.sourceAddress = write->sourceAddress;
    ByteReader in(write->data);
    frame.opcode = in.u8();
    if (frame.opcode != HostAnnouncement && frame.opcode != LocalMasterAnnouncement)
        return frame;

    Announcement announcement;
    announcement.opcode = frame.opcode;
    in.skip(1); // update count
    announcement.periodicityMs = in.u32le();
    const auto name = in.take(ServerNameField);
    announcement.osMajor = in.u8();
    announcement.osMinor = in.u8();
    announcement.serverType = in.u32le();
    in.skip(4); // browser version, signature: not checked, as browsers do not
    const auto comment = in.take(in.remaining());
    if (!in.ok())
        return std::nullopt;
    // Both text fields end at their first zero byte, or where their bytes end.
    const auto nameEnd = std::find(name.begin(), name.end(), std::uint8_t{0});
    announcement.serverName.assign(name.begin(), nameEnd);
    const auto commentEnd = std::find(comment.begin(), comment.end(), std::uint8_t{0});
    announcement.comment.assign(comment.begin(), commentEnd);
    frame.announcement = std::move(announcement);
    return frame;
}

bool asksWorkgroupToAnnounce(const Frame& frame, std::string_view workgroup) {
    return frame.opcode == AnnouncementRequest &&
           (frame.destination.suffix == netbios::Workstation ||
            frame.destination.suffix == netbios::BrowserElection) &&
           oem::upperAscii(frame.destination.name) == workgroup;
}

} // namespace lanquill::protocol::browse
