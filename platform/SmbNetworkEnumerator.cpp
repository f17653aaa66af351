#include "platform/SmbNetworkEnumerator.h"

#include "platform/SmbClientLibrary.h"
#include "protocol/NetBios.h"
#include "protocol/OemCodePage.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

namespace lanquill::platform {

namespace netbios = protocol::netbios;
namespace oem = protocol::oem;

namespace {

// Bounds every SMB round trip of a listing; the master browser is on the local segment.
constexpr int BrowseTimeoutMs = 3000;

void guestCredentials(SMBCCTX*, const char*, const char*, char*, int, char* user, int userLength,
                      char* password, int passwordLength) {
    // Browse lists are public: log on as guest, never ask anyone for a password.
    if (userLength > 0) {
        std::strncpy(user, "guest", static_cast<std::size_t>(userLength) - 1);
        user[userLength - 1] = '\0';
    }
    if (passwordLength > 0)
        password[0] = '\0';
}

bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return oem::upperAscii(a) == oem::upperAscii(b);
}

NetResource entry(std::uint32_t displayType, std::string remoteName, std::string comment = {}) {
    NetResource r;
    r.scope = netenum::ScopeGlobalNet;
    r.type = netenum::TypeAny;
    r.displayType = displayType;
    r.usage = netenum::UsageContainer;
    r.remoteName = std::move(remoteName);
    r.comment = std::move(comment);
    r.provider = SmbNetworkEnumerator::ProviderName;
    return r;
}

} // namespace

std::uint32_t SmbNetworkEnumerator::open(std::uint32_t, std::uint32_t, std::uint32_t,
                                         const NetResource* container, Handle& handle) {
    const std::lock_guard lock(mutex_);
    Listing listing;
    if (container == nullptr) {
        listing.entries.push_back(entry(netenum::DisplayNetwork, ProviderName));
        listing.entries.back().comment = "Workgroups of the local network";
    } else if (container->displayType == netenum::DisplayNetwork) {
        std::vector<std::string> groups;
        if (auto browsed = browseOrSweep(browseWorkgroups()))
            groups = std::move(*browsed);
        else
            for (const auto& [group, members] : swept_.workgroups)
                groups.push_back(group);
        for (auto& group : groups)
            listing.entries.push_back(entry(netenum::DisplayDomain, std::move(group)));
    } else if (container->displayType == netenum::DisplayServer ||
               container->displayType == netenum::DisplayDomain) {
        const std::string& group = container->remoteName;
        if (!netbios::isNetbiosName(group, netbios::NameUse::Peer))
            return netenum::BadNetName;
        std::vector<std::string> computers;
        if (auto browsed = browseOrSweep(browseComputers(group))) {
            computers = std::move(*browsed);
        } else {
            const auto& swept = swept_.workgroups;
            const auto found = std::find_if(swept.begin(), swept.end(), [&](const auto& g) {
                return equalIgnoringAsciiCase(g.first, group);
            });
            if (found == swept.end())
                return netenum::BadNetName;
            computers.assign(found->second.begin(), found->second.end());
        }
        for (const auto& computer : computers)
            listing.entries.push_back(entry(netenum::DisplayServer, "\\\\" + computer));
    } else {
        return netenum::BadNetName;
    }
    handle = nextHandle_++;
    open_.emplace(handle, std::move(listing));
    return netenum::NoError;
}

std::optional<std::vector<std::string>>
SmbNetworkEnumerator::browseOrSweep(const std::shared_ptr<BrowseListing>& browse) {
    const auto start = std::chrono::steady_clock::now();
    if (!sweptAt_ || start - *sweptAt_ > SweepLifetime) {
        // A sweep cut short by the browse list is not kept: it has not asked everybody.
        if (auto found = sweep([&browse] { return browse->hasNames(); })) {
            swept_ = std::move(*found);
            sweptAt_ = std::chrono::steady_clock::now();
        }
    }
    const auto deadline =
        start +
        (swept_.masterBrowserAnswered ? std::chrono::milliseconds(browseDeadline_) : BrowseGrace);
    auto browsed = browse->waitUntil(deadline);
    if (browsed && !browsed->empty())
        return browsed;
    return std::nullopt;
}

std::uint32_t SmbNetworkEnumerator::read(Handle handle, std::vector<NetResource>& entries) {
    const std::lock_guard lock(mutex_);
    const auto it = open_.find(handle);
    if (it == open_.end())
        return netenum::InvalidHandle;
    entries.clear();
    if (it->second.delivered || it->second.entries.empty()) {
        it->second.delivered = true;
        return netenum::NoMoreItems;
    }
    entries = it->second.entries;
    it->second.delivered = true;
    return netenum::NoError;
}

