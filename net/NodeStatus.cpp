#include "net/NodeStatus.h"

#include "platform/Addresses.h"
#include "platform/OemCodePage.h"

#include <algorithm>

namespace lanquill::net {

const std::array<std::uint8_t, 50> NbStatQuery = {
    0x00, 0x00, // transaction id
    0x00, 0x10, // flags: query, broadcast
    0x00, 0x01, // one question
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x20,                                                       // label length 32
    0x43, 0x4B,                                                 // "*"
    0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41, // fifteen 0x00 bytes
    0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41,
    0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41,
    0x00,       // end of name
    0x00, 0x21, // NBSTAT
    0x00, 0x01, // IN
};

namespace {

constexpr std::size_t NameBytes = 15;
constexpr std::size_t EntryBytes = 18;
constexpr std::size_t UnitIdBytes = 6;
constexpr std::size_t CurrentUserOffset = 147;
constexpr std::size_t ExtraNameOffset = 165;

constexpr std::string_view Replacement = "\xEF\xBF\xBD"; // U+FFFD

std::string decodeName(const std::uint8_t* bytes) {
    std::string name(NameBytes, ' ');
    for (std::size_t i = 0; i < NameBytes; ++i)
        name[i] = bytes[i] <= 0x20 ? ' ' : static_cast<char>(bytes[i]);
    const auto first = name.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    const auto last = name.find_last_not_of(' ');
    return oemNameToUtf8(std::string_view(name).substr(first, last - first + 1));
}

} // namespace

std::string oemNameToUtf8(std::string_view oem) {
    // Most names are ASCII, which CP936 leaves as it is: skip the converter for them.
    if (std::all_of(oem.begin(), oem.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(oem);
    if (auto whole = platform::oem::toUtf8(oem))
        return *whole;
    // Some byte does not decode: keep every character that does, so the user still sees most
    // of a name from a machine with another code page, and mark the rest.
    std::string out;
    std::size_t i = 0;
    while (i < oem.size()) {
        if (static_cast<unsigned char>(oem[i]) < 0x80) {
            out.push_back(oem[i++]);
            continue;
        }
        if (i + 1 < oem.size()) {
            if (auto pair = platform::oem::toUtf8(oem.substr(i, 2))) {
                out += *pair;
                i += 2;
                continue;
            }
        }
        if (auto single = platform::oem::toUtf8(oem.substr(i, 1)))
            out += *single;
        else
            out += Replacement;
        ++i;
    }
    return out;
}

void RecvNbMsg(std::span<const std::uint8_t> datagram, NodeStatusResults& results) {
    const std::size_t n = std::min(datagram.size(), NbReceiveBufferSize);
    const std::uint8_t* b = datagram.data();

    // The low byte of type NBSTAT followed by class IN; position 0 is never tested.
    std::size_t p = 1;
    for (; p + 2 < n; ++p) {
        if (b[p] == 0x21 && b[p + 1] == 0x00 && b[p + 2] == 0x01)
            break;
    }
    if (p + 2 >= n)
        return;
    if (p + 9 >= n)
        return;
    const std::size_t count = b[p + 9];
    if (count == 0)
        return;
    const std::size_t s = p + 10;
    const std::size_t unitId = s + EntryBytes * count;
    // A reply cut short is dropped whole rather than half-applied: the fields would otherwise
    // mix this computer's names with the previous computer's adapter address.
    if (unitId + UnitIdBytes > n)
        return;

    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t e = s + EntryBytes * k;
        const std::uint8_t suffix = b[e + NameBytes];
        const bool group = (b[e + NameBytes + 1] & 0x80) != 0;
        if (group) {
            if (suffix == 0x01)
                results.NbBrowserGroup = decodeName(b + e);
            continue;
        }
        if (suffix != 0x20) {
            if (e == CurrentUserOffset)
                results.NbCurrentUser = decodeName(b + e);
            else if (e == ExtraNameOffset)
                results.NbExtraName = decodeName(b + e);
        }
        if (suffix == 0x00)
            results.NbWorkstationName = decodeName(b + e);
    }
    results.NbMacAddress =
        platform::formatHardwareAddress(std::span<const std::uint8_t>(b + unitId, UnitIdBytes));
}

void handleDatagram(std::span<const std::uint8_t> datagram, NodeStatusResults& results) {
    RecvNbMsg(datagram, results);
    results.NbReplyReceived = true;
}

} // namespace lanquill::net
