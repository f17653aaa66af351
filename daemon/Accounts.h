// The accounts of this computer by NetBIOS user name, read off the loop. Walking the accounts
// can mean asking a directory (LDAP, SSSD) that takes seconds to answer; a walk per message
// would make every sender, session and name query wait on it. A worker thread walks instead:
// at start, every 10 minutes, and (at most once a minute) when a name is not in the table; the
// loop swaps the new table in when the worker wakes it.
#pragma once

#include "daemon/EventLoop.h"
#include "daemon/Users.h"

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <pwd.h>
#include <string>
#include <thread>

namespace lanquill::daemon {

class Accounts {
public:
    static constexpr auto RefreshEvery = std::chrono::minutes(10);
    static constexpr auto RefreshAfterMissAtMost = std::chrono::minutes(1); // since the last walk

    // Calls `each` with every account of this computer; runs on the worker thread.
    using Source = std::function<void(const std::function<void(const passwd&)>& each)>;
    // getpwent.
    static void everyAccount(const std::function<void(const passwd&)>& each);

    explicit Accounts(EventLoop& loop, Source source = &everyAccount);
    // Waits for a walk under way (the worker uses the source and the wake-up descriptor): with a
    // slow directory, stopping waits for its answer.
    ~Accounts();
    Accounts(const Accounts&) = delete;
    Accounts& operator=(const Accounts&) = delete;

    // The account whose NetBIOS name `user` is. Until the first walk is in, every name counts as
    // a desktop account: the message is kept for that name, not lost nor refused because the
    // directory is slow; what is kept for users without a session has its bounded share of the
    // spool, so a sender cannot fill it this way either, and the first walk takes seconds at
    // most. After, a name the table misses is no account, and starts a walk.
    Users::Account find(const std::string& user);
    // Whether a walk has come in.
    bool known() const { return table_.has_value(); }

private:
    using Table = std::map<std::string, Users::Account>;
    void walk();
    Table walkTable() const; // on the worker
    void arrived();

    EventLoop& loop_;
    Source source_;
    int wake_ = -1; // eventfd: the worker's table is ready
    std::mutex mutex_;
    std::optional<Table> ready_; // the worker's table (none if it failed), under mutex_
    bool finished_ = false;      // the worker is done, under mutex_
    std::optional<Table> table_;
    std::thread worker_;
    bool walking_ = false;
    TimePoint lastWalk_{};
    EventLoop::TimerId refresh_ = 0;
};

} // namespace lanquill::daemon
