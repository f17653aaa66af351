#include "net/NodeStatus.h"

#include "platform/Addresses.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>

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

// One iconv descriptor per conversion keeps this free of shared state; names are rare enough
// that the open cost does not matter next to the network round trip.
class Cp936ToUtf8 {
public:
    Cp936ToUtf8() : cd_(iconv_open("UTF-8", "CP936")) {}
    ~Cp936ToUtf8() {
        if (valid())
            iconv_close(cd_);
    }
    Cp936ToUtf8(const Cp936ToUtf8&) = delete;
    Cp936ToUtf8& operator=(const Cp936ToUtf8&) = delete;

    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    std::string convert(std::string_view in) {
        std::string out;
        // CP936 gives at most three UTF-8 bytes per input byte (two-byte characters give three).
        std::string chunk(in.size() * 3 + 4, '\0');
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        while (srcLeft > 0) {
            char* dst = chunk.data();
            std::size_t dstLeft = chunk.size();
            const std::size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(chunk.data(), static_cast<std::size_t>(dst - chunk.data()));
            if (rc != static_cast<std::size_t>(-1))
                break;
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL (a lead byte cut off at the end): one byte that does not decode.
            out.append(Replacement);
            ++src;
            --srcLeft;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

private:
    iconv_t cd_;
};

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
    if (std::all_of(oem.begin(), oem.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(oem);
    Cp936ToUtf8 converter;
    if (!converter.valid()) {
        // Without the code page keep the ASCII and mark every other byte as undecodable.
        std::string out;
        for (char c : oem) {
            if (static_cast<unsigned char>(c) < 0x80)
                out.push_back(c);
            else
                out.append(Replacement);
        }
        return out;
    }
    return converter.convert(oem);
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
