#include "daemon/ClientHub.h"

#include "daemon/Log.h"
#include "protocol/Addresses.h"
#include "protocol/NetBios.h"
#include "protocol/OemCodePage.h"
#include "protocol/SessionProtocol.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace lanquill::daemon {

namespace session = protocol::session;
namespace oem = protocol::oem;
using nlohmann::json;

struct ClientHub::Client {
    std::unique_ptr<Stream> stream;
    uid_t uid = 0;
    // NetBIOS user name (OEM) from hello on, empty when the account name cannot be one.
    std::string user;
    bool helloed = false;
    bool deliverer = false; // may hand in messages (root, smbd's guest account, ourselves)
    // Ids offered and not yet acknowledged; ids sort by arrival, so the last one offered says
    // where the offers go on.
    std::set<std::string> offered;
    std::string lastOffered;
    bool caughtUp = false; // everything spooled for it has been offered
    bool offering = false;

    void sendLine(std::string_view line) { stream->send(std::string(line) + "\n"); }
    void send(const json& object) {
        sendLine(object.dump(-1, ' ', false, json::error_handler_t::replace));
    }
};

namespace {

json error(std::string_view why) {
    return json{{session::Error, why}};
}

} // namespace

ClientHub::ClientHub(EventLoop& loop, Delivery& delivery, Admission& admission,
                     HubIdentity identity, Accounts::Source accounts)
    : loop_(loop), delivery_(delivery), admission_(admission), identity_(std::move(identity)),
      status_(session::Receiving),
      listener_(loop, "session socket",
                [this](int fd, const sockaddr_storage&) {
                    ucred credentials{};
                    socklen_t length = sizeof credentials;
                    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
                        ::close(fd);
                        return;
                    }
                    adopt(fd, credentials.uid);
                }),
      accounts_(loop, std::move(accounts)) {
    // The reentrant forms: the accounts' worker may be walking getpwent on its thread meanwhile.
    passwd guest{};
    passwd* found = nullptr;
    std::array<char, 16384> buffer{};
    if (::getpwnam_r("nobody", &guest, buffer.data(), buffer.size(), &found) == 0 && found)
        guestUid_ = guest.pw_uid;
    delivery_.setOffer([this](const Message& message) { offer(message); });
}

ClientHub::~ClientHub() {
    listener_.stop();
    for (const auto& [user, timer] : leaving_)
        loop_.cancel(timer);
    delivery_.setOffer(nullptr);
    clients_.clear();
    if (socket_ >= 0) {
        ::close(socket_);
        ::unlink(path_.c_str());
    }
}

void ClientHub::onUserEvents(UserEvent first, UserEvent last) {
    firstSession_ = std::move(first);
    lastSession_ = std::move(last);
}

void ClientHub::listen(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.string().size() >= sizeof address.sun_path)
        throw std::runtime_error("session socket path too long: " + path.string());
    std::strcpy(address.sun_path, path.c_str());
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    ::unlink(path.c_str());
    socket_ = checked(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0),
                      "socket(AF_UNIX)");
    if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket_, 16) != 0)
        throw std::runtime_error("cannot listen on " + path.string() + ": " + std::strerror(errno));
    path_ = path;
    // Every desktop user connects; SO_PEERCRED tells who.
    checked(::chmod(path.c_str(), 0666), "chmod(session socket)");
    listener_.listen(socket_);
}

void ClientHub::adopt(int fd, uid_t uid) {
    const auto sameUser = static_cast<std::size_t>(
        std::count_if(clients_.begin(), clients_.end(),
                      [&](const auto& entry) { return entry.second->uid == uid; }));
    if (clients_.size() >= MaxClients || sameUser >= MaxClientsPerUser) {
        const std::string refusal = json{{session::Error, session::TooManySessions}}.dump() + "\n";
        static_cast<void>(::send(fd, refusal.data(), refusal.size(), MSG_NOSIGNAL | MSG_DONTWAIT));
        ::close(fd);
        return;
    }
    auto client = std::make_unique<Client>();
    client->uid = uid;
    client->deliverer = uid == 0 || uid == guestUid_ || uid == ::getuid();
    Stream::Limits limits;
    limits.input = session::LongestClientLine;
    limits.pauseReading = OfferBacklog;
    // Offers wait for the backlog to drain; what else a session is sent (answers to its own
    // lines) stops when it stops reading, so only a client that ignores this bound reaches it.
    limits.output = OfferBacklog + 2 * session::LongestServerLine;
    Client* raw = client.get();
    const std::uint64_t id = nextClient_++;
    client->stream = std::make_unique<Stream>(
        loop_, fd, limits, [this, raw](Stream&) { onInput(*raw); },
        [this, id](Stream&) { closed(id); });
    client->stream->onDrained([this, raw](Stream&) { offerMore(*raw); });
    clients_[id] = std::move(client);
}

