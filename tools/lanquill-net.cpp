#include "platform/WinsServer.h"

#include "protocol/Addresses.h"

#include <systemd/sd-bus.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <memory>

namespace lanquill::platform {

namespace {

// Samba compares parameter and section names without case and ignoring blanks; it also takes
// "wins_server" for "wins server".
std::string canonicalKey(std::string_view key) {
    std::string out;
    for (const char c : key)
        if (!std::isspace(static_cast<unsigned char>(c)) && c != '_')
            out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return out;
}

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::optional<Ipv4> firstServer(std::string_view value) {
    const auto separator = value.find_first_of(" \t,");
    std::string_view entry = value.substr(0, separator);
    // "TAG:ADDRESS" groups servers; the address is after the last colon.
    if (const auto colon = entry.rfind(':'); colon != std::string_view::npos)
        entry.remove_prefix(colon + 1);
    auto address = protocol::parseIpv4(entry);
    if (!address || !protocol::isHostAddress(*address))
        return std::nullopt;
    return address;
}

} // namespace

std::optional<Ipv4> winsServerFromSmbConf(std::string_view text) {
    bool inGlobal = true; // lines before the first section count as global
    std::optional<Ipv4> server;
    std::string line;
    std::size_t position = 0;
    while (position < text.size()) {
        // One logical line: a '\' at the end of a physical line joins the next one to it.
        line.clear();
        for (;;) {
            const auto end = text.find('\n', position);
            std::string_view physical = text.substr(
                position, end == std::string_view::npos ? std::string_view::npos : end - position);
            position = end == std::string_view::npos ? text.size() : end + 1;
            if (!physical.empty() && physical.back() == '\r')
                physical.remove_suffix(1);
            const std::string_view body = trimmed(physical);
            if (!body.empty() && body.back() == '\\' && position < text.size()) {
                line.append(body.substr(0, body.size() - 1));
                line.push_back(' ');
                continue;
            }
            line.append(physical);
            break;
        }
        const std::string_view content = trimmed(line);
        if (content.empty() || content.front() == '#' || content.front() == ';')
            continue;
        if (content.front() == '[') {
            const auto close = content.find(']');
            inGlobal = close != std::string_view::npos &&
                       canonicalKey(content.substr(1, close - 1)) == "global";
            continue;
        }
        const auto equals = content.find('=');
        if (!inGlobal || equals == std::string_view::npos)
            continue;
        if (canonicalKey(content.substr(0, equals)) != "winsserver")
            continue;
        // A later setting replaces an earlier one, as in Samba.
        server = firstServer(trimmed(content.substr(equals + 1)));
    }
    return server;
}

std::vector<std::string> clientSmbConfPaths() {
    if (const char* path = std::getenv("SMB_CONF_PATH"); path && *path)
        return {path};
    const char* home = std::getenv("HOME");
    const std::string own = home && *home ? std::string(home) + "/.smb/smb.conf" : std::string();
    if (!own.empty() && std::ifstream(own, std::ios::binary))
        return {own};
    if (own.empty())
        return {"/etc/samba/smb.conf"};
    return {"/etc/samba/smb.conf", own + ".append"};
}

namespace {

std::optional<Ipv4> winsServerOfFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    // A configuration file is small; a huge one is read no further than a megabyte.
    constexpr std::size_t Limit = 1 << 20;
    std::string text(Limit, '\0');
    file.read(text.data(), static_cast<std::streamsize>(Limit));
    text.resize(static_cast<std::size_t>(file.gcount()));
    return winsServerFromSmbConf(text);
}

} // namespace

