#include "platform/Mailslot.h"
#include "platform/OemCodePage.h"

#include <algorithm>
#include <cctype>

namespace lanquill::platform::mailslot {

namespace {

constexpr std::uint8_t DirectUnique = 0x10;
constexpr std::uint8_t DirectGroup = 0x11;
constexpr std::uint8_t Broadcast = 0x12;
constexpr std::uint8_t FirstFragment = 0x02;
constexpr std::size_t DatagramHeader = 14;
constexpr std::size_t NamesLength = 2 * netbios::EncodedNameLength;
constexpr std::uint8_t Transaction = 0x25;
constexpr std::size_t WordCount = 17;
constexpr std::string_view SlotName{"\\MAILSLOT\\MESSNGR\0", 18};
// From the SMB header's first byte: header, word count, words, byte count, slot name.
constexpr std::size_t DataOffset = 32 + 1 + 2 * WordCount + 2 + SlotName.size();

void put16be(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

void put16le(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::uint16_t get16le(std::span<const std::uint8_t> data, std::size_t at) {
    return static_cast<std::uint16_t>(data[at] | (data[at + 1] << 8));
}

} // namespace

std::optional<Bytes> messengerDatagram(const Source& source, std::string_view group,
                                       std::string_view data) {
    const auto sourceName = netbios::encodeName(source.name, netbios::Workstation);
    const auto destination = netbios::encodeName(group, netbios::Workstation);
    if (!sourceName || !destination || data.size() > MaxData)
        return std::nullopt;
    const auto n = static_cast<std::uint16_t>(data.size());

    Bytes smb(32, 0);
    smb[0] = 0xFF;
    smb[1] = 'S';
    smb[2] = 'M';
    smb[3] = 'B';
    smb[4] = Transaction;
    smb.push_back(static_cast<std::uint8_t>(WordCount));
    put16le(smb, 0);  // total parameter count
    put16le(smb, n);  // total data count
    put16le(smb, 0);  // max parameter count
    put16le(smb, 0);  // max data count
    smb.push_back(0); // max setup count
    smb.push_back(0);
    put16le(smb, 0); // flags
    put16le(smb, 0); // timeout, 4 bytes
    put16le(smb, 0);
    put16le(smb, 0); // reserved
    put16le(smb, 0); // parameter count
    put16le(smb, 0); // parameter offset
    put16le(smb, n); // data count
    put16le(smb, static_cast<std::uint16_t>(DataOffset));
    smb.push_back(3); // setup count
    smb.push_back(0);
    put16le(smb, 1); // mailslot write
    put16le(smb, 1); // priority
    put16le(smb, 2); // class 2: unreliable, broadcast
    put16le(smb, static_cast<std::uint16_t>(SlotName.size() + data.size()));
    smb.insert(smb.end(), SlotName.begin(), SlotName.end());
    smb.insert(smb.end(), data.begin(), data.end());

    Bytes out{DirectGroup, FirstFragment};
    put16be(out, source.datagramId);
    out.insert(out.end(), source.address.begin(), source.address.end());
    put16be(out, source.port);
    put16be(out, static_cast<std::uint16_t>(NamesLength + smb.size()));
    put16be(out, 0); // packet offset
    out.insert(out.end(), sourceName->begin(), sourceName->end());
    out.insert(out.end(), destination->begin(), destination->end());
    out.insert(out.end(), smb.begin(), smb.end());
    return out;
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
    if (datagram.size() < DatagramHeader + NamesLength)
        return std::nullopt;
    const std::uint8_t type = datagram[0];
    if (type != DirectUnique && type != DirectGroup && type != Broadcast)
        return std::nullopt;
    const auto sourceName = netbios::decodeName(datagram.subspan(DatagramHeader));
    const auto destination =
        netbios::decodeName(datagram.subspan(DatagramHeader + netbios::EncodedNameLength));
    if (!sourceName || !destination)
        return std::nullopt;
    const std::size_t declared = static_cast<std::size_t>((datagram[10] << 8) | datagram[11]);
    auto smb = datagram.subspan(DatagramHeader + NamesLength);
    if (declared < NamesLength || declared - NamesLength > smb.size())
        return std::nullopt;
    smb = smb.first(declared - NamesLength);

    if (smb.size() < 32 + 1 + 2 * WordCount + 2 || smb[0] != 0xFF || smb[1] != 'S' ||
        smb[2] != 'M' || smb[3] != 'B' || smb[4] != Transaction || smb[32] != WordCount)
        return std::nullopt;
    const std::size_t words = 33;
    const std::size_t dataCount = get16le(smb, words + 2 * 11);
    const std::size_t dataOffset = get16le(smb, words + 2 * 12);
    const std::uint8_t setupCount = smb[words + 2 * 13];
    if (setupCount != 3 || get16le(smb, words + 2 * 14) != 1)
        return std::nullopt;
    const std::size_t byteCount = get16le(smb, words + 2 * WordCount);
    const std::size_t bytesAt = words + 2 * WordCount + 2;
    if (smb.size() - bytesAt < byteCount || byteCount < SlotName.size())
        return std::nullopt;
    const std::string slot(smb.begin() + static_cast<std::ptrdiff_t>(bytesAt),
                           smb.begin() + static_cast<std::ptrdiff_t>(bytesAt + SlotName.size()));
    if (!std::equal(slot.begin(), slot.end(), SlotName.begin(), SlotName.end(), [](char a, char b) {
            return std::toupper(static_cast<unsigned char>(a)) == b;
        }))
        return std::nullopt;
    if (dataOffset > smb.size() || smb.size() - dataOffset < dataCount)
        return std::nullopt;
    const std::string data(smb.begin() + static_cast<std::ptrdiff_t>(dataOffset),
                           smb.begin() + static_cast<std::ptrdiff_t>(dataOffset + dataCount));

    const auto firstZero = data.find('\0');
    if (firstZero == std::string::npos)
        return std::nullopt;
    const auto secondZero = data.find('\0', firstZero + 1);
    if (secondZero == std::string::npos)
        return std::nullopt;
    Message message;
    message.sourceName = sourceName->name;
    message.sourceSuffix = sourceName->suffix;
    message.destinationName = destination->name;
    message.destinationSuffix = destination->suffix;
    std::copy(datagram.begin() + 4, datagram.begin() + 8, message.sourceAddress.begin());
    message.from = data.substr(0, firstZero);
    message.to = data.substr(firstZero + 1, secondZero - firstZero - 1);
    message.text = data.substr(secondZero + 1);
    if (!message.text.empty() && message.text.back() == '\0')
        message.text.pop_back();
    return message;
}

} // namespace lanquill::platform::mailslot
