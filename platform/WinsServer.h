// Which NetBIOS name server (WINS) this computer uses, as a Windows machine learns it: the one
// Samba's client configuration names (the smb.conf that libsmbclient reads), else the DHCP
// lease's, else none. Node
// type H (server first, then broadcast) when one is known, B (broadcast only) otherwise.
#pragma once

#include "protocol/Bytes.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lanquill::platform {

using protocol::Ipv4;

// The first `wins server` of smb.conf text, read as Samba reads its files: the [global] section
// (or lines before any section), names compared without case, blanks or underscores, '#' and
// ';' comments, '\' continuing a line. The value is a list (blanks or commas) of addresses, each
// perhaps tagged "TAG:ADDRESS"; the first entry counts. Nullopt when there is none or it is no
// dotted IPv4 host address (a DNS name would need a lookup of its own and is not followed).
std::optional<Ipv4> winsServerFromSmbConf(std::string_view text);

// The smb.conf files Samba's clients read, in order: $SMB_CONF_PATH alone when set (as Samba's
// tools take it); else ~/.smb/smb.conf alone when it exists (as libsmbclient, which browses the
// neighbourhood, takes it); else /etc/samba/smb.conf and then ~/.smb/smb.conf.append.
std::vector<std::string> clientSmbConfPaths();

// The first NetBIOS name server (DHCP option 44) of the active connections' leases as
// NetworkManager reports them on the system bus, the primary connection's first; nullopt
// without NetworkManager, a lease or such an option.
std::optional<Ipv4> dhcpWinsServer();

// The WINS server of this computer's configuration (clientSmbConfPaths, the last file that
// names one), else the DHCP lease's (dhcpWinsServer); nullopt when none does. Reads them on
// each call.
std::optional<Ipv4> configuredWinsServer();

} // namespace lanquill::platform
