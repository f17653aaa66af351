// The session socket: desktop sessions say hello and are offered the messages for them, and
// acknowledge each once their history holds it; lanquill-deliver hands in what smbd took. The
// peer's uid (SO_PEERCRED) tells who it is.
#pragma once

#include "daemon/Admission.h"
#include "daemon/Delivery.h"
#include "daemon/EventLoop.h"
#include "daemon/Stream.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace lanquill::daemon {

// The desktop users with a session that said hello, by NetBIOS user name.
class Users {
public:
    virtual ~Users() = default;
    virtual bool connected(const std::string& user) const = 0;
    virtual std::vector<std::string> all() const = 0;
};

struct HubIdentity {
    std::string computer;  // OEM
    std::string workgroup; // OEM
    bool receiving139 = true;
    std::string no139Reason;
};

class ClientHub : public Users {
public:
    // A user's first session came (register its name) or its last one went (release it).
    using UserEvent = std::function<void(const std::string& user)>;

    ClientHub(EventLoop& loop, Delivery& delivery, Admission& admission, HubIdentity identity);
    ~ClientHub() override;

    // Listens on `path` (made anew, mode 0666: every desktop user connects).
    void listen(const std::filesystem::path& path);
    // A connected client with the uid its credentials name.
    void adopt(int fd, uid_t uid);
    void onUserEvents(UserEvent first, UserEvent last);

    bool connected(const std::string& user) const override;
    std::vector<std::string> all() const override;
    std::size_t clientCount() const { return clients_.size(); }

private:
    struct Client;
    void acceptClients();
    void onInput(Client& client);
    bool onLine(Client& client, const std::string& line);
    void hello(Client& client);
    void deliver(Client& client, const std::string& request);
    void offer(const Message& message);
    void closed(std::uint64_t id);

    EventLoop& loop_;
    Delivery& delivery_;
    Admission& admission_;
    HubIdentity identity_;
    int listener_ = -1;
    std::filesystem::path path_;
    uid_t guestUid_ = static_cast<uid_t>(-1);
    std::map<std::uint64_t, std::unique_ptr<Client>> clients_; // by arrival
    std::uint64_t nextClient_ = 1;
    UserEvent firstSession_;
    UserEvent lastSession_;
};

} // namespace lanquill::daemon
