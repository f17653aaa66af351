// Network-resource enumeration in the manner of WNetOpenEnum / WNetEnumResource on Linux: the
// SMB1 browse list through libsmbclient, and beside it a node-status sweep of the on-link
// subnets, whose findings stand where no browse service answers (most LANs today).
#pragma once

#include "platform/Pending.h"
#include "platform/Platform.h"
#include "platform/SubnetSweep.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace lanquill::platform {

// A browse list on its way: the thread reading it finishes it once, the listing that asked
// waits for it as long as it cares to.
class BrowseListing : public Pending<std::vector<std::string>> {
public:
    // `ok` false: the browse failed. Names that cannot name a computer or workgroup are dropped.
    void finish(bool ok, std::vector<std::string> names);
    // A list with at least one name has come.
    bool hasNames() const {
        return deliveredAnd([](const auto& names) { return !names.empty(); });
    }
};

class SmbNetworkEnumerator : public NetworkEnumerator {
public:
    // The one provider at the top level.
    static constexpr const char* ProviderName = "Lanquill Network";

    // How long a browse list may take to come when a master browser answered the sweep, whatever
    // the peer does. libsmbclient bounds each round trip, not a whole listing: a peer that
    // accepts and then answers slowly (or never) would hold an opendir for minutes.
    static constexpr std::chrono::milliseconds BrowseDeadline{3500};
    // How long the browse list is waited for when no master browser answered the sweep: a
    // master beyond the swept subnets (known to a WINS server) answers in this time, a LAN
    // without one would keep libsmbclient broadcasting in vain for about 0.75 s.
    static constexpr std::chrono::milliseconds BrowseGrace{300};

    SmbNetworkEnumerator() = default;
    SmbNetworkEnumerator(const SmbNetworkEnumerator&) = delete;
    SmbNetworkEnumerator& operator=(const SmbNetworkEnumerator&) = delete;

    // Lists the whole container at open (callers on several threads take turns); BadNetName for a
    // container that names nothing known (an unknown workgroup, a name that cannot be one).
    // The browse list and the node-status sweep run side by side: the browse list is used when it
    // has names, the sweep's findings otherwise.
    std::uint32_t open(std::uint32_t scope, std::uint32_t type, std::uint32_t usage,
                       const NetResource* container, Handle& handle) override;
    // All entries in one batch, then NoMoreItems; InvalidHandle for a handle not open.
    std::uint32_t read(Handle handle, std::vector<NetResource>& entries) override;
    std::uint32_t close(Handle handle) override;

    // The browse list of `workgroup` alone, without the sweep: a workgroup message asks it for
    // the members beyond the routers, where a sweep does not reach.
    std::shared_ptr<BrowseListing> browseListOf(const std::string& workgroup) {
        return browseComputers(workgroup);
    }

protected:
    // The sources, overridable so that tests can script them. The browse lists start reading
    // and return at once; the sweep runs on the caller's thread until done or until `stop`.
    virtual std::shared_ptr<BrowseListing> browseWorkgroups();
    virtual std::shared_ptr<BrowseListing> browseComputers(const std::string& workgroup);
    virtual std::optional<Neighbourhood> sweep(const std::function<bool()>& stop);

    std::chrono::milliseconds browseDeadline_ = BrowseDeadline;

private:
    struct Listing {
        std::vector<NetResource> entries;
        bool delivered = false;
    };

    // The browse list of `browse` when it brings names, nullopt when the sweep's findings
    // (then in swept_) stand instead.
    std::optional<std::vector<std::string>>
    browseOrSweep(const std::shared_ptr<BrowseListing>& browse);
    static std::shared_ptr<BrowseListing> listDirectory(const std::string& url,
                                                        unsigned wantedType);

    std::mutex mutex_;

    std::map<Handle, Listing> open_;
    Handle nextHandle_ = 1;
    // One sweep serves the listings of a while (a dialog lists the workgroups, then a
    // workgroup's computers); after that the network is swept afresh, as computers come and go.
    static constexpr std::chrono::seconds SweepLifetime{30};
    Neighbourhood swept_;
    std::optional<std::chrono::steady_clock::time_point> sweptAt_;
};

} // namespace lanquill::platform
