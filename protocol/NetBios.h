// NetBIOS name service packets (RFC 1001/1002): first-level name encoding, the name query that
// resolves a LAN name when DNS does not know it, and the node-status query that tells a host's
// name table. Pure functions on bytes; every parser stays within the bytes it is given.
#pragma once

#include "protocol/Bytes.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lanquill::protocol::netbios {

constexpr std::size_t MaxNameLength = 15;     // bytes of name before the suffix
constexpr std::size_t EncodedNameLength = 34; // length byte, 32 letters, terminating zero
constexpr std::uint16_t NameServicePort = 137;
constexpr std::uint16_t DatagramPort = 138;
constexpr std::uint16_t SessionPort = 139;
// The largest UDP datagram: every receive buffer takes one whole, so that a long answer (a node
// status of 255 names is over 4 KB) is read rather than dropped as too long.
constexpr std::size_t MaxDatagramLength = 65535;

// Suffixes (the 16th byte) used by the program.
constexpr std::uint8_t Workstation = 0x00;
constexpr std::uint8_t Messenger = 0x03;
constexpr std::uint8_t FileServer = 0x20;
constexpr std::uint8_t DomainMasterBrowser = 0x1B;
constexpr std::uint8_t MasterBrowser = 0x1D;

using EncodedName = std::array<std::uint8_t, EncodedNameLength>;

// Encodes `name` (OEM bytes, at most 15, used as given: no case change) with `suffix`: blanks
// pad it, except for the wildcard "*" which zeros pad. Nullopt for an empty or over-long name.
std::optional<EncodedName> encodeName(std::string_view name, std::uint8_t suffix);

struct DecodedName {
    std::string name; // trailing blanks (and the zeros of "*") removed
    std::uint8_t suffix = 0;
};

// Decodes a 34-byte first-level encoded name (as encodeName writes it). Nullopt when the bytes
// are not one: wrong length byte, letters outside 'A'..'P', no terminating zero.
std::optional<DecodedName> decodeName(std::span<const std::uint8_t> encoded);

// Flags of a NAME QUERY REQUEST: recursion desired, and the broadcast bit for a query to a
// subnet's broadcast address. A NetBIOS name server (WINS) answers from its database only a query
// without the broadcast bit; nmbd takes one with it for a question to its own subnet.
constexpr std::uint16_t BroadcastQueryFlags = 0x0110;
constexpr std::uint16_t NameServerQueryFlags = 0x0100;

// NAME QUERY REQUEST for NAME<suffix>, type NB, class IN, broadcast flavour unless `flags` says
// otherwise. Nullopt when the name cannot be encoded.
std::optional<Bytes> nameQueryRequest(std::uint16_t transactionId, std::string_view name,
                                      std::uint8_t suffix,
                                      std::uint16_t flags = BroadcastQueryFlags);

// The IPv4 addresses of a positive NAME QUERY RESPONSE with the given transaction id: nullopt
// for anything else (another id, a request, a negative answer, a truncated or malformed packet).
std::optional<std::vector<Ipv4>> parseNameQueryResponse(std::span<const std::uint8_t> packet,
                                                        std::uint16_t transactionId);

constexpr std::uint16_t BroadcastFlag = 0x0010;

// NODE STATUS REQUEST (type NBSTAT) for the wildcard name "*"; unicast unless `flags` says
// otherwise. Always 50 bytes.
constexpr std::size_t NodeStatusRequestLength = 50;
Bytes nodeStatusRequest(std::uint16_t transactionId, std::uint16_t flags = 0);

struct NodeName {
    std::string name; // the 15 name bytes without trailing blanks / zeros, as sent (OEM)
    std::uint8_t suffix = 0;
    bool group = false;
    std::uint16_t flags = 0;
};

struct NodeStatus {
    std::vector<NodeName> names;
    std::array<std::uint8_t, 6> unitId{}; // the adapter address; zeros when the reply lacks it
    bool hasUnitId = false;               // the reply carried the six unit id bytes
    std::uint16_t transactionId = 0;
    std::size_t tableOffset = 0; // where the first name entry starts in the packet
};

constexpr std::size_t NodeNameEntryLength = 18; // 15 name bytes, suffix, two flag bytes

// Any NODE STATUS RESPONSE, whatever its transaction id: its name table and unit id. Nullopt
// for anything else, or when the name table reaches past the packet.
std::optional<NodeStatus> parseNodeStatus(std::span<const std::uint8_t> packet);

// The same, for the reply to our query `transactionId` only.
std::optional<NodeStatus> parseNodeStatusResponse(std::span<const std::uint8_t> packet,
                                                  std::uint16_t transactionId);

// The first unique name with one of the given suffixes, in table order; empty when none. A name
// holding a control byte (a zero among them) cannot be called or addressed and is passed over:
// this is where names from the wire enter as recipients and computer names.
std::string firstUniqueName(const NodeStatus& status, std::initializer_list<std::uint8_t> suffixes);

// The computer name a Windows machine shows for a host name (UTF-8, maybe with a domain): the
// part before the first dot, ASCII letters upper-cased.
std::string computerName(std::string_view hostName);

