#include "protocol/SessionProtocol.h"

#include "protocol/OemCodePage.h"

#include <nlohmann/json.hpp>

#include <algorithm>
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

bool digits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

int number(std::string_view text, std::size_t at, std::size_t length) {
    int value = 0;
    for (const char c : text.substr(at, length))
        value = value * 10 + (c - '0');
    return value;
}

// Date and time to the second, then an optional fraction (to the millisecond) and the zone: "Z"
// or "+HH:MM".
bool isTime(std::string_view text) {
    constexpr std::string_view Form = "0000-00-00T00:00:00";
    if (text.size() < Form.size())
        return false;
    for (std::size_t i = 0; i < Form.size(); ++i)
        if (Form[i] == '0' ? !digits(text.substr(i, 1)) : text[i] != Form[i])
            return false;
    constexpr int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int year = number(text, 0, 4);
    const int month = number(text, 5, 2);
    const int day = number(text, 8, 2);
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    if (year == 0 || month < 1 || month > 12 || day < 1 ||
        day > Days[month - 1] + (month == 2 && leap) || number(text, 11, 2) > 23 ||
        number(text, 14, 2) > 59 || number(text, 17, 2) > 59)
        return false;
    std::string_view zone = text.substr(Form.size());
    if (zone.starts_with('.')) {
        const auto end = std::min(zone.find_first_not_of("0123456789", 1), zone.size());
        if (end == 1 || end > 4)
            return false;
        zone.remove_prefix(end);
    }
    if (zone == "Z")
        return true;
    return zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && digits(zone.substr(1, 2)) &&
           zone[3] == ':' && digits(zone.substr(4, 2)) && number(zone, 1, 2) <= 14 &&
           number(zone, 4, 2) <= 59;
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
                  {field::Address, message.address, LongestAddress, true},
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

std::optional<Message> messageFromJson(std::string_view text, std::string* problem) {
    const auto refuse = [problem](std::string why) -> std::optional<Message> {
        if (problem)
            *problem = std::move(why);
        return std::nullopt;
    };
    const json object = json::parse(text, nullptr, false);
    if (!object.is_object())
        return refuse(std::string(NotAnObject));
    Message message;
    const struct {
        std::string_view name;
        std::string& into;
        bool required;
    } strings[] = {{field::Id, message.id, true},           {field::Time, message.time, true},
                   {field::Kind, message.kind, true},       {field::From, message.from, true},
                   {field::Address, message.address, true}, {field::To, message.to, false},
                   {field::Text, message.text, false},      {field::User, message.user, false}};
    for (const auto& f : strings) {
        const auto it = object.find(f.name);
        if (it == object.end() ? f.required : !it->is_string())
            return refuse("field \"" + std::string(f.name) +
                          (f.required ? "\" missing or not a string" : "\" is not a string"));
        if (it != object.end())
            f.into = it->get<std::string>();
    }
    // Absent in lines from a lanquilld that did not tell datagrams apart: those came in sessions.
    if (const auto it = object.find(field::Datagram); it != object.end()) {
        if (!it->is_boolean())
            return refuse("field \"" + std::string(field::Datagram) + "\" is not true or false");
        message.datagram = it->get<bool>();
    }
    if (auto why = unusable(message))
        return refuse(std::move(*why));
    if (message.kind != Direct && message.kind != WorkgroupKind)
        return refuse("unknown kind \"" + message.kind + "\"");
    if (!isTime(message.time))
        return refuse("time \"" + message.time +
                      "\" is not a UTC time such as 2026-12-08T10:00:00Z");
    return message;
}

} // namespace lanquill::protocol::session