std::uint32_t SmbNetworkEnumerator::close(Handle handle) {
    const std::lock_guard lock(mutex_);
    return open_.erase(handle) == 1 ? netenum::NoError : netenum::InvalidHandle;
}

std::shared_ptr<BrowseListing> SmbNetworkEnumerator::browseWorkgroups() {
    return listDirectory("smb://", SMBC_WORKGROUP);
}

std::shared_ptr<BrowseListing> SmbNetworkEnumerator::browseComputers(const std::string& workgroup) {
    // Escaped whole: '@', '%', '#' and ';' are part of what a workgroup may be called, and mean
    // something else in an smb:// address.
    std::string url = "smb://";
    for (const char c : workgroup) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) != 0 && u < 0x80) {
            url += c;
        } else {
            constexpr const char* Hex = "0123456789ABCDEF";
            url += '%';
            url += Hex[u >> 4];
            url += Hex[u & 0x0F];
        }
    }
    return listDirectory(url, SMBC_SERVER);
}

std::optional<Neighbourhood> SmbNetworkEnumerator::sweep(const std::function<bool()>& stop) {
    std::vector<Ipv4> targets;
    for (const Subnet& subnet : onLinkSubnets()) {
        const auto more = sweepTargets(subnet);
        targets.insert(targets.end(), more.begin(), more.end());
    }
    SweepOptions options;
    options.stop = stop;
    return sweepNodeStatus(targets, options);
}

void BrowseListing::finish(bool ok, std::vector<std::string> names) {
    if (!ok) {
        deliver(std::nullopt);
        return;
    }
    std::erase_if(names, [](const std::string& name) {
        return !netbios::isNetbiosName(name, netbios::NameUse::Peer);
    });
    deliver(std::move(names));
}

namespace {

// A browse context of its own for each listing: a listing given up at its deadline goes on in
// its thread with its context, and nothing else ever touches that context.
SMBCCTX* newBrowseContext(const SmbClientLibrary& smbc) {
    SMBCCTX* ctx = smbc.newQuietContext();
    if (ctx == nullptr)
        return nullptr;
    smbc.setTimeout(ctx, BrowseTimeoutMs);
    smbc.setUser(ctx, "guest");
    smbc.setOptionUseKerberos(ctx, false);
    smbc.setOptionFallbackAfterKerberos(ctx, true);
    smbc.setOptionNoAutoAnonymousLogin(ctx, false);
    smbc.setFunctionAuthDataWithContext(ctx, guestCredentials);
    // The browse list (NetServerEnum2) exists only over SMB1.
    smbc.setOptionProtocols(ctx, "NT1", "NT1");
    if (smbc.init_context(ctx) == nullptr) {
        smbc.free_context(ctx, 1);
        return nullptr;
    }
    return ctx;
}

void readDirectory(const std::string& url, unsigned wantedType, BrowseListing& result) {
    // libsmbclient keeps process-wide state (its talloc stack frames among it): two listings
    // at once, even in contexts of their own, corrupt it and crash. Listings take turns; one
    // that waits here past its caller's patience is simply not used.
    static std::mutex libraryInUse;
    const std::lock_guard turn(libraryInUse);
    std::vector<std::string> names;
    bool ok = false;
    const SmbClientLibrary* smbc = SmbClientLibrary::get();
    if (SMBCCTX* ctx = smbc != nullptr ? newBrowseContext(*smbc) : nullptr) {
        if (SMBCFILE* dir = smbc->getFunctionOpendir(ctx)(ctx, url.c_str())) {
            const auto readdir = smbc->getFunctionReaddir(ctx);
            while (const smbc_dirent* d = readdir(ctx, dir))
                if (d->smbc_type == wantedType)
                    names.emplace_back(d->name, strnlen(d->name, d->namelen));
            smbc->getFunctionClosedir(ctx)(ctx, dir);
            ok = true;
        }
        smbc->free_context(ctx, 1);
    }
    result.finish(ok, std::move(names));
}

} // namespace

std::shared_ptr<BrowseListing> SmbNetworkEnumerator::listDirectory(const std::string& url,
                                                                   unsigned wantedType) {
    auto listing = std::make_shared<BrowseListing>();
    // Loading libsmbclient is part of the thread's work, so that the sweep beside it starts at
    // once; a listing given up goes on alone.
    runDetached(listing, [url, wantedType](BrowseListing& result) {
        readDirectory(url, wantedType, result);
    });
    return listing;
}

} // namespace lanquill::platform
