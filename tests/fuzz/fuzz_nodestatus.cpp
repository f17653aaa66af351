// Feeds arbitrary datagrams to the node-status decoder. Whatever arrives on port 6767 must
// decode within its bytes, and a reply cut short must leave the results alone.
#include "net/NodeStatus.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> datagram(data, size);
    lanquill::net::NodeStatusResults results;
    lanquill::net::handleDatagram(datagram, "192.168.0.9", results);
    if (!results.NbReplyReceived)
        std::abort();
    // Decoding is a pure function of the bytes: the same datagram twice gives the same record.
    lanquill::net::NodeStatusResults again = results;
    lanquill::net::RecvNbMsg(datagram, again);
    if (again.NbCurrentUser != results.NbCurrentUser ||
        again.NbWorkstationName != results.NbWorkstationName ||
        again.NbMacAddress != results.NbMacAddress)
        std::abort();
    if (!results.NbMacAddress.empty() && results.NbMacAddress.size() != 17)
        std::abort();
    return 0;
}
