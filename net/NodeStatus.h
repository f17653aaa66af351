// The NetBIOS node-status probe: the constant query and the decoder of its replies.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace lanquill::net {

// The node-status query (RFC 1002 NBSTAT for the name "*"), 50 bytes, sent unchanged every
// time: transaction id 0, only the broadcast flag, one question.
extern const std::array<std::uint8_t, 50> NbStatQuery;

// How much of a probe reply is decoded; the datagram itself is received whole.
inline constexpr std::size_t NbReceiveBufferSize = 500;

// What the last node-status replies reported. One record for the whole run, only ever
// overwritten: a reply that lacks a kind of entry leaves the earlier value (of the same computer,
// see handleDatagram).
struct NodeStatusResults {
    std::string NbCurrentUser;
    std::string NbExtraName;
    std::string NbWorkstationName;
    std::string NbBrowserGroup;
    std::string NbMacAddress;
    std::string NbReplyFrom; // dotted address of the computer whose replies these are
    bool NbReplyReceived = false;
};

// Decodes one datagram into `results`. Reads stay within the datagram (and within the first
// NbReceiveBufferSize bytes); a reply whose name entries or unit id would reach past its end is
// ignored as a whole. Does not touch NbReplyReceived.
void RecvNbMsg(std::span<const std::uint8_t> datagram, NodeStatusResults& results);

// What the main window does with every datagram received on the probe socket, from the dotted
// address `from`: decode it, then mark that a reply came, whether or not the decoder found
// anything. The results only ever describe one computer: a datagram from another address first
// clears them.
void handleDatagram(std::span<const std::uint8_t> datagram, const std::string& from,
                    NodeStatusResults& results);

} // namespace lanquill::net
