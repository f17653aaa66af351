#include "protocol/NetBios.h"

#include "protocol/Addresses.h"
#include "protocol/OemCodePage.h"

#include <algorithm>
#include <cstdio>

namespace lanquill::protocol::netbios {

namespace {

constexpr std::uint16_t TypeNb = 0x0020;
constexpr std::uint16_t TypeNbStat = 0x0021;
constexpr std::uint16_t ClassIn = 0x0001;
constexpr std::uint16_t ResponseBit = 0x8000;
constexpr std::uint16_t OpcodeMask = 0x7800;
constexpr std::uint16_t RcodeMask = 0x000F;

// Skips a domain name: labels up to the zero label, or a two-byte compression pointer.
void skipName(ByteReader& in) {
    for (std::size_t labels = 0; in.ok() && labels < 128; ++labels) {
        const std::uint8_t length = in.u8();
        if (!in.ok() || length == 0)
            return;
        if ((length & 0xC0) == 0xC0) {
            in.skip(1);
            return;
        }
        if ((length & 0xC0) != 0) {
            in.fail();
            return;
        }
        in.skip(length);
    }
    in.fail();
}

Bytes questionPacket(std::uint16_t id, std::uint16_t flags, const EncodedName& name,
                     std::uint16_t type) {
    ByteWriter out;
    out.u16be(id).u16be(flags).u16be(1).u16be(0).u16be(0).u16be(0); // one question
    out.bytes(name).u16be(type).u16be(ClassIn);
    return out.take();
}

// Reads the header of a response with a zero result code, and steps over its question entries;
// positioned at the first answer afterwards. False for anything else.
bool readResponseHeader(ByteReader& in, std::uint16_t& transactionId, std::uint16_t& answers) {
    transactionId = in.u16be();
    const std::uint16_t flags = in.u16be();
    const std::uint16_t questions = in.u16be();
    answers = in.u16be();
    in.skip(4);
    if (!in.ok() || (flags & ResponseBit) == 0 || (flags & OpcodeMask) != 0 ||
        (flags & RcodeMask) != 0 || answers == 0)
        return false;
    for (std::uint16_t q = 0; q < questions && in.ok(); ++q) {
        skipName(in);
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
                                      std::uint8_t suffix, std::uint16_t flags) {
    const auto encoded = encodeName(name, suffix);
    if (!encoded)
        return std::nullopt;
    return questionPacket(transactionId, flags, *encoded, TypeNb);
}

std::optional<std::vector<Ipv4>> parseNameQueryResponse(std::span<const std::uint8_t> packet,
                                                        std::uint16_t transactionId) {
    ByteReader in(packet);
    std::uint16_t id = 0;
    std::uint16_t answers = 0;
    if (!readResponseHeader(in, id, answers) || id != transactionId)
        return std::nullopt;
    std::vector<Ipv4> addresses;
    for (std::uint16_t a = 0; a < answers; ++a) {
        skipName(in);
        const std::uint16_t type = in.u16be();
        const std::uint16_t klass = in.u16be();
        in.skip(4); // time to live
        const std::uint16_t length = in.u16be();
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

Bytes nodeStatusRequest(std::uint16_t transactionId, std::uint16_t flags) {
    return questionPacket(transactionId, flags, *encodeName("*", 0x00), TypeNbStat);
}

std::optional<NodeStatus> parseNodeStatus(std::span<const std::uint8_t> packet) {
    ByteReader in(packet);
    NodeStatus status;
    std::uint16_t answers = 0;
    if (!readResponseHeader(in, status.transactionId, answers))
        return std::nullopt;
    skipName(in);
    const std::uint16_t type = in.u16be();
    const std::uint16_t klass = in.u16be();
    in.skip(4); // time to live
    in.skip(2); // data length
    if (!in.ok() || type != TypeNbStat || klass != ClassIn)
        return std::nullopt;
    const std::size_t dataOffset = in.position();
    // Senders get the data length wrong (some leave it zero); the packet's own end is the limit
    // that counts.
    ByteReader data(in.take(in.remaining()));
    const std::uint8_t count = data.u8();
    if (!data.ok())
        return std::nullopt;
    status.tableOffset = dataOffset + 1;
    for (std::uint8_t i = 0; i < count; ++i) {
        const auto entry = data.take(NodeNameEntryLength);
        if (!data.ok())
            return std::nullopt;
        NodeName name;
        name.name = trimName(entry.first(MaxNameLength));
        name.suffix = entry[15];
        name.flags = static_cast<std::uint16_t>((entry[16] << 8) | entry[17]);
        name.group = (entry[16] & 0x80) != 0;
        status.names.push_back(std::move(name));
    }
    const auto unit = data.take(status.unitId.size());
    if (data.ok()) {
        std::copy(unit.begin(), unit.end(), status.unitId.begin());
        status.hasUnitId = true;
    }
    return status;
}

std::optional<NodeStatus> parseNodeStatusResponse(std::span<const std::uint8_t> packet,
                                                  std::uint16_t transactionId) {
    auto status = parseNodeStatus(packet);
    if (!status || status->transactionId != transactionId)
        return std::nullopt;
    return status;
}

std::string firstUniqueName(const NodeStatus& status,
                            std::initializer_list<std::uint8_t> suffixes) {
    for (const auto& entry : status.names) {
        if (entry.group || entry.name.empty() ||
            std::any_of(entry.name.begin(), entry.name.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
            continue;
        for (const auto suffix : suffixes)
            if (entry.suffix == suffix)
                return entry.name;
    }
    return {};
}

std::string computerName(std::string_view hostName) {
    return oem::upperAscii(hostName.substr(0, hostName.find('.')));
}

std::optional<std::string> hostNameToNetbiosName(std::string_view hostName) {
    auto oemName = oem::fromUtf8(computerName(hostName));
    if (!oemName || oemName->empty())
        return std::nullopt;
    oemName->resize(oem::characterBoundary(*oemName, MaxNameLength));
    return oemName;
}

std::optional<std::string> netbiosName(std::string_view name, NameUse use) {
    constexpr std::string_view Refused = "\\/:*?\"<>|";
    if (name.find_first_not_of(' ') == std::string_view::npos ||
        name.find_first_of(Refused) != std::string_view::npos ||
        (use == NameUse::Host && name.find('.') != std::string_view::npos))
        return std::nullopt;
    // C1 controls need no test of their own: the code page has none of them.
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return std::nullopt;
    auto oemName = oem::fromUtf8(oem::upperAscii(name));
    if (!oemName || oemName->size() > MaxNameLength)
        return std::nullopt;
    return oemName;
}

bool isNetbiosName(std::string_view name, NameUse use) {
    return netbiosName(name, use).has_value();
}

namespace {

constexpr std::size_t NameColumn = 15;

// A table name for the terminal: control bytes as '.', OEM as UTF-8, padded to its column.
std::string nameColumn(const std::string& oemName) {
    std::string text = oem::printable(oem::toUtf8Lossy(oemName));
    std::size_t width = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++width;
    if (width < NameColumn)
        text.append(NameColumn - width, ' ');
    return text;
}

} // namespace

std::string displayName(std::string_view oemName) {
    std::string name(oemName);
    for (char& c : name)
        if (static_cast<unsigned char>(c) <= 0x20)
            c = ' ';
    const auto first = name.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    const auto last = name.find_last_not_of(' ');
    return oem::toUtf8Lossy(std::string_view(name).substr(first, last - first + 1));
}

std::string nameTableText(const NodeStatus& status) {
    std::string out = "    NetBIOS Remote Machine Name Table\n\n"
                      "       Name               Type         Status\n"
                      "    ---------------------------------------------\n";
    for (const auto& entry : status.names) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "<%02X>", entry.suffix);
        out += "    " + nameColumn(entry.name) + "  " + suffix + "  " +
               (entry.group ? "GROUP " : "UNIQUE") + "      Registered\n";
    }
    out += "\n    MAC Address = " + formatHardwareAddress(status.unitId) + "\n";
    return out;
}

namespace {

constexpr std::uint16_t AuthoritativeBit = 0x0400;
constexpr std::uint16_t RecursionDesired = 0x0100;
constexpr std::uint16_t RecursionAvailable = 0x0080;
constexpr std::uint8_t NamErr = 3;
constexpr std::uint8_t ActErr = 6;
constexpr std::uint16_t TypeNull = 0x000A;
constexpr std::uint16_t GroupBit = 0x8000;
constexpr std::uint16_t ActiveBit = 0x0400;
// Owner node type H (server first, then broadcast) in the NB flags, as nmbd marks the names it
// registers with its WINS server; 0 is B.
constexpr std::uint16_t HybridNode = 0x6000;
constexpr std::uint32_t NameTimeToLive = 300000; // seconds, as Windows B-nodes register
constexpr std::uint16_t NamePointer = 0xC00C;    // the question name, at offset 12
constexpr std::size_t StatisticsLength = 46;     // unit id and the counters after it

std::uint16_t opcodeBits(NameOpcode opcode) {
    return static_cast<std::uint16_t>(static_cast<std::uint16_t>(opcode) << 11);
}

// A name from the packet: a full encoded name, or a pointer (taken as "no name").
std::optional<DecodedName> readName(ByteReader& in) {
    const auto head = in.take(1);
    if (!in.ok())
        return std::nullopt;
    if ((head[0] & 0xC0) == 0xC0) {
        in.skip(1);
        return std::nullopt;
    }
    if (head[0] != 0x20) {
        in.fail();
        return std::nullopt;
    }
    const auto rest = in.take(EncodedNameLength - 1);
    if (!in.ok())
        return std::nullopt;
    Bytes whole{head[0]};
    whole.insert(whole.end(), rest.begin(), rest.end());
    auto name = decodeName(whole);
    if (!name)
        in.fail();
    return name;
}

std::uint16_t nbFlags(bool group) {
    return group ? GroupBit : 0;
}

// A packet of one resource record (answer or additional) for NAME<suffix>, with or without the
// question before it.
std::optional<Bytes> recordPacket(std::uint16_t id, std::uint16_t flags, std::string_view name,
                                  std::uint8_t suffix, bool withQuestion, std::uint16_t type,
                                  std::uint32_t ttl,
                                  std::optional<std::pair<std::uint16_t, Ipv4>> nb) {
    const auto encoded = encodeName(name, suffix);
    if (!encoded)
        return std::nullopt;
    ByteWriter out;
    out.u16be(id).u16be(flags);
    out.u16be(withQuestion ? 1 : 0).u16be(withQuestion ? 0 : 1).u16be(0);
    out.u16be(withQuestion ? 1 : 0);
    if (withQuestion)
        out.bytes(*encoded).u16be(TypeNb).u16be(ClassIn).u16be(NamePointer);
    else
        out.bytes(*encoded);
    out.u16be(type).u16be(ClassIn).u32be(ttl);
    if (nb)
        out.u16be(6).u16be(nb->first).bytes(nb->second);
    else
        out.u16be(0);
    return out.take();
}

} // namespace

std::optional<NamePacket> parseNamePacket(std::span<const std::uint8_t> packet) {
    ByteReader in(packet);
    NamePacket result;
    result.transactionId = in.u16be();
    const std::uint16_t flags = in.u16be();
    const std::uint16_t questions = in.u16be();
    const std::uint16_t answers = in.u16be();
    const std::uint16_t authorities = in.u16be();
    const std::uint16_t additionals = in.u16be();
    if (!in.ok() || questions > 1)
        return std::nullopt;
    result.response = (flags & ResponseBit) != 0;
    result.broadcast = (flags & BroadcastFlag) != 0;
    result.rcode = static_cast<std::uint8_t>(flags & RcodeMask);
    switch ((flags & OpcodeMask) >> 11) {
    case 0:
        result.opcode = NameOpcode::Query;
        break;
    case 5:
        result.opcode = NameOpcode::Registration;
        break;
    case 6:
        result.opcode = NameOpcode::Release;
        break;
    case 7:
        result.opcode = NameOpcode::WaitForAcknowledgement;
        break;
    case 8:
    case 9:
        result.opcode = NameOpcode::Refresh;
        break;
    default:
        result.opcode = NameOpcode::Other;
        break;
    }
    bool named = false;
    if (questions == 1) {
        const auto name = readName(in);
        const std::uint16_t type = in.u16be();
        const std::uint16_t klass = in.u16be();
        if (!in.ok() || !name || klass != ClassIn || (type != TypeNb && type != TypeNbStat))
            return std::nullopt;
        result.name = *name;
        result.nodeStatus = type == TypeNbStat;
        named = true;
    }
    const std::size_t records = std::size_t{answers} + authorities + additionals;
    for (std::size_t r = 0; r < records && r < 8; ++r) {
        const auto name = readName(in);
        const std::uint16_t type = in.u16be();
        in.skip(2); // class
        const std::uint32_t ttl = in.u32be();
        const auto data = in.take(in.u16be());
        if (!in.ok())
            return std::nullopt;
        if (r == 0)
            result.ttl = ttl;
        if (!named && name) {
            result.name = *name;
            named = true;
        }
        if (type == TypeNb && data.size() >= 6 && !result.address) {
            result.group = (data[0] & 0x80) != 0;
            result.address = Ipv4{data[2], data[3], data[4], data[5]};
        }
    }
    if (!named)
        return std::nullopt;
    return result;
}

std::optional<Bytes> positiveNameQueryResponse(std::uint16_t transactionId, std::string_view name,
                                               std::uint8_t suffix, bool group,
                                               const Ipv4& address) {
    return recordPacket(transactionId, ResponseBit | AuthoritativeBit | RecursionDesired, name,
                        suffix, false, TypeNb, NameTimeToLive, std::pair{nbFlags(group), address});
}

std::optional<Bytes> negativeNameQueryResponse(std::uint16_t transactionId, std::string_view name,
                                               std::uint8_t suffix) {
    return recordPacket(transactionId, ResponseBit | AuthoritativeBit | RecursionDesired | NamErr,
                        name, suffix, false, TypeNull, 0, std::nullopt);
}

Bytes nodeStatusResponse(std::uint16_t transactionId, std::span<const NodeName> names,
                         const std::array<std::uint8_t, 6>& unitId) {
    ByteWriter out;
    out.u16be(transactionId).u16be(ResponseBit | AuthoritativeBit);
    out.u16be(0).u16be(1).u16be(0).u16be(0);
    out.bytes(*encodeName("*", 0x00)).u16be(TypeNbStat).u16be(ClassIn).u32be(0);
    const std::size_t count = std::min<std::size_t>(names.size(), 255);
    out.u16be(static_cast<std::uint16_t>(1 + count * NodeNameEntryLength + StatisticsLength));
    out.u8(static_cast<std::uint8_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        std::array<std::uint8_t, 15> padded{};
        padded.fill(' ');
        const auto& entry = names[i];
        std::copy_n(entry.name.begin(), std::min(entry.name.size(), MaxNameLength), padded.begin());
        out.bytes(padded).u8(entry.suffix);
        out.u16be(static_cast<std::uint16_t>(nbFlags(entry.group) | ActiveBit));
    }
    out.bytes(unitId).zeros(StatisticsLength - unitId.size());
    return out.take();
}

std::optional<Bytes> nameRegistrationRequest(std::uint16_t transactionId, std::string_view name,
                                             std::uint8_t suffix, bool group, const Ipv4& address,
                                             bool toServer) {
    const std::uint16_t broadcast = toServer ? 0 : BroadcastFlag;
    const std::uint16_t node = toServer ? HybridNode : 0;
    return recordPacket(transactionId,
                        opcodeBits(NameOpcode::Registration) | RecursionDesired | broadcast, name,
                        suffix, true, TypeNb, NameTimeToLive,
                        std::pair{static_cast<std::uint16_t>(nbFlags(group) | node), address});
}

std::optional<Bytes> nameReleaseRequest(std::uint16_t transactionId, std::string_view name,
                                        std::uint8_t suffix, bool group, const Ipv4& address,
                                        bool toServer) {
    const std::uint16_t broadcast = toServer ? 0 : BroadcastFlag;
    const std::uint16_t node = toServer ? HybridNode : 0;
    return recordPacket(transactionId, opcodeBits(NameOpcode::Release) | broadcast, name, suffix,
                        true, TypeNb, 0,
                        std::pair{static_cast<std::uint16_t>(nbFlags(group) | node), address});
}

std::optional<Bytes> nameRefreshRequest(std::uint16_t transactionId, std::string_view name,
                                        std::uint8_t suffix, bool group, const Ipv4& address) {
    return recordPacket(
        transactionId, opcodeBits(NameOpcode::Refresh), name, suffix, true, TypeNb, NameTimeToLive,
        std::pair{static_cast<std::uint16_t>(nbFlags(group) | HybridNode), address});
}

std::optional<Bytes> negativeRegistrationResponse(std::uint16_t transactionId,
                                                  std::string_view name, std::uint8_t suffix,
                                                  const Ipv4& owner) {
    return recordPacket(transactionId,
                        ResponseBit | opcodeBits(NameOpcode::Registration) | AuthoritativeBit |
                            RecursionDesired | RecursionAvailable | ActErr,
                        name, suffix, false, TypeNb, 0, std::pair{nbFlags(false), owner});
}

} // namespace lanquill::protocol::netbios
