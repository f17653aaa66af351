#include "protocol/SessionProtocol.h"

#include <nlohmann/json.hpp>

#include <cstdlib>

namespace lanquill::protocol::session {

using nlohmann::json;

namespace {

json offerObject(const Message& message) {
    return {{field::Id, message.id},           {field::Time, message.time},
            {field::Kind, message.kind},       {field::From, message.from},
            {field::Address, message.address}, {field::To, message.to},
            {field::Text, message.text}};
}

std::string dump(const json& object) {
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

} // namespace

std::string socketPath() {
    const char* path = std::getenv(std::string(SocketPathVariable).c_str());
    return path && *path ? path : std::string(SystemSocketPath);
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
    if (message.id.empty())
        return std::nullopt;
    return message;
}

} // namespace lanquill::protocol::session
