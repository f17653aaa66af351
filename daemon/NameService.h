// The NetBIOS name service on UDP 137, as a B-node: registers this computer's names and the
// desktop users' <03> names by broadcast, defends them, answers name queries and node status,
// and releases the names at stop. Beside Samba's nmbd (smbd holds TCP 139) only the users'
// names are ours: nmbd owns the machine's.
#pragma once

#include "daemon/Admission.h"
#include "daemon/ClientHub.h"
#include "daemon/EventLoop.h"
#include "daemon/LocalNetwork.h"
#include "daemon/Log.h"
#include "daemon/WinsClient.h"
#include "platform/UdpSocket.h"
#include "protocol/NetBios.h"

#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace lanquill::daemon {

class NameService {
public:
    struct Identity {
        std::string computer;             // OEM
        std::string workgroup;            // OEM
        bool ownsMachineNames = true;     // false where nmbd answers for the machine
        std::optional<Ipv4> winsServer{}; // unique names are registered there too (H-node)
    };

    NameService(EventLoop& loop, platform::UdpSocket& socket, LocalNetwork& network,
                Admission& admission, const Users& users, Identity identity);

    // Called when another host defended one of the computer's names, and when the WINS server
    // granted one it had refused (`why` empty once none is lost).
    void onNameLost(std::function<void(const std::string& why)> lost) { lost_ = std::move(lost); }

    // Starts registering the names we answer for.
    void start();
    // Releases every name still ours.
    void stop();
    void registerUser(const std::string& user);
    void releaseUser(const std::string& user);
    // Reads what has come in.
    void onReadable();

    // A name another host defended at registration: not answered for any more.
    bool lost(const std::string& name, std::uint8_t suffix) const;
    bool registering() const { return !registrations_.empty(); }

private:
    struct OwnedName {
        std::string name; // OEM
        std::uint8_t suffix = 0;
        bool group = false;
        bool answered = true; // answered to queries and registered; false: only listed
        bool lost = false;    // another host defended it at registration
    };
    struct PendingRegistration {
        std::string name;
        std::uint8_t suffix = 0;
        bool group = false;
        std::uint16_t transactionId = 0;
        int sent = 0;
        TimePoint next;
    };

    void onPacket(std::span<const std::uint8_t> data, const platform::UdpSocket::Arrived& from);
    void answerNodeStatus(const protocol::netbios::NamePacket& packet,
                          const platform::UdpSocket::Arrived& from,
                          const platform::Interface* arrival);
    void answerQuery(const protocol::netbios::NamePacket& packet,
                     const platform::UdpSocket::Arrived& from, const Ipv4& local);
    void defend(const protocol::netbios::NamePacket& packet,
                const platform::UdpSocket::Arrived& from, const Ipv4& local);
    void onDefended(const protocol::netbios::NamePacket& packet, const Ipv4& defender);
    enum class LostTo { Broadcast, WinsServer };
    void markLost(const std::string& name, std::uint8_t suffix, const std::string& why,
                  LostTo lostTo);
    void markRegained(const std::string& name, std::uint8_t suffix);
    std::optional<OwnedName> answeredName(const protocol::netbios::DecodedName& asked) const;
    void queueRegistration(const std::string& name, std::uint8_t suffix, bool group);
    void release(const std::string& name, std::uint8_t suffix, bool group);
    void broadcast(const std::function<std::optional<protocol::Bytes>(const Ipv4&)>& build);
    void registrationTick();
    void send(const Ipv4& to, std::uint16_t port, std::span<const std::uint8_t> data,
              const std::optional<Ipv4>& source);

    EventLoop& loop_;
    platform::UdpSocket& socket_;
    LocalNetwork& network_;
    Admission& admission_;
    const Users& users_;
    LogLimiter logs_;
    std::function<void(const std::string&)> lost_;
    Identity identity_;
    std::vector<OwnedName> names_;
    std::set<std::string> lostUsers_; // users' <03> names another host holds
    std::deque<PendingRegistration> registrations_;
    std::optional<WinsClient> wins_;
    EventLoop::TimerId tick_ = 0;
};

} // namespace lanquill::daemon
