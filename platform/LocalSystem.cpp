#include "platform/LocalSystem.h"

#include "platform/Interfaces.h"
#include "protocol/NetBios.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

namespace lanquill::platform {

std::string systemErrorText(int code) {
    return "System Error.  Code: " + std::to_string(code) + ".\n" + std::strerror(code);
}

std::string LocalSystem::currentDirectory() {
    // No fixed buffer: any path length the system allows is read whole.
    std::string buffer(256, '\0');
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
            buffer.resize(buffer.find('\0'));
            return buffer;
        }
        if (errno != ERANGE) {
            const int code = errno;
            throw SystemError(code, systemErrorText(code));
        }
        buffer.assign(buffer.size() * 2, '\0');
    }
}

std::string LocalSystem::hostName() {
    char buffer[HOST_NAME_MAX + 2] = {};
    // A name that does not fit, or any failure, counts as no name at all.
    if (::gethostname(buffer, sizeof buffer - 1) != 0)
        return {};
    return buffer;
}

std::string LocalSystem::computerName() {
    return protocol::netbios::computerName(hostName());
}

std::string LocalSystem::programDirectory() {
    std::string path(PATH_MAX, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0)
        return {};
    path.resize(static_cast<std::size_t>(n));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::vector<Ipv4> LocalSystem::interfaceAddresses() {
    std::vector<Ipv4> addresses;
    for (const Interface& up : upInterfaces())
        addresses.push_back(up.address);
    return addresses;
}

} // namespace lanquill::platform