void ClientHub::closed(std::uint64_t id) {
    const auto it = clients_.find(id);
    if (it == clients_.end())
        return;
    const std::string user = it->second->helloed ? it->second->user : "";
    clients_.erase(it);
    if (user.empty() || connected(user) || leaving_.contains(user))
        return;
    leaving_[user] = loop_.after(NameKeptAfterLastSession, [this, user] {
        leaving_.erase(user);
        if (!connected(user) && lastSession_)
            lastSession_(user);
    });
}

void ClientHub::onInput(Client& client) {
    std::string& input = client.stream->input();
    std::size_t end;
    while ((end = input.find('\n')) != std::string::npos) {
        const std::string line = input.substr(0, end);
        input.erase(0, end + 1);
        if (!onLine(client, line)) {
            client.stream->close();
            return;
        }
        if (!client.stream->open())
            return;
    }
    if (input.size() > session::LongestClientLine) {
        client.send(error(session::LineTooLong));
        client.stream->close();
    }
}

bool ClientHub::onLine(Client& client, const std::string& line) {
    const json object = json::parse(line, nullptr, false);
    if (!object.is_object()) {
        client.send(error(session::NotAnObject));
        return true;
    }
    if (object.contains(session::Hello)) {
        if (!client.helloed)
            hello(client);
        return true;
    }
    if (const auto ack = object.find(session::Ack); ack != object.end() && ack->is_string()) {
        acknowledge(client, ack->get<std::string>());
        return true;
    }
    if (const auto request = object.find(session::Deliver); request != object.end()) {
        deliver(client, request->dump());
        return true;
    }
    client.send(error(session::UnknownRequest));
    return true;
}

void ClientHub::hello(Client& client) {
    // Looked up here, not when a client connects: lanquill-deliver connects for every message smbd
    // hands in, and needs no name.
    passwd account{};
    passwd* found = nullptr;
    std::array<char, 16384> buffer{};
    if (::getpwuid_r(client.uid, &account, buffer.data(), buffer.size(), &found) == 0 && found)
        client.user = protocol::netbios::netbiosName(account.pw_name).value_or("");
    // A session that has ended but is not yet cleared away still holds the name.
    bool first = !client.user.empty() &&
                 std::none_of(clients_.begin(), clients_.end(), [&](const auto& entry) {
                     return entry.second.get() != &client && entry.second->helloed &&
                            entry.second->user == client.user;
                 });
    if (const auto leaving = leaving_.find(client.user); first && leaving != leaving_.end()) {
        loop_.cancel(leaving->second); // the name is still ours
        leaving_.erase(leaving);
        first = false;
    }
    client.helloed = true;
    client.send(json{{session::Hello, 1},
                     {session::Computer, nameText(identity_.computer)},
                     {session::Workgroup, nameText(identity_.workgroup)},
                     {session::User, nameText(client.user)}});
    sendStatus(client);
    if (first && firstSession_)
        firstSession_(client.user);
    offerMore(client);
}

void ClientHub::sendStatus(Client& client) {
    json line = {{session::Status, status_}};
    if (!statusReason_.empty())
        line[session::Reason] = statusReason_;
    client.send(line);
}

void ClientHub::setStatus(std::string_view word, const std::string& reason) {
    if (word == status_ && reason == statusReason_)
        return;
    status_ = word;
    statusReason_ = reason;
    for (auto& [id, client] : clients_)
        if (client->helloed && client->stream->open())
            sendStatus(*client);
}

