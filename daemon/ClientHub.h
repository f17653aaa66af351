// The session socket: desktop sessions say hello and are offered the messages for them, and
// acknowledge each once their history holds it; lanquill-deliver hands in what smbd took. The
// peer's uid (SO_PEERCRED) tells who it is. A session may acknowledge only what it was offered;
// offers go out as fast as the session reads them, never piling up in lanquilld.
#pragma once

#include "daemon/Accounts.h"
#include "daemon/Admission.h"
#include "daemon/Delivery.h"
#include "daemon/EventLoop.h"
#include "daemon/Listener.h"
#include "daemon/Stream.h"
#include "daemon/Users.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

namespace lanquill::daemon {

struct HubIdentity {
    std::string computer;  // OEM
    std::string workgroup; // OEM
};

class ClientHub : public Users {
public:
    static constexpr std::size_t MaxClientsPerUser = 8;
    static constexpr std::size_t MaxClients = 64;
    // Offers stop while this much waits for the session to read.
    static constexpr std::size_t OfferBacklog = 64 * 1024;
    static constexpr auto NameKeptAfterLastSession = std::chrono::seconds(5);

    // A user's first session came (register its name) or its last one went (release it).
    using UserEvent = std::function<void(const std::string& user)>;

    // `accounts` walks the accounts of this computer, off the loop.
    ClientHub(EventLoop& loop, Delivery& delivery, Admission& admission, HubIdentity identity,
              Accounts::Source accounts = &Accounts::everyAccount);
    ~ClientHub() override;

    // Listens on `path` (made anew, mode 0666: every desktop user connects).
    void listen(const std::filesystem::path& path);
    // A connected client with the uid its credentials name.
    void adopt(int fd, uid_t uid);
    void onUserEvents(UserEvent first, UserEvent last);
    // The status word (and reason) every session is told at hello and whenever it changes.
    void setStatus(std::string_view word, const std::string& reason);

    bool connected(const std::string& user) const override;
    Account account(const std::string& user) const override;
    std::vector<std::string> all() const override;
    // Whether the first walk of the accounts is in.
    bool accountsKnown() const { return accounts_.known(); }
    std::size_t clientCount() const { return clients_.size(); }
    // Bytes waiting for sessions to read them, all sessions together.
    std::size_t queuedBytes() const;

private:
    struct Client;
    void onInput(Client& client);
    bool onLine(Client& client, const std::string& line);
    void hello(Client& client);
    void acknowledge(Client& client, const std::string& id);
    void deliver(Client& client, const std::string& request);
    void offer(const Message& message);
    void offerMore(Client& client);
    void sendStatus(Client& client);
    void closed(std::uint64_t id);

    EventLoop& loop_;
    Delivery& delivery_;
    Admission& admission_;
    HubIdentity identity_;
    std::string status_;
    std::string statusReason_;
    int socket_ = -1; // listening on path_
    std::filesystem::path path_;
    Listener listener_;
    uid_t guestUid_ = static_cast<uid_t>(-1);
    mutable Accounts accounts_; // a lookup that misses may start a walk
    std::map<std::uint64_t, std::unique_ptr<Client>> clients_; // by arrival
    std::uint64_t nextClient_ = 1;
    UserEvent firstSession_;
    UserEvent lastSession_;
    // Users whose last session went moments ago: their name is kept a little, so that a session
    // that comes and goes (a restart, or a local user cycling connections) costs no broadcasts.
    std::map<std::string, EventLoop::TimerId> leaving_;
};

} // namespace lanquill::daemon
