// Loads arbitrary bytes as config.xml and reads every computer back the way the program does.
#include "contacts/XMLFile.h"
#include "contacts/XmlDocument.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

using namespace lanquill::contacts;

namespace {

std::string scratchFile() {
    char dir[] = "/tmp/fuzz_config_load.XXXXXX";
    if (::mkdtemp(dir) == nullptr)
        std::abort();
    return std::string(dir) + "/config.xml";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = scratchFile();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size)
        std::abort();
    std::fclose(f);

    XmlDocument doc;
    const LoadOutcome outcome = doc.load(path);
    if (outcome.kind == LoadOutcome::Kind::Missing)
        std::abort(); // we just wrote it
    if (outcome.kind == LoadOutcome::Kind::Unreadable && outcome.message.empty())
        std::abort();
    const XmlNodeList groups = doc.documentElement().childNodes();
    for (int g = 0; g < groups.length(); ++g) {
        const std::string groupId = groups.item(g).getAttribute("id");
        const XmlNodeList computers = groups.item(g).childNodes();
        for (int c = 0; c < computers.length(); ++c) {
            std::string name, user, ip, memo;
            if (!GetComputerInfo(doc, groupId, computers.item(c).getAttribute("id"), name, user, ip,
                                 memo))
                std::abort(); // every computer shown must be found again
        }
    }
    return 0;
}