void ClientHub::acknowledge(Client& client, const std::string& id) {
    // Only the session a message was offered to may drop it: another user's session could
    // otherwise delete what it was never shown.
    if (client.offered.erase(id) == 0) {
        client.send(error(session::NotOffered));
        return;
    }
    delivery_.acknowledge(id);
    for (auto& [key, other] : clients_)
        other->offered.erase(id);
}

// Offers what is spooled for the session past what it was offered, while it keeps reading.
void ClientHub::offerMore(Client& client) {
    if (!client.helloed || client.caughtUp || client.offering || !client.stream->open())
        return;
    client.offering = true;
    bool full = false;
    delivery_.eachPendingAfter(client.lastOffered, client.user, [&](const Message& message) {
        if (client.stream->backlog() >= OfferBacklog) {
            full = true; // more when it has read these
            return false;
        }
        client.offered.insert(message.id);
        client.lastOffered = message.id;
        client.sendLine(session::offerLine(message));
        return true;
    });
    client.caughtUp = !full;
    client.offering = false;
}

// A message smbd took in, handed over by lanquill-deliver.
void ClientHub::deliver(Client& client, const std::string& requestText) {
    const json request = json::parse(requestText, nullptr, false);
    const auto field = [&](std::string_view name) {
        const auto it = request.find(name);
        return it != request.end() && it->is_string() ? it->get<std::string>() : "";
    };
    if (!client.deliverer || !request.is_object()) {
        client.send(error(session::NotAllowedToDeliver));
        return;
    }
    const auto sender = protocol::parseIpv4(field(session::field::Address));
    const std::string body = field(session::field::Text);
    if (!sender) {
        client.send(error(session::BadAddress));
        return;
    }
    if (!admission_.admit(*sender, body.size(), Admission::Channel::HandedIn)) {
        client.send(error(session::Refused));
        return;
    }
    // smbd hands the called name in lower case; the text already in UTF-8.
    const std::string to = oem::upperAscii(field(session::field::To));
    Message message;
    message.kind = session::Direct;
    message.from = oem::upperAscii(field(session::field::From));
    message.address = field(session::field::Address);
    const auto recipient =
        delivery_.recipient(oem::fromUtf8(to).value_or(""), Addressed::InMessage, message.address);
    if (recipient.verdict == Recipient::Verdict::SystemAccount) {
        client.send(error(session::Refused));
        return;
    }
    message.user = recipient.user;
    message.to = message.user.empty() ? nameText(identity_.computer) : to;
    message.text = oem::isUtf8(body) ? body : oem::toUtf8Lossy(body);
    switch (delivery_.accept(message, false)) {
    case Delivery::Result::Stored:
        client.send(json{{session::Stored, 1}});
        break;
    case Delivery::Result::Unusable:
        client.send(error(session::Refused));
        break;
    case Delivery::Result::Full:
    case Delivery::Result::Failed:
        client.send(error(session::SpoolUnavailable));
        break;
    }
}

void ClientHub::offer(const Message& message) {
    for (auto& [id, client] : clients_) {
        if (!client->helloed || !client->stream->open() ||
            (!message.user.empty() && message.user != client->user))
            continue;
        if (client->caughtUp && client->stream->backlog() < OfferBacklog) {
            client->offered.insert(message.id);
            client->lastOffered = message.id;
            client->sendLine(session::offerLine(message));
        } else {
            client->caughtUp = false; // offered once it has read what waits
        }
    }
}

bool ClientHub::connected(const std::string& user) const {
    return std::any_of(clients_.begin(), clients_.end(), [&](const auto& entry) {
        return entry.second->helloed && entry.second->stream->open() && entry.second->user == user;
    });
}

std::size_t ClientHub::queuedBytes() const {
    std::size_t bytes = 0;
    for (const auto& [id, client] : clients_)
        bytes += client->stream->backlog();
    return bytes;
}

Users::Account ClientHub::account(const std::string& user) const {
    return connected(user) ? Account::Desktop : accounts_.find(user);
}

std::vector<std::string> ClientHub::all() const {
    std::vector<std::string> users;
    for (const auto& [id, client] : clients_)
        if (client->helloed && client->stream->open() && !client->user.empty() &&
            std::find(users.begin(), users.end(), client->user) == users.end())
            users.push_back(client->user);
    return users;
}

} // namespace lanquill::daemon
