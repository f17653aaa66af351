#include "platform/NetBios.h"

#include "platform/Addresses.h"
#include "platform/OemCodePage.h"

#include <algorithm>
#include <cstdio>

namespace lanquill::platform::netbios {

namespace {

constexpr std::uint16_t TypeNb = 0x0020;
constexpr std::uint16_t TypeNbStat = 0x0021;
constexpr std::uint16_t ClassIn = 0x0001;
constexpr std::uint16_t ResponseBit = 0x8000;
constexpr std::uint16_t OpcodeMask = 0x7800;
constexpr std::uint16_t RcodeMask = 0x000F;
constexpr std::size_t HeaderLength = 12;

// Reads big-endian fields from a packet and remembers when a read would pass its end; every
// later read then fails too, so a parser checks `ok()` once after a run of reads.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}
    bool ok() const { return ok_; }
    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }
    std::uint8_t u8() {
        if (!need(1))
            return 0;
        return data_[pos_++];
    }
    std::uint16_t u16() {
        if (!need(2))
            return 0;
        const auto value = static_cast<std::uint16_t>((data_[pos_] << 8) | data_[pos_ + 1]);
        pos_ += 2;
        return value;
    }
    std::span<const std::uint8_t> take(std::size_t count) {
        if (!need(count))
            return {};
        auto part = data_.subspan(pos_, count);
        pos_ += count;
        return part;
    }
    void skip(std::size_t count) { take(count); }
    // Skips a domain name: labels up to the zero label, or a two-byte compression pointer.
    void skipName() {
        for (std::size_t labels = 0; ok_ && labels < 128; ++labels) {
            const std::uint8_t length = u8();
            if (!ok_ || length == 0)
                return;
            if ((length & 0xC0) == 0xC0) {
                skip(1);
                return;
            }
            if ((length & 0xC0) != 0) {
                ok_ = false;
                return;
            }
            skip(length);
        }
        ok_ = false;
    }

private:
    bool need(std::size_t count) {
        if (!ok_ || data_.size() - pos_ < count)
            ok_ = false;
        return ok_;
    }
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

void put16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

Bytes questionPacket(std::uint16_t id, std::uint16_t flags, const EncodedName& name,
                     std::uint16_t type) {
    Bytes out;
    out.reserve(HeaderLength + EncodedNameLength + 4);
    put16(out, id);
    put16(out, flags);
    put16(out, 1); // one question
    put16(out, 0);
    put16(out, 0);
    put16(out, 0);
    out.insert(out.end(), name.begin(), name.end());
    put16(out, type);
    put16(out, ClassIn);
    return out;
}

// Reads the header of a response with the expected id and a zero result code, and steps over
// its question entries; positioned at the first answer afterwards. False for anything else.
bool readResponseHeader(Reader& in, std::uint16_t transactionId, std::uint16_t& answers) {
    const std::uint16_t id = in.u16();
    const std::uint16_t flags = in.u16();
    const std::uint16_t questions = in.u16();
    answers = in.u16();
    in.skip(4);
    if (!in.ok() || id != transactionId || (flags & ResponseBit) == 0 ||
        (flags & OpcodeMask) != 0 || (flags & RcodeMask) != 0 || answers == 0)
        return false;
    for (std::uint16_t q = 0; q < questions && in.ok(); ++q) {
        in.skipName();
        in.skip(4);
    }
    return in.ok();
}

std::string trimName(std::span<const std::uint8_t> bytes) {
    std::size_t end = bytes.size();
    while (end > 0 && (bytes[end - 1] == ' ' || bytes[end - 1] == 0))
        --end;
    return std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(end));
}

} // namespace

std::optional<EncodedName> encodeName(std::string_view name, std::uint8_t suffix) {
    if (name.empty() || name.size() > MaxNameLength)
        return std::nullopt;
    std::array<std::uint8_t, 16> raw{};
    const std::uint8_t pad = name == "*" ? 0x00 : 0x20;
    raw.fill(pad);
    for (std::size_t i = 0; i < name.size(); ++i)
        raw[i] = static_cast<std::uint8_t>(name[i]);
    raw[15] = suffix;
    EncodedName out{};
    out[0] = 0x20;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        out[1 + 2 * i] = static_cast<std::uint8_t>('A' + (raw[i] >> 4));
        out[2 + 2 * i] = static_cast<std::uint8_t>('A' + (raw[i] & 0x0F));
    }
    out[33] = 0x00;
    return out;
}

std::optional<DecodedName> decodeName(std::span<const std::uint8_t> encoded) {
    if (encoded.size() < EncodedNameLength || encoded[0] != 0x20 || encoded[33] != 0x00)
        return std::nullopt;
    std::array<std::uint8_t, 16> raw{};
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const std::uint8_t high = encoded[1 + 2 * i];
        const std::uint8_t low = encoded[2 + 2 * i];
        if (high < 'A' || high > 'P' || low < 'A' || low > 'P')
            return std::nullopt;
        raw[i] = static_cast<std::uint8_t>(((high - 'A') << 4) | (low - 'A'));
    }
    DecodedName out;
    out.name = trimName(std::span<const std::uint8_t>(raw).first(MaxNameLength));
    out.suffix = raw[15];
    return out;
}

