#include "net/NodeStatus.h"

#include "protocol/Addresses.h"
#include "protocol/NetBios.h"
#include "protocol/OemCodePage.h"

#include <algorithm>
#include <vector>

namespace lanquill::net {

namespace {

namespace netbios = protocol::netbios;

std::array<std::uint8_t, 50> makeQuery() {
    static_assert(netbios::NodeStatusRequestLength == 50);
    const auto bytes = netbios::nodeStatusRequest(0, netbios::BroadcastFlag);
    std::array<std::uint8_t, 50> query{};
    std::copy_n(bytes.begin(), query.size(), query.begin());
    return query;
}

// The entries whose fields the detail dialog shows, by where they start in the datagram: the
// sixth and seventh of a reply whose answer name is the usual encoded "*".
constexpr std::size_t CurrentUserOffset = 147;
constexpr std::size_t ExtraNameOffset = 165;

// The names a reply carries that are nobody's user name, upper-cased: the computer's own (its
// first unique <00> and its <20>), its workgroup's (every group name, and the unique <1B>/<1D>
// of a master browser) and the master browser mark.
std::vector<std::string> namesOfNoUser(const netbios::NodeStatus& status) {
    std::vector<std::string> names = {"__MSBROWSE__"};
    bool computerSeen = false;
    for (const auto& entry : status.names) {
        bool machines = entry.group || entry.suffix == netbios::FileServer ||
                        entry.suffix == netbios::MasterBrowser ||
                        entry.suffix == netbios::DomainMasterBrowser;
        if (!entry.group && entry.suffix == netbios::Workstation && !computerSeen) {
            computerSeen = true;
            machines = true;
        }
        if (machines)
            names.push_back(protocol::oem::upperAscii(netbios::displayName(entry.name)));
    }
    return names;
}

} // namespace

const std::array<std::uint8_t, 50> NbStatQuery = makeQuery();

void RecvNbMsg(std::span<const std::uint8_t> datagram, NodeStatusResults& results) {
    const auto status =
        netbios::parseNodeStatus(datagram.first(std::min(datagram.size(), NbReceiveBufferSize)));
    // A reply cut short is dropped whole rather than half-applied: the fields would otherwise
    // mix this computer's names with the previous computer's adapter address.
    if (!status || status->names.empty() || !status->hasUnitId)
        return;
    const std::vector<std::string> notUsers = namesOfNoUser(*status);
    const auto isUser = [&notUsers](const std::string& name) {
        return std::find(notUsers.begin(), notUsers.end(), protocol::oem::upperAscii(name)) ==
               notUsers.end();
    };
    std::string messengerUser; // a unique <03> that is not one of the machine's own names
    for (std::size_t k = 0; k < status->names.size(); ++k) {
        const auto& entry = status->names[k];
        const std::size_t offset = status->tableOffset + netbios::NodeNameEntryLength * k;
        if (entry.group) {
            if (entry.suffix == 0x01)
                results.NbBrowserGroup = netbios::displayName(entry.name);
            continue;
        }
        const std::string name = netbios::displayName(entry.name);
        if (entry.suffix == netbios::Messenger && messengerUser.empty() && isUser(name))
            messengerUser = name;
        if (entry.suffix != netbios::FileServer) {
            if (offset == CurrentUserOffset && isUser(name))
                results.NbCurrentUser = name;
            else if (offset == ExtraNameOffset)
                results.NbExtraName = name;
        }
        if (entry.suffix == netbios::Workstation)
            results.NbWorkstationName = name;
    }
    if (!messengerUser.empty())
        results.NbCurrentUser = messengerUser;
    // Samba, among others, sends zeros for the unit id: that is no adapter's address.
    if (std::any_of(status->unitId.begin(), status->unitId.end(), [](auto b) { return b != 0; }))
        results.NbMacAddress = protocol::formatHardwareAddress(status->unitId);
}

void handleDatagram(std::span<const std::uint8_t> datagram, const std::string& from,
                    NodeStatusResults& results) {
    if (from != results.NbReplyFrom) {
        results = {};
        results.NbReplyFrom = from;
    }
    RecvNbMsg(datagram, results);
    results.NbReplyReceived = true;
}

} // namespace lanquill::net
