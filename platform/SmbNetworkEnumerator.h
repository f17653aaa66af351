// Network-resource enumeration in the manner of WNetOpenEnum / WNetEnumResource on Linux: the
// SMB1 browse list through libsmbclient, and a node-status sweep of the on-link subnets where
// no browse service answers (most LANs today).
#pragma once

#include "platform/Platform.h"
#include "platform/SubnetSweep.h"

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace lanquill::platform {

class SmbNetworkEnumerator : public NetworkEnumerator {
public:
    // The one provider at the top level.
    static constexpr const char* ProviderName = "Lanquill Network";

    // How long one browse-list request may take, whatever the peer does. libsmbclient bounds
    // each round trip, not a whole listing: a peer that accepts and then answers slowly (or
    // never) would hold an opendir for minutes. The rest of the 5 s a listing may take is left
    // for the node-status sweep that stands in when browsing fails.
    static constexpr std::chrono::milliseconds BrowseDeadline{3500};

    SmbNetworkEnumerator() = default;
    SmbNetworkEnumerator(const SmbNetworkEnumerator&) = delete;
    SmbNetworkEnumerator& operator=(const SmbNetworkEnumerator&) = delete;

    // Lists the whole container at open (callers on several threads take turns); BadNetName for a
    // container that names nothing known (an unknown workgroup, a name that cannot be one).
    std::uint32_t open(std::uint32_t scope, std::uint32_t type, std::uint32_t usage,
                       const NetResource* container, Handle& handle) override;
    // All entries in one batch, then NoMoreItems; InvalidHandle for a handle not open.
    std::uint32_t read(Handle handle, std::vector<NetResource>& entries) override;
    std::uint32_t close(Handle handle) override;

    // True when `name` can name a workgroup or computer: 1 to 15 bytes in the OEM code page, no
    // control characters and none of \ / : * ? " < > | (what Windows refuses in a computer name;
    // @ # % and the like are allowed).
    static bool isValidNetBiosName(const std::string& name);

protected:
    // The sources, overridable so that tests can script them. Each gives names in UTF-8 and
    // false when the source failed; empty lists are no failure.
    virtual bool browseWorkgroups(std::vector<std::string>& names);
    virtual bool browseComputers(const std::string& workgroup, std::vector<std::string>& names);
    virtual Neighbourhood sweep();

private:
    struct Listing {
        std::vector<NetResource> entries;
        bool delivered = false;
    };

    const Neighbourhood& sweptNeighbourhood();
    static bool listDirectory(const std::string& url, unsigned wantedType,
                              std::vector<std::string>& names);

    std::mutex mutex_;

    std::map<Handle, Listing> open_;
    Handle nextHandle_ = 1;
    static constexpr std::chrono::seconds SweepLifetime{30};
    std::optional<Neighbourhood> swept_;
    std::chrono::steady_clock::time_point sweptAt_;
};

} // namespace lanquill::platform