namespace {

constexpr const char* NetworkManager = "org.freedesktop.NetworkManager";

struct BusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageDeleter {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Bus = std::unique_ptr<sd_bus, BusDeleter>;
using Message = std::unique_ptr<sd_bus_message, MessageDeleter>;

// A property of NetworkManager's: nullptr when the call fails or the answer is no variant of
// `type`; the message is left inside the variant.
Message nmProperty(sd_bus* bus, const char* path, const char* interface, const char* name,
                   const char* type) {
    sd_bus_error error{}; // SD_BUS_ERROR_NULL, which is a C compound literal
    sd_bus_message* reply = nullptr;
    const int r = sd_bus_call_method(bus, NetworkManager, path, "org.freedesktop.DBus.Properties",
                                     "Get", &error, &reply, "ss", interface, name);
    sd_bus_error_free(&error);
    Message message(reply);
    if (r < 0 || sd_bus_message_enter_container(reply, 'v', type) <= 0)
        return nullptr;
    return message;
}

std::optional<std::string> nmObjectPath(sd_bus* bus, const char* path, const char* interface,
                                        const char* name) {
    const auto message = nmProperty(bus, path, interface, name, "o");
    const char* value = nullptr;
    if (!message || sd_bus_message_read_basic(message.get(), 'o', &value) <= 0 || !value ||
        std::string_view(value) == "/")
        return std::nullopt;
    return std::string(value);
}

// The NetBIOS name servers of an active connection's DHCP lease (option 44), as NetworkManager
// reports them in the lease's options ("netbios_name_servers": "ADDRESS ADDRESS...").
std::optional<Ipv4> leaseWinsServer(sd_bus* bus, const std::string& activeConnection) {
    const auto config =
        nmObjectPath(bus, activeConnection.c_str(),
                     "org.freedesktop.NetworkManager.Connection.Active", "Dhcp4Config");
    if (!config)
        return std::nullopt;
    const auto options = nmProperty(
        bus, config->c_str(), "org.freedesktop.NetworkManager.DHCP4Config", "Options", "a{sv}");
    if (!options || sd_bus_message_enter_container(options.get(), 'a', "{sv}") <= 0)
        return std::nullopt;
    while (sd_bus_message_enter_container(options.get(), 'e', "sv") > 0) {
        const char* key = nullptr;
        const char* value = nullptr;
        if (sd_bus_message_read_basic(options.get(), 's', &key) <= 0)
            return std::nullopt;
        if (key && std::string_view(key) == "netbios_name_servers" &&
            sd_bus_message_enter_container(options.get(), 'v', "s") > 0 &&
            sd_bus_message_read_basic(options.get(), 's', &value) > 0 && value)
            return firstServer(trimmed(value));
        if (sd_bus_message_skip(options.get(), "v") < 0 ||
            sd_bus_message_exit_container(options.get()) < 0)
            return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

std::optional<Ipv4> dhcpWinsServer() {
    sd_bus* opened = nullptr;
    if (sd_bus_open_system(&opened) < 0)
        return std::nullopt;
    const Bus bus(opened);
    // A lookup waits for this: a bus that does not answer costs a quarter of a second, once.
    sd_bus_set_method_call_timeout(bus.get(), 250'000);
    const char* root = "/org/freedesktop/NetworkManager";
    // The primary connection first (the one with the default route), then the other active ones.
    std::vector<std::string> connections;
    if (auto primary = nmObjectPath(bus.get(), root, NetworkManager, "PrimaryConnection"))
        connections.push_back(std::move(*primary));
    if (const auto active = nmProperty(bus.get(), root, NetworkManager, "ActiveConnections", "ao");
        active && sd_bus_message_enter_container(active.get(), 'a', "o") > 0) {
        const char* path = nullptr;
        while (sd_bus_message_read_basic(active.get(), 'o', &path) > 0 && path)
            connections.emplace_back(path);
    }
    for (const std::string& connection : connections)
        if (auto server = leaseWinsServer(bus.get(), connection))
            return server;
    return std::nullopt;
}

std::optional<Ipv4> configuredWinsServer() {
    // Each file is read as a whole of its own, its first lines global; a later file's setting
    // replaces an earlier one's.
    std::optional<Ipv4> server;
    for (const std::string& path : clientSmbConfPaths())
        if (auto found = winsServerOfFile(path))
            server = found;
    return server ? server : dhcpWinsServer();
}

} // namespace lanquill::platform
