#include "platform/SmbNetworkEnumerator.h"

#include "platform/SmbClientLibrary.h"
#include "protocol/OemCodePage.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <string_view>
#include <system_error>
#include <thread>

namespace lanquill::platform {

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

bool SmbNetworkEnumerator::isValidNetBiosName(const std::string& name) {
    if (name.empty())
        return false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || std::strchr("\\/:*?\"<>|", c) != nullptr)
            return false;
    }
    const auto oemName = oem::fromUtf8(name);
    return oemName && !oemName->empty() && oemName->size() <= 15;
}

std::uint32_t SmbNetworkEnumerator::open(std::uint32_t, std::uint32_t, std::uint32_t,
                                         const NetResource* container, Handle& handle) {
    const std::lock_guard lock(mutex_);
    Listing listing;
    if (container == nullptr) {
        listing.entries.push_back(entry(netenum::DisplayNetwork, ProviderName));
        listing.entries.back().comment = "Workgroups of the local network";
    } else if (container->displayType == netenum::DisplayNetwork) {
        std::vector<std::string> groups;
        if (browseWorkgroups(groups))
            std::erase_if(groups,
                          [](const std::string& name) { return !isValidNetBiosName(name); });
        else
            groups.clear();
        if (groups.empty()) {
            groups.clear();
            for (const auto& [group, members] : sweptNeighbourhood())
                groups.push_back(group);
        }
        for (auto& group : groups)
            listing.entries.push_back(entry(netenum::DisplayDomain, std::move(group)));
    } else if (container->displayType == netenum::DisplayServer ||
               container->displayType == netenum::DisplayDomain) {
        const std::string& group = container->remoteName;
        if (!isValidNetBiosName(group))
            return netenum::BadNetName;
        std::vector<std::string> computers;
        if (browseComputers(group, computers))
            std::erase_if(computers,
                          [](const std::string& name) { return !isValidNetBiosName(name); });
        else
            computers.clear();
        if (computers.empty()) {
            computers.clear();
            const Neighbourhood& swept = sweptNeighbourhood();
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

bool SmbNetworkEnumerator::browseWorkgroups(std::vector<std::string>& names) {
    return listDirectory("smb://", SMBC_WORKGROUP, names);
}

bool SmbNetworkEnumerator::browseComputers(const std::string& workgroup,
                                           std::vector<std::string>& names) {
    if (!isValidNetBiosName(workgroup))
        return false;
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
    return listDirectory(url, SMBC_SERVER, names);
}

Neighbourhood SmbNetworkEnumerator::sweep() {
    std::vector<Ipv4> targets;
    for (const Subnet& subnet : onLinkSubnets()) {
        const auto more = sweepTargets(subnet);
        targets.insert(targets.end(), more.begin(), more.end());
    }
    return sweepNodeStatus(targets);
}

const Neighbourhood& SmbNetworkEnumerator::sweptNeighbourhood() {
    // One sweep serves the listings of a while (a dialog lists the workgroups, then a workgroup's
    // computers); after that the network is swept afresh, as computers come and go.
    const auto now = std::chrono::steady_clock::now();
    if (!swept_ || now - sweptAt_ > SweepLifetime) {
        swept_ = sweep();
        sweptAt_ = std::chrono::steady_clock::now();
    }
    return *swept_;
}

namespace {

// A browse context of its own for each listing: a listing given up at its deadline goes on in
// its thread with its context, and nothing else ever touches that context.
SMBCCTX* newBrowseContext(const SmbClientLibrary& smbc) {
    SMBCCTX* ctx = smbc.new_context();
    if (ctx == nullptr)
        return nullptr;
    // Only the library's errors are logged, and to standard error: its default is standard
    // output, where `lanquill-net view` prints the names it lists.
    smbc.setDebug(ctx, 0);
    smbc.setOptionDebugToStderr(ctx, true);
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

// The outcome of one listing, shared by the thread that reads it and the caller waiting for it;
// whichever leaves last frees it.
struct DirectoryListing {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool ok = false;
    std::vector<std::string> names;
};

void readDirectory(const SmbClientLibrary& smbc, const std::string& url, unsigned wantedType,
                   DirectoryListing& result) {
    std::vector<std::string> names;
    bool ok = false;
    if (SMBCCTX* ctx = newBrowseContext(smbc)) {
        if (SMBCFILE* dir = smbc.getFunctionOpendir(ctx)(ctx, url.c_str())) {
            const auto readdir = smbc.getFunctionReaddir(ctx);
            while (const smbc_dirent* d = readdir(ctx, dir)) {
                if (d->smbc_type != wantedType)
                    continue;
                std::string name(d->name, strnlen(d->name, d->namelen));
                if (!name.empty() && SmbNetworkEnumerator::isValidNetBiosName(name))
                    names.push_back(std::move(name));
            }
            smbc.getFunctionClosedir(ctx)(ctx, dir);
            ok = true;
        }
        smbc.free_context(ctx, 1);
    }
    const std::lock_guard lock(result.mutex);
    result.names = std::move(names);
    result.ok = ok;
    result.done = true;
    result.finished.notify_one();
}

} // namespace

bool SmbNetworkEnumerator::listDirectory(const std::string& url, unsigned wantedType,
                                         std::vector<std::string>& names) {
    const SmbClientLibrary* smbc = SmbClientLibrary::get();
    if (smbc == nullptr)
        return false;
    auto listing = std::make_shared<DirectoryListing>();
    try {
        std::thread([smbc, url, wantedType, listing] {
            readDirectory(*smbc, url, wantedType, *listing);
        }).detach();
    } catch (const std::system_error&) {
        return false; // no thread to be had: as if no browse service answered
    }
    std::unique_lock lock(listing->mutex);
    if (!listing->finished.wait_for(lock, BrowseDeadline, [&] { return listing->done; }))
        return false; // the thread finishes on its own; its result is dropped
    if (listing->ok)
        names.insert(names.end(), listing->names.begin(), listing->names.end());
    return listing->ok;
}

} // namespace lanquill::platform
