#include "daemon/Accounts.h"

#include "daemon/Log.h"
#include "protocol/NetBios.h"

#include <cstdint>
#include <fstream>
#include <sstream>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace lanquill::daemon {

namespace {

// The range of uids that useradd gives to people, as login.defs sets it.
std::pair<uid_t, uid_t> peoplesUids() {
    static const auto range = [] {
        std::pair<uid_t, uid_t> uids{1000, 60000};
        std::ifstream defs("/etc/login.defs");
        std::string key;
        unsigned long value = 0;
        for (std::string line; std::getline(defs, line);) {
            std::istringstream words(line);
            if (!(words >> key >> value))
                continue;
            if (key == "UID_MIN")
                uids.first = static_cast<uid_t>(value);
            else if (key == "UID_MAX")
                uids.second = static_cast<uid_t>(value);
        }
        return uids;
    }();
    return range;
}

bool canHaveDesktopSession(const passwd& account) {
    const auto [first, last] = peoplesUids();
    const std::string_view shell = account.pw_shell ? account.pw_shell : "";
    return account.pw_uid >= first && account.pw_uid <= last && !shell.ends_with("/nologin") &&
           !shell.ends_with("/false");
}

} // namespace

void Accounts::everyAccount(const std::function<void(const passwd&)>& each) {
    ::setpwent();
    while (const passwd* account = ::getpwent())
        each(*account);
    ::endpwent();
}

Accounts::Accounts(EventLoop& loop, Source source)
    : loop_(loop), source_(std::move(source)),
      wake_(checked(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC), "eventfd")) {
    loop_.watch(wake_, EPOLLIN, [this](std::uint32_t) { arrived(); });
    walk();
}

Accounts::~Accounts() {
    loop_.cancel(refresh_);
    if (worker_.joinable())
        worker_.join();
    loop_.unwatch(wake_);
    ::close(wake_);
}

void Accounts::walk() {
    if (walking_)
        return;
    if (worker_.joinable())
        worker_.join(); // the last walk has handed its table over and is ending
    walking_ = true;
    lastWalk_ = loop_.now();
    loop_.cancel(refresh_);
    refresh_ = 0;
    worker_ = std::thread([this] {
        std::optional<Table> table;
        try {
            table = walkTable();
        } catch (...) {
            // Out of memory, most likely: the loop keeps the table it has and walks again later.
        }
        {
            const std::lock_guard lock(mutex_);
            ready_ = std::move(table);
            finished_ = true;
        }
        // Cannot fail: the counter is far from its limit.
        static_cast<void>(::eventfd_write(wake_, 1));
    });
}

Accounts::Table Accounts::walkTable() const {
    Table table;
    source_([&](const passwd& account) {
        const auto name = protocol::netbios::netbiosName(account.pw_name ? account.pw_name : "");
        // Two accounts with one NetBIOS name: the first listed wins.
        if (name)
            table.emplace(*name, canHaveDesktopSession(account) ? Users::Account::Desktop
                                                                : Users::Account::System);
    });
    return table;
}

void Accounts::arrived() {
    eventfd_t count = 0;
    static_cast<void>(::eventfd_read(wake_, &count));
    std::optional<Table> table;
    {
        const std::lock_guard lock(mutex_);
        if (!finished_)
            return;
        finished_ = false;
        table.swap(ready_);
    }
    walking_ = false;
    if (!table)
        log(Priority::Warning, "the accounts could not be read: trying again in 10 minutes");
    else if (!table_)
        log(Priority::Info, "accounts read: " + std::to_string(table->size()) + " names");
    if (table)
        table_ = std::move(table);
    refresh_ = loop_.after(RefreshEvery, [this] {
        refresh_ = 0;
        walk();
    });
}

Users::Account Accounts::find(const std::string& user) {
    if (!table_)
        return Users::Account::Desktop;
    if (const auto it = table_->find(user); it != table_->end())
        return it->second;
    // No account, as the last walk found: the message is for the computer, as it always was.
    // Keeping it for the name instead would let a sender naming made-up users fill the share of
    // the spool that real users without a session have. An account made since the last walk is
    // known from the walk this miss starts (at most one a minute, so misses cannot keep the
    // directory busy).
    if (loop_.now() - lastWalk_ >= RefreshAfterMissAtMost)
        walk();
    return Users::Account::None;
}

} // namespace lanquill::daemon
