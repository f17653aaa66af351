#include "net/NetUsers.h"

#include <algorithm>

namespace lanquill::net {

namespace {

namespace ne = platform::netenum;

// Every WNet enumeration is opened with these, containers and top level alike.
constexpr std::uint32_t Scope = ne::ScopeGlobalNet;
constexpr std::uint32_t Type = ne::TypeDisk;
constexpr std::uint32_t Usage = ne::UsageContainer;

QString keyOf(const std::string& name) {
    return QString::fromStdString(name).toCaseFolded();
}

// Locale order ignoring case; names the collation cannot tell apart but that differ in their
// letters are still ordered (by code point), so no name is ever dropped as a duplicate of
// another.
int compareKeys(const QString& a, const QString& b) {
    const int byLocale = a.localeAwareCompare(b);
    if (byLocale != 0)
        return byLocale;
    return a.compare(b);
}

// One open enumeration. Closing it is part of the operation's result, so the normal path calls
// close() and looks at the code; the destructor only tidies up after a failure that is already
// on its way out, where a second failure would add nothing.
class Enumeration {
public:
    explicit Enumeration(platform::NetworkEnumerator& network) : network_(network) {}
    ~Enumeration() {
        if (open_)
            network_.close(handle_);
    }
    Enumeration(const Enumeration&) = delete;
    Enumeration& operator=(const Enumeration&) = delete;

    std::uint32_t open(const platform::NetResource* container) {
        const std::uint32_t rc = network_.open(Scope, Type, Usage, container, handle_);
        open_ = rc == ne::NoError;
        return rc;
    }
    std::uint32_t read(std::vector<platform::NetResource>& batch) {
        return network_.read(handle_, batch);
    }
    std::uint32_t close() {
        open_ = false; // a failed close is not retried
        return network_.close(handle_);
    }

private:
    platform::NetworkEnumerator& network_;
    platform::NetworkEnumerator::Handle handle_ = 0;
    bool open_ = false;
};

[[noreturn]] void raise(std::uint32_t code) {
    throw platform::SystemError(static_cast<int>(code), netEnumErrorText(code));
}

void check(std::uint32_t code) {
    if (code != ne::NoError)
        raise(code);
}

} // namespace

std::string netEnumErrorText(std::uint32_t code) {
    std::string meaning;
    switch (code) {
    case ne::InvalidHandle:
        meaning = "The handle is invalid.";
        break;
    case ne::BadNetName:
        meaning = "The network name cannot be found.";
        break;
    case ne::NoNetwork:
        meaning = "The network is not present or not started.";
        break;
    default:
        meaning = "The network neighbourhood could not be read.";
        break;
    }
    return "System Error.  Code: " + std::to_string(code) + ".\n" + meaning;
}

TNetUsers::TNetUsers(platform::NetworkEnumerator& network, platform::SystemInfo& system,
                     QObject* owner)
    : QObject(owner), network_(network), system_(system) {}

void TNetUsers::setServer(const std::string& server) {
    if (server != server_)
        server_ = server;
}

bool TNetUsers::containsName(const std::string& name) const {
    const QString key = keyOf(name);
    const auto it =
        std::lower_bound(keys_.begin(), keys_.end(), key,
                         [](const QString& a, const QString& b) { return compareKeys(a, b) < 0; });
    return it != keys_.end() && it->compare(key) == 0;
}

void TNetUsers::addName(const std::string& name) {
    const QString key = keyOf(name);
    const auto it =
        std::lower_bound(keys_.begin(), keys_.end(), key,
                         [](const QString& a, const QString& b) { return compareKeys(a, b) < 0; });
    if (it != keys_.end() && it->compare(key) == 0)
        return;
    const auto at = it - keys_.begin();
    names_.insert(names_.begin() + at, name);
    keys_.insert(it, key);
}

void TNetUsers::clearNames() {
    names_.clear();
    keys_.clear();
}

bool TNetUsers::EnumGroups() {
    clearNames();
    std::vector<platform::NetResource> batch;
    std::vector<platform::NetResource> providers; // MyRec copies, for this call only
    {
        Enumeration top(network_);
        check(top.open(nullptr));
        // Only one batch is read at the top level.
        const std::uint32_t rc = top.read(batch);
        if (rc == ne::NoMoreItems) {
            check(top.close());
            return false;
        }
        check(rc);
        providers = batch;
        check(top.close());
    }
    for (const platform::NetResource& provider : providers) {
        Enumeration groups(network_);
        check(groups.open(&provider));
        for (;;) {
            const std::uint32_t rc = groups.read(batch);
            if (rc == ne::NoMoreItems)
                break;
            check(rc);
            for (const platform::NetResource& group : batch)
                if (!group.remoteName.empty())
                    addName(group.remoteName);
        }
        check(groups.close());
    }
    return true;
}

bool TNetUsers::EnumComputers() {
    clearNames();
    platform::NetResource container;
    container.scope = ne::ScopeConnected;
    container.type = ne::TypeAny;
    container.displayType = ne::DisplayServer;
    container.usage = ne::UsageContainer;
    container.remoteName = server_;

    Enumeration computers(network_);
    if (computers.open(&container) != ne::NoError)
        return false;
    std::vector<platform::NetResource> batch;
    for (;;) {
        const std::uint32_t rc = computers.read(batch);
        if (rc == ne::NoMoreItems)
            break;
        if (rc != ne::NoError) {
            check(computers.close());
            return false;
        }
        for (const platform::NetResource& computer : batch) {
            // The platform names a computer "\\NAME"; the list holds NAME. A name without the
            // two backslashes is kept whole rather than losing its first letters.
            std::string name = computer.remoteName;
            if (name.starts_with("\\\\"))
                name.erase(0, 2);
            if (!name.empty())
                addName(name);
        }
    }
    check(computers.close());
    return true;
}

bool TNetUsers::Execute() {
    if (!server_.empty())
        return EnumComputers();
    if (!EnumGroups())
        return false;
    const std::string local = system_.computerName();
    const std::vector<std::string> groups = names_;
    for (const std::string& group : groups) {
        setServer(group);
        if (EnumComputers() && !local.empty() && containsName(local))
            return true;
    }
    return false;
}

} // namespace lanquill::net
