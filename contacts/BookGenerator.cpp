#include "contacts/BookGenerator.h"

#include <cstdio>

namespace lanquill::contacts {

std::string bookGroupId(int group) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "GROUP%04d", group);
    return buf;
}

std::string bookComputerId(int group, int computer) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "G%04d-PC%04d", group, computer);
    return buf;
}

std::string makeBook(int groups, int computersPerGroup) {
    std::string xml;
    if (groups > 0 && computersPerGroup > 0)
        xml.reserve(static_cast<std::size_t>(groups) * static_cast<std::size_t>(computersPerGroup) *
                    200);
    xml += "<Lanquill>\n";
    for (int g = 0; g < groups; ++g) {
        xml += "  <group id=\"" + bookGroupId(g) + "\">\n";
        for (int c = 0; c < computersPerGroup; ++c) {
            const std::string id = bookComputerId(g, c);
            const int n = g * computersPerGroup + c;
            char ip[32];
            std::snprintf(ip, sizeof ip, "10.%d.%d.%d", (n >> 16) & 255, (n >> 8) & 255,
                          (n & 255) == 0 ? 1 : n & 255);
            xml += "    <computer id=\"" + id + "\">\n";
            xml += "      <ComputerName>" + id + "</ComputerName>\n";
            xml += "      <UserName>user" + std::to_string(n) + "</UserName>\n";
            xml += std::string("      <IpAddress>") + ip + "</IpAddress>\n";
            xml += "      <Memo>desk " + std::to_string(c) + ", floor " + std::to_string(g % 9) +
                   "</Memo>\n";
            xml += "    </computer>\n";
        }
        xml += "  </group>\n";
    }
    xml += "</Lanquill>\n";
    return xml;
}

} // namespace lanquill::contacts