// That computer name as a NetBIOS name: OEM bytes, cut to 15 on a character boundary. Nullopt
// when nothing of it can be a name.
std::optional<std::string> hostNameToNetbiosName(std::string_view hostName);

// What a name is for. Every NetBIOS name is 1 to 15 bytes in the OEM code page, not blanks alone
// (blanks pad it on the wire, where it would arrive empty), and holds no control character and
// none of \ / : * ? " < > |: Windows refuses those in a name, '*' is the node-status wildcard,
// and the rest would change what a UNC path, an smb:// address or an smbclient argument made
// from the name means.
enum class NameUse {
    // A name this computer takes, or looks up as a host's: no dot either. Windows refuses a dot
    // in a computer name, and its resolver takes a dotted name for a DNS one, never asking NetBIOS.
    Host,
    // A name someone on the LAN already has, or one typed to reach them: a workgroup, a computer
    // in a browse list, a messenger recipient. A dot is valid on the wire, and such names exist.
    Peer,
};

// The OEM form of `name` (UTF-8), upper-cased, when it can be a NetBIOS name for `use`; nullopt
// otherwise.
std::optional<std::string> netbiosName(std::string_view name, NameUse use = NameUse::Host);

// Whether `name` (UTF-8) can be a NetBIOS name for `use`, whatever its case.
bool isNetbiosName(std::string_view name, NameUse use = NameUse::Host);

// A name from the wire for showing in a window: control bytes and blanks fold to one blank,
// leading and trailing blanks go (NetBIOS pads with blanks), the OEM bytes become UTF-8.
std::string displayName(std::string_view oemName);

// The name table as nbtstat -A prints it (name, <suffix>, UNIQUE/GROUP), ending with the line
// "MAC Address = 00-00-00-00-00-00". Names in UTF-8 in a column of 15, each control byte shown
// as '.' so that the columns line up the way nbtstat's do.
std::string nameTableText(const NodeStatus& status);

// --- The answering side of the name service (a B-node that owns names) ---

constexpr std::uint8_t BrowserElection = 0x1E;

enum class NameOpcode : std::uint8_t {
    Query = 0,
    Registration = 5,
    Release = 6,
    WaitForAcknowledgement = 7, // WACK: a name server is checking; wait the TTL it gives
    Refresh = 8,                // also 9, which some servers send
    Other = 0xFF
};

// A name service packet as a B-node receives it: a query (NB or node status), a registration or
// a release, or the response to one, with its question name and the NB record it carries.
struct NamePacket {
    std::uint16_t transactionId = 0;
    bool response = false;
    bool broadcast = false;
    NameOpcode opcode = NameOpcode::Other;
    std::uint8_t rcode = 0;
    bool nodeStatus = false;     // a question of type NBSTAT
    DecodedName name;            // the question name (of a response: its answer record's name)
    bool group = false;          // the NB record's G bit
    std::optional<Ipv4> address; // the NB record's address (registration, release, response)
    std::uint32_t ttl = 0;       // the first resource record's time to live, seconds
};

// Parses a name service packet; nullopt for anything malformed or that reaches past its bytes.
std::optional<NamePacket> parseNamePacket(std::span<const std::uint8_t> packet);

// POSITIVE NAME QUERY RESPONSE for NAME<suffix> owned at `address`.
std::optional<Bytes> positiveNameQueryResponse(std::uint16_t transactionId, std::string_view name,
                                               std::uint8_t suffix, bool group,
                                               const Ipv4& address);
// NEGATIVE NAME QUERY RESPONSE (RCODE NAM_ERR) for NAME<suffix>.
std::optional<Bytes> negativeNameQueryResponse(std::uint16_t transactionId, std::string_view name,
                                               std::uint8_t suffix);

// NODE STATUS RESPONSE: the names in the order given, all active, then the statistics block with
// `unitId` (the adapter address) and zeros. The answer name is the wildcard "*".
Bytes nodeStatusResponse(std::uint16_t transactionId, std::span<const NodeName> names,
                         const std::array<std::uint8_t, 6>& unitId);

// NAME REGISTRATION REQUEST and NAME RELEASE REQUEST for NAME<suffix> at `address`: broadcast
// flavour, or with `toServer` the unicast one a WINS server takes (no broadcast flag).
std::optional<Bytes> nameRegistrationRequest(std::uint16_t transactionId, std::string_view name,
                                             std::uint8_t suffix, bool group, const Ipv4& address,
                                             bool toServer = false);
std::optional<Bytes> nameReleaseRequest(std::uint16_t transactionId, std::string_view name,
                                        std::uint8_t suffix, bool group, const Ipv4& address,
                                        bool toServer = false);
// NAME REFRESH REQUEST (opcode 8, no flags, as nmbd sends it) to a WINS server.
std::optional<Bytes> nameRefreshRequest(std::uint16_t transactionId, std::string_view name,
                                        std::uint8_t suffix, bool group, const Ipv4& address);

// NEGATIVE NAME REGISTRATION RESPONSE (RCODE ACT_ERR): the owner at `owner` defends NAME<suffix>.
std::optional<Bytes> negativeRegistrationResponse(std::uint16_t transactionId,
                                                  std::string_view name, std::uint8_t suffix,
                                                  const Ipv4& owner);

} // namespace lanquill::protocol::netbios
