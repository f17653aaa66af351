// `lanquill-net view` runs in a program of its own, lanquill-net-view beside this one: listing the
// neighbourhood needs Qt Core (the sorted names), which every `send` started for a workgroup
// message would otherwise load for nothing.
#include "tools/Commands.h"
#include "tools/Texts.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace lanquill::tools {

int runView(int argc, char** argv) {
    std::string self(PATH_MAX, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", self.data(), self.size());
    if (n <= 0) {
        std::fprintf(stderr, say("lanquill-net: cannot find its own folder: %s\n"),
                     std::strerror(errno));
        return ExitFailed;
    }
    self.resize(static_cast<std::size_t>(n));
    const std::string program = self.substr(0, self.rfind('/') + 1) + "lanquill-net-view";
    std::vector<char*> arguments;
    arguments.push_back(const_cast<char*>(program.c_str()));
    for (int i = 2; i < argc; ++i)
        arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    ::execv(program.c_str(), arguments.data());
    std::fprintf(stderr, say("lanquill-net: cannot start %s: %s\n"), program.c_str(),
                 std::strerror(errno));
    return ExitFailed;
}

} // namespace lanquill::tools
