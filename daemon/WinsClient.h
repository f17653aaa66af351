// The NetBIOS name server (WINS) side of lanquilld's names, as an H-node keeps them: each unique
// name is registered with the server by unicast (RFC 1002 5.1.2), refreshed at half the time to
// live the server grants, and released at stop. A server that is checking an earlier owner
// answers WAIT FOR ACKNOWLEDGEMENT first; its challenge, a name query to us, is answered by the
// name service like any query. The broadcast registration for the own subnet goes on beside.
#pragma once

#include "daemon/EventLoop.h"
#include "daemon/LocalNetwork.h"
#include "platform/UdpSocket.h"
#include "protocol/NetBios.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lanquill::daemon {

class WinsClient {
public:
    // `port`: the server's; another than 137 only in tests.
    WinsClient(EventLoop& loop, platform::UdpSocket& socket, LocalNetwork& network,
               const Ipv4& server, std::uint16_t port = protocol::netbios::NameServicePort);

    const Ipv4& server() const { return server_; }
    using NameEvent = std::function<void(const std::string& name, std::uint8_t suffix)>;
    // Called when the server refuses a name because another computer holds it; the name is
    // asked for again every RefusedRetryInterval, and `registered` is called if it is granted.
    void onRefused(NameEvent refused, NameEvent registered) {
        refused_ = std::move(refused);
        registeredAfterRefusal_ = std::move(registered);
    }
    static constexpr auto RefusedRetryInterval = std::chrono::minutes(10);
    // WAIT FOR ACKNOWLEDGEMENTs taken in one round before it counts as unanswered.
    static constexpr int LongestWaits = 3;

    void registerName(const std::string& name, std::uint8_t suffix);
    void releaseName(const std::string& name, std::uint8_t suffix);
    // Releases every name still registered or being registered.
    void stop();
    // A name service response from the server; false when it answers nothing of ours.
    bool onResponse(const protocol::netbios::NamePacket& packet);

    bool registered(const std::string& name, std::uint8_t suffix) const;

private:
    enum class State { Registering, Registered, Refreshing, Refused };
    struct Entry {
        std::string name; // OEM
        std::uint8_t suffix = 0;
        State state = State::Registering;
        std::uint16_t transactionId = 0;
        int sent = 0;             // requests of this round without an answer
        int waits = 0;            // WACKs in this round
        bool refused = false;     // since the server last refused it, until it grants it
        bool waitsLogged = false; // said that the server keeps us waiting, until it answers
        TimePoint next{};         // when to send (again)
        Ipv4 address{};           // the address registered
    };

    void send(Entry& entry);
    void schedule();
    void tick();
    void startRound(Entry& entry, TimePoint at);
    std::optional<Ipv4> ownAddress();

    EventLoop& loop_;
    platform::UdpSocket& socket_;
    LocalNetwork& network_;
    Ipv4 server_;
    std::uint16_t port_;
    NameEvent refused_;
    NameEvent registeredAfterRefusal_;
    std::vector<Entry> entries_;
    EventLoop::TimerId timer_ = 0;
};

} // namespace lanquill::daemon
