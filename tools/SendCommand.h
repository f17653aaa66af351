// `lanquill-net send`: a workgroup broadcast or a directed message.
#pragma once

#include "platform/MailslotSender.h"

#include <cstdint>
#include <string>

namespace lanquill::tools {

// What a messenger result code means, for the user.
std::string messengerResultText(std::uint32_t code);

// What a broadcast result means, for the user.
std::string broadcastResultText(platform::MailslotSender::Result result);

} // namespace lanquill::tools
