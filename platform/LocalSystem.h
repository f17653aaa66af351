#pragma once

#include "platform/Platform.h"

namespace lanquill::platform {

class LocalSystem : public SystemInfo {
public:
    std::string currentDirectory() override;
    std::string hostName() override;
    std::string computerName() override;
    std::string programDirectory() override;
    std::vector<Ipv4> interfaceAddresses() override;
};

} // namespace lanquill::platform
