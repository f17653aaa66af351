// Packets a peer sends back, built for tests that play the peer.
#pragma once

#include "protocol/Bytes.h"

#include <cstdint>
#include <vector>

namespace lanquill::testsupport {

// An SMB reply as a messenger receiver sends it: reply flag, NT status, the parameter words and
// no bytes.
protocol::Bytes smbReply(std::uint8_t command, std::uint32_t status,
                         const std::vector<std::uint16_t>& words = {});

} // namespace lanquill::testsupport
