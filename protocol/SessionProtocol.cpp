#include "protocol/SessionProtocol.h"

#include "protocol/OemCodePage.h"

#include <nlohmann/json.hpp>

#include <cstdlib>

namespace lanquill::protocol::session {

using nlohmann::json;

namespace {

json offerObject(const Message& message) {
    json object = {{field::Id, message.id},           {field::Time, message.time},
                   {field::Kind, message.kind},       {field::From, message.from},
                   {field::Address, message.address}, {field::To, message.to},
                   {field::Text, message.text}};
    // Only where it is true, so that the lines of session-borne messages read as before.
    if (message.datagram)
        object[field::Datagram] = true;
    return object;
}

std::string dump(const json& object) {
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

} // namespace

std::string socketPath() {
    const char* path = std::getenv(std::string(SocketPathVariable).c_str());
    return path && *path ? path : std::string(SystemSocketPath);
}

std::optional<std::string> unusable(const Message& message) {
    const struct {
        std::string_view name;
        const std::string& value;
        std::size_t longest;
        bool required;
    } fields[] = {{field::Id, message.id, LongestId, true},
                  {field::Time, message.time, LongestName, true},
                  {field::Kind, message.kind, LongestName, true},
                  {field::From, message.from, LongestName, true},
                  {field::Address, message.address, LongestAddress, false},
                  {field::To, message.to, LongestName, false},
                  {field::Text, message.text, LongestText, false}};
    for (const auto& f : fields) {
        const auto units = oem::utf16Length(f.value);
        if (!units)
            return std::string(f.name) + " is not UTF-8";
        if (*units > f.longest || (f.required && *units == 0))
            return std::string(f.name) + " empty or longer than " + std::to_string(f.longest);
    }
    return std::nullopt;
}

std::string offerLine(const Message& message) {
    return dump(offerObject(message));
}

std::string spoolRecord(const Message& message) {
    json object = offerObject(message);
    object[field::User] = message.user;
    return dump(object);
}

std::optional<Message> messageFromJson(std::string_view text) {
    const json object = json::parse(text, nullptr, false);
    if (!object.is_object())
        return std::nullopt;
    Message message;
    const auto take = [&](std::string_view name, std::string& into) {
        const auto it = object.find(name);
        if (it != object.end() && it->is_string())
            into = it->get<std::string>();
    };
    take(field::Id, message.id);
    take(field::Time, message.time);
    take(field::Kind, message.kind);
    take(field::From, message.from);
    take(field::Address, message.address);
    take(field::To, message.to);
    take(field::Text, message.text);
    take(field::User, message.user);
    if (const auto it = object.find(field::Datagram); it != object.end() && it->is_boolean())
        message.datagram = it->get<bool>();
    if (message.id.empty())
        return std::nullopt;
    return message;
}

} // namespace lanquill::protocol::session
