#include "protocol/Mailslot.h"

#include "protocol/OemCodePage.h"
#include "protocol/SmbMessage.h"

#include <algorithm>

namespace lanquill::protocol::mailslot {

namespace {

constexpr std::uint8_t DirectUnique = 0x10;
constexpr std::uint8_t DirectGroup = 0x11;
constexpr std::uint8_t Broadcast = 0x12;
constexpr std::uint8_t FirstFragment = 0x02;
constexpr std::size_t NamesLength = 2 * netbios::EncodedNameLength;
constexpr std::uint8_t Transaction = 0x25;
constexpr std::size_t WordCount = 17;
constexpr std::string_view MessengerSlot = "\\MAILSLOT\\MESSNGR";
// Where the words of a TRANSACTION carry the data count and offset, the setup count, the first
// setup word.
constexpr std::size_t DataCountWord = 11;
constexpr std::size_t DataOffsetWord = 12;
constexpr std::size_t SetupCountWord = 13;
constexpr std::size_t FirstSetupWord = 14;
constexpr std::uint16_t MailslotWrite = 1;

std::span<const std::uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

} // namespace

std::optional<Bytes> groupDatagram(const Source& source, std::string_view group,
                                   std::uint8_t suffix, std::string_view slot,
                                   std::span<const std::uint8_t> data) {
    const auto sourceName = netbios::encodeName(source.name, netbios::Workstation);
    const auto destination = netbios::encodeName(group, suffix);
    if (!sourceName || !destination || data.size() > MaxData)
        return std::nullopt;
    const auto n = static_cast<std::uint16_t>(data.size());
    // From the SMB header's first byte: header, word count, words, byte count, slot name.
    const std::size_t dataOffset = smb::HeaderLength + 1 + 2 * WordCount + 2 + slot.size() + 1;

    ByteWriter smb(smb::header(Transaction));
    smb.u8(static_cast<std::uint8_t>(WordCount));
    smb.u16le(0);    // total parameter count
    smb.u16le(n);    // total data count
    smb.u16le(0);    // max parameter count
    smb.u16le(0);    // max data count
    smb.u8(0).u8(0); // max setup count, reserved
    smb.u16le(0);    // flags
    smb.u32le(0);    // timeout
    smb.u16le(0);    // reserved
    smb.u16le(0);    // parameter count
    smb.u16le(0);    // parameter offset
    smb.u16le(n);    // data count
    smb.u16le(static_cast<std::uint16_t>(dataOffset));
    smb.u8(3).u8(0); // setup count, reserved
    smb.u16le(MailslotWrite);
    smb.u16le(1); // priority
    smb.u16le(2); // class 2: unreliable, broadcast
    smb.u16le(static_cast<std::uint16_t>(slot.size() + 1 + data.size()));
    smb.text(slot).u8(0).bytes(data);

    ByteWriter out;
    out.u8(DirectGroup).u8(FirstFragment).u16be(source.datagramId);
    out.bytes(source.address).u16be(source.port);
    out.u16be(static_cast<std::uint16_t>(NamesLength + smb.size()));
    out.u16be(0); // packet offset
    out.bytes(*sourceName).bytes(*destination).bytes(smb.data());
    return out.take();
}

std::optional<Write> parseWrite(std::span<const std::uint8_t> datagram) {
    ByteReader in(datagram);
    const std::uint8_t type = in.u8();
    in.skip(3); // flags, datagram id
    const auto address = in.take(4);
    in.skip(2); // source port
    const std::size_t declared = in.u16be();
    in.skip(2); // packet offset
    auto sourceName = netbios::decodeName(in.take(netbios::EncodedNameLength));
    auto destination = netbios::decodeName(in.take(netbios::EncodedNameLength));
    if (!in.ok() || (type != DirectUnique && type != DirectGroup && type != Broadcast) ||
        !sourceName || !destination || declared < NamesLength ||
        declared - NamesLength > in.remaining())
        return std::nullopt;
    const auto smbBytes = in.take(declared - NamesLength);

    const auto packet = smb::parsePacket(smbBytes);
    if (!packet || packet->command != Transaction || packet->words.size() != WordCount ||
        (packet->words[SetupCountWord] & 0xFF) != 3 ||
        packet->words[FirstSetupWord] != MailslotWrite)
        return std::nullopt;
    ByteReader slot(packet->bytes);
    Write write;
    write.slot = slot.zeroTerminated();
    const std::size_t dataCount = packet->words[DataCountWord];
    const std::size_t dataOffset = packet->words[DataOffsetWord];
    if (!slot.ok() || dataOffset > smbBytes.size() || smbBytes.size() - dataOffset < dataCount)
        return std::nullopt;
    write.data = smbBytes.subspan(dataOffset, dataCount);
    write.source = std::move(*sourceName);
    write.destination = std::move(*destination);
    std::copy(address.begin(), address.end(), write.sourceAddress.begin());
    return write;
}

std::optional<Bytes> messengerDatagram(const Source& source, std::string_view group,
                                       std::string_view data) {
    return groupDatagram(source, group, netbios::Workstation, MessengerSlot, asBytes(data));
}

std::vector<std::string> messengerData(std::string_view from, std::string_view to,
                                       std::string_view text) {
    const std::size_t prefix = from.size() + 1 + to.size() + 1;
    // Room for at least one double-byte character, or the split could not progress.
    if (prefix + 2 > MaxData)
        return {};
    std::string head(from);
    head += '\0';
    head += to;
    head += '\0';
    std::vector<std::string> parts;
    do {
        const std::size_t piece = oem::characterBoundary(text, MaxData - prefix);
        parts.push_back(head + std::string(text.substr(0, piece)));
        text.remove_prefix(piece);
    } while (!text.empty());
    return parts;
}

std::optional<Message> parseMessengerDatagram(std::span<const std::uint8_t> datagram) {
    const auto write = parseWrite(datagram);
    if (!write || oem::upperAscii(write->slot) != MessengerSlot)
        return std::nullopt;
    ByteReader data(write->data);
    Message message;
    message.from = data.zeroTerminated();
    message.to = data.zeroTerminated();
    const auto rest = data.take(data.remaining());
    if (!data.ok())
        return std::nullopt;
    message.text.assign(rest.begin(), rest.end());
    if (!message.text.empty() && message.text.back() == '\0')
        message.text.pop_back();
    message.sourceName = write->source.name;
    message.sourceSuffix = write->source.suffix;
    message.destinationName = write->destination.name;
    message.destinationSuffix = write->destination.suffix;
    message.sourceAddress = write->sourceAddress;
    return message;
}

} // namespace lanquill::protocol::mailslot