std::optional<Bytes> nameQueryRequest(std::uint16_t transactionId, std::string_view name,
                                      std::uint8_t suffix) {
    const auto encoded = encodeName(name, suffix);
    if (!encoded)
        return std::nullopt;
    return questionPacket(transactionId, 0x0110, *encoded, TypeNb);
}

std::optional<std::vector<Ipv4>> parseNameQueryResponse(std::span<const std::uint8_t> packet,
                                                        std::uint16_t transactionId) {
    Reader in(packet);
    std::uint16_t answers = 0;
    if (!readResponseHeader(in, transactionId, answers))
        return std::nullopt;
    std::vector<Ipv4> addresses;
    for (std::uint16_t a = 0; a < answers; ++a) {
        in.skipName();
        const std::uint16_t type = in.u16();
        const std::uint16_t klass = in.u16();
        in.skip(4); // time to live
        const std::uint16_t length = in.u16();
        const auto data = in.take(length);
        if (!in.ok())
            return std::nullopt;
        if (type != TypeNb || klass != ClassIn)
            continue;
        // NB records: two flag bytes and four address bytes each.
        for (std::size_t off = 0; off + 6 <= data.size(); off += 6)
            addresses.push_back({data[off + 2], data[off + 3], data[off + 4], data[off + 5]});
    }
    if (addresses.empty())
        return std::nullopt;
    return addresses;
}

Bytes nodeStatusRequest(std::uint16_t transactionId) {
    return questionPacket(transactionId, 0x0000, *encodeName("*", 0x00), TypeNbStat);
}

std::optional<NodeStatus> parseNodeStatusResponse(std::span<const std::uint8_t> packet,
                                                  std::uint16_t transactionId) {
    Reader in(packet);
    std::uint16_t answers = 0;
    if (!readResponseHeader(in, transactionId, answers))
        return std::nullopt;
    in.skipName();
    const std::uint16_t type = in.u16();
    const std::uint16_t klass = in.u16();
    in.skip(4);
    const std::uint16_t length = in.u16();
    if (!in.ok() || type != TypeNbStat || klass != ClassIn)
        return std::nullopt;
    // Some senders get the data length wrong; the packet's own end is the limit that counts.
    Reader data(in.take(std::min<std::size_t>(length, in.remaining())));
    const std::uint8_t count = data.u8();
    if (!data.ok())
        return std::nullopt;
    NodeStatus status;
    for (std::uint8_t i = 0; i < count; ++i) {
        const auto entry = data.take(18);
        if (!data.ok())
            return std::nullopt;
        NodeName name;
        name.name = trimName(entry.first(MaxNameLength));
        name.suffix = entry[15];
        name.flags = static_cast<std::uint16_t>((entry[16] << 8) | entry[17]);
        name.group = (entry[16] & 0x80) != 0;
        status.names.push_back(std::move(name));
    }
    const auto unit = data.take(6);
    if (data.ok())
        std::copy(unit.begin(), unit.end(), status.unitId.begin());
    if (!in.ok())
        return std::nullopt;
    return status;
}

std::string firstUniqueName(const NodeStatus& status,
                            std::initializer_list<std::uint8_t> suffixes) {
    for (const auto& entry : status.names) {
        if (entry.group || entry.name.empty())
            continue;
        for (const auto suffix : suffixes)
            if (entry.suffix == suffix)
                return entry.name;
    }
    return {};
}

namespace {

constexpr std::size_t NameColumn = 15;

// A table name for the terminal: control bytes as '.', OEM as UTF-8 (bytes that do not convert
// as '?'), padded to its column.
std::string displayName(const std::string& oemName) {
    std::string visible;
    for (const char c : oemName)
        visible += static_cast<unsigned char>(c) < 0x20 ? '.' : c;
    std::string text;
    if (auto utf8 = oem::toUtf8(visible)) {
        text = *utf8;
    } else {
        for (const char c : visible)
            text += static_cast<unsigned char>(c) < 0x80 ? c : '?';
    }
    std::size_t width = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++width;
    if (width < NameColumn)
        text.append(NameColumn - width, ' ');
    return text;
}

} // namespace

std::string nameTableText(const NodeStatus& status) {
    std::string out = "    NetBIOS Remote Machine Name Table\n\n"
                      "       Name               Type         Status\n"
                      "    ---------------------------------------------\n";
    for (const auto& entry : status.names) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "<%02X>", entry.suffix);
        out += "    " + displayName(entry.name) + "  " + suffix + "  " +
               (entry.group ? "GROUP " : "UNIQUE") + "      Registered\n";
    }
    out += "\n    MAC Address = " + formatHardwareAddress(status.unitId) + "\n";
    return out;
}

} // namespace lanquill::platform::netbios
