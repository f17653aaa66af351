// The NetBIOS name this machine goes by on the network, from its host name; the WINS server
// Samba's client configuration names.
#include "platform/NameService.h"
#include "platform/WinsServer.h"
#include "protocol/Addresses.h"
#include "protocol/OemCodePage.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace lanquill;
using namespace lanquill::platform;
using testsupport::TemporaryFolder;

namespace {

// The server's dotted address, or "" for none.
std::string shown(const std::optional<protocol::Ipv4>& server) {
    return server ? protocol::formatIpv4(*server) : "";
}

} // namespace

TEST(NameService, OwnNameIsANetbiosName) {
    const std::string own = ownNetbiosName();
    EXPECT_TRUE(!own.empty() && own.size() <= 15) << own;
    EXPECT_EQ(protocol::oem::upperAscii(own), own);
}

TEST(WinsServer, FromSmbConf) {
    const struct {
        const char* why;
        std::string text;
        std::string server;
    } cases[] = {
        {"plain", "[global]\n  wins server = 10.0.0.5\n", "10.0.0.5"},
        {"no section yet", "wins server = 10.0.0.5\n", "10.0.0.5"},
        {"case, blanks, underscore", "[ GLOBAL ]\r\nWINS_Server=10.0.0.6\r\n", "10.0.0.6"},
        {"first of a list", "[global]\nwins server = 10.0.0.7, 10.0.0.8\n", "10.0.0.7"},
        {"tagged", "[global]\nwins server = floor1:10.0.0.9 floor2:10.1.0.9\n", "10.0.0.9"},
        {"continued line", "[global]\n  wins server = \\\n    10.0.0.10\n", "10.0.0.10"},
        {"later wins", "[global]\nwins server = 10.0.0.1\nwins server = 10.0.0.2\n", "10.0.0.2"},
        {"share section", "[global]\n[share]\nwins server = 10.0.0.3\n", ""},
        {"commented", "[global]\n# wins server = 10.0.0.4\n; wins server = 10.0.0.4\n", ""},
        {"wins support is not a server", "[global]\nwins support = yes\nwins proxy = 10.0.0.4\n",
         ""},
        {"a DNS name", "[global]\nwins server = wins.example\n", ""},
        {"broadcast address", "[global]\nwins server = 255.255.255.255\n", ""},
        {"empty value clears", "[global]\nwins server = 10.0.0.1\nwins server =\n", ""},
        {"no newline at end, NUL inside", std::string("[global]\n\0\nwins server = 10.0.0.11", 34),
         "10.0.0.11"},
        {"backslash at the very end", "[global]\nwins server = \\", ""},
    };
    for (const auto& [why, text, server] : cases)
        EXPECT_EQ(shown(winsServerFromSmbConf(text)), server) << why;
}

// The files libsmbclient reads decide, so that lookups and the browse list agree:
// ~/.smb/smb.conf replaces the system's file; SMB_CONF_PATH (Samba's tools) comes first;
// a missing file names none.
TEST(WinsServer, ConfiguredReadsTheClientsFiles) {
    TemporaryFolder folder;
    std::filesystem::create_directories(folder.path / "home/.smb");
    ASSERT_TRUE(testsupport::writeFile((folder.path / "smb.conf").string(),
                                       "[global]\n  workgroup = LQWG\n  wins server = 10.9.8.7\n"));
    ASSERT_TRUE(testsupport::writeFile((folder.path / "home/.smb/smb.conf").string(),
                                       "wins server = 10.1.2.3\n[share]\n"));
    const char* home = std::getenv("HOME");
    const std::string homeBefore = home ? home : "";
    const auto serverWith = [](const std::filesystem::path& smbConfPath) {
        if (smbConfPath.empty())
            ::unsetenv("SMB_CONF_PATH");
        else
            ::setenv("SMB_CONF_PATH", smbConfPath.c_str(), 1);
        return shown(configuredWinsServer());
    };
    ::setenv("HOME", (folder.path / "home").c_str(), 1);
    const std::string named = serverWith(folder.path / "smb.conf");
    const std::string missing = serverWith(folder.path / "missing.conf");
    const std::string users = serverWith({});
    ::setenv("HOME", homeBefore.c_str(), 1);
    EXPECT_EQ(named, "10.9.8.7");
    EXPECT_EQ(missing, "");
    EXPECT_EQ(users, "10.1.2.3");
}
