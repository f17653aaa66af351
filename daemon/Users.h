// What the services ask about the users of this computer; the client hub answers.
#pragma once

#include <string>
#include <vector>

namespace lanquill::daemon {

// The desktop users of this computer, by NetBIOS user name.
class Users {
public:
    virtual ~Users() = default;
    // A session of the user said hello.
    virtual bool connected(const std::string& user) const = 0;
    enum class Account {
        None,    // no account of this computer: a message to it is for the computer
        System,  // an account nobody logs in to a desktop with: nobody would read its messages
        Desktop, // connected, or an account that can have a desktop session: kept for the next
    };
    virtual Account account(const std::string& user) const = 0;
    virtual std::vector<std::string> all() const = 0;
};

} // namespace lanquill::daemon
