#include "tools/WinsOption.h"

#include "platform/WinsServer.h"
#include "protocol/Addresses.h"
#include "protocol/OemCodePage.h"
#include "tools/Texts.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace lanquill::tools {

namespace {

// Set once by main, before the command runs: the process is one command.
bool chosen = false;
std::optional<protocol::Ipv4> choice;

bool parseChoice(std::string_view value, std::string& error) {
    if (value == "none") {
        choice.reset();
    } else if (const auto address = protocol::parseIpv4(value);
               address && protocol::isHostAddress(*address)) {
        choice = *address;
    } else {
        char text[256]; // a longer value is cut: the message is for a person
        std::snprintf(text, sizeof text,
                      say("--wins wants a dotted IPv4 host address or \"none\", not \"%s\""),
                      protocol::oem::printable(std::string(value)).c_str());
        error = text;
        return false;
    }
    if (chosen) {
        error = say("--wins is given more than once");
        return false;
    }
    chosen = true;
    return true;
}

} // namespace

bool takeWinsOption(std::vector<char*>& args, std::string& error) {
    constexpr std::string_view Option = "--wins";
    // Positions 1 (before the command word) and 2 (right after it), while options stand there.
    for (std::size_t at = 1; at < args.size() && at <= 2;) {
        const std::string_view word = args[at];
        if (word == Option) {
            if (at + 1 >= args.size()) {
                error = say("--wins wants an address");
                return false;
            }
            if (!parseChoice(args[at + 1], error))
                return false;
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(at),
                       args.begin() + static_cast<std::ptrdiff_t>(at) + 2);
        } else if (word.starts_with("--wins=")) {
            if (!parseChoice(word.substr(Option.size() + 1), error))
                return false;
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(at));
        } else {
            ++at;
        }
    }
    return true;
}

platform::RealResolver commandResolver() {
    return chosen ? platform::RealResolver(choice) : platform::RealResolver();
}

} // namespace lanquill::tools
