#include "platform/WinsServer.h"

#include "protocol/Addresses.h"

#include <cctype>
#include <cstdlib>
#include <fstream>

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

std::optional<Ipv4> configuredWinsServer() {
    // Each file is read as a whole of its own, its first lines global; a later file's setting
    // replaces an earlier one's.
    std::optional<Ipv4> server;
    for (const std::string& path : clientSmbConfPaths())
        if (auto found = winsServerOfFile(path))
            server = found;
    return server;
}

} // namespace lanquill::platform
