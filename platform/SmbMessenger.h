// NetMessageBufferSend over the wire: an SMB1 messenger client on the NetBIOS session service
// (TCP 139), delivering a pop-up message to a Windows Messenger service or a Samba host.
#pragma once

#include "platform/Platform.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace lanquill::platform {

class SmbMessenger : public Messenger {
public:
    struct Options {
        std::uint16_t port = 139;
        // Asking a dotted address for its messenger name; 0 skips the question.
        std::chrono::milliseconds nodeStatusWait{750};
        std::chrono::milliseconds connectTimeout{2000};
        // The whole send, from the first question to the last answer, however many blocks the
        // text takes: a peer answering just in time at every step cannot hold it longer.
        std::chrono::milliseconds sendTimeout{10000};
        // And no send goes on past this, however much of its own time is left.
        std::chrono::steady_clock::time_point until = std::chrono::steady_clock::time_point::max();
    };

    // Names that are not dotted addresses are resolved through `resolver`.
    explicit SmbMessenger(Resolver& resolver) : SmbMessenger(resolver, Options{}) {}
    SmbMessenger(Resolver& resolver, Options options) : resolver_(resolver), options_(options) {}

    std::uint32_t send(const std::string& to, const std::string& from,
                       const std::string& text) override;

private:
    Resolver& resolver_;
    Options options_;
};

} // namespace lanquill::platform
