// The session socket between lanquilld and its local clients (desktop sessions, lanquill-deliver):
// one JSON object per line. Every word of it is spelled here, once; the README's session.sock
// section is the contract these names implement.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace lanquill::protocol::session {

// Where the socket lives: $LANQUILL_SESSION_SOCKET when set, else the system socket.
inline constexpr std::string_view SocketPathVariable = "LANQUILL_SESSION_SOCKET";
inline constexpr std::string_view SocketFileName = "session.sock";
inline constexpr std::string_view SystemSocketPath = "/run/lanquill/session.sock";
std::string socketPath();

// Requests a client sends.
inline constexpr std::string_view Hello = "hello";     // {"hello":1}: offer me my messages
inline constexpr std::string_view Ack = "ack";         // {"ack":ID}: stored, drop it
inline constexpr std::string_view Deliver = "deliver"; // {"deliver":{from,address,to,text}}

// Answers lanquilld sends.
inline constexpr std::string_view Computer = "computer"; // in the hello answer
inline constexpr std::string_view Workgroup = "workgroup";
inline constexpr std::string_view User = "user";
// true when the message came in a datagram, whose source address any host can forge
inline constexpr std::string_view Datagram = "datagram";
inline constexpr std::string_view Status = "status";
inline constexpr std::string_view Reason = "reason";
inline constexpr std::string_view Error = "error";
inline constexpr std::string_view Stored = "stored"; // a delivered message is in the spool

// Status words.
inline constexpr std::string_view Receiving = "receiving";
inline constexpr std::string_view No139 = "no-139";
inline constexpr std::string_view SpoolUnwritable = "spool-unwritable";
inline constexpr std::string_view NameLost = "name-lost";

// Error words a client may act on.
inline constexpr std::string_view Refused = "refused"; // final: size, rate or sender
inline constexpr std::string_view NotAllowedToDeliver = "not allowed to deliver";
inline constexpr std::string_view BadAddress = "bad address";
inline constexpr std::string_view SpoolUnavailable = "spool full or not writable";
inline constexpr std::string_view NotAnObject = "not a JSON object";
inline constexpr std::string_view UnknownRequest = "unknown request";
inline constexpr std::string_view LineTooLong = "line too long";
inline constexpr std::string_view NotOffered = "not offered to this session";
inline constexpr std::string_view TooManySessions = "too many sessions";

// A message's fields; "user" stays inside lanquilld's spool and is never sent to a client.
namespace field {
inline constexpr std::string_view Id = "id";
inline constexpr std::string_view Time = "time";
inline constexpr std::string_view Kind = "kind";
inline constexpr std::string_view From = "from";
inline constexpr std::string_view Address = "address";
inline constexpr std::string_view To = "to";
inline constexpr std::string_view Text = "text";
inline constexpr std::string_view User = "user";
// true when the message came in a datagram, whose source address any host can forge
inline constexpr std::string_view Datagram = "datagram";
} // namespace field

// Kind words.
inline constexpr std::string_view Direct = "direct";
inline constexpr std::string_view WorkgroupKind = "workgroup";

// Field bounds a client holds lanquilld's lines to, counted in UTF-16 units: generous for what a
// NetBIOS sender can carry, tight enough that a broken line cannot swell a history.
inline constexpr std::size_t LongestId = 128;
inline constexpr std::size_t LongestName = 64; // time, kind, from, to
inline constexpr std::size_t LongestAddress = 45;
inline constexpr std::size_t LongestText = 64 * 1024;
// The longest line either side reads before it gives up on the other.
inline constexpr std::size_t LongestClientLine = 64 * 1024;
inline constexpr std::size_t LongestServerLine = 256 * 1024;

// One message as lanquilld spools it and offers it.
struct Message {
    std::string id;
    std::string time; // UTC, "2026-12-08T10:00:00Z"
    std::string kind; // Direct or WorkgroupKind
    std::string from; // UTF-8
    std::string address;
    std::string to;
    std::string text;
    std::string user; // the NetBIOS user name it is for; empty: every session
    bool datagram = false;
};

// Why no client could use the message (an empty or over-long field, text that is not UTF-8),
// in words for a log; nullopt when it is fine. The same bounds a client holds lines to. The
// address is required: it is what a sender is known by, and a message without one cannot be
// attributed.
std::optional<std::string> unusable(const Message& message);

// The line a client is offered (without "user" and the newline).
std::string offerLine(const Message& message);
// The spool's form: the offer with "user".
std::string spoolRecord(const Message& message);
// A spool record or an offer line back as a message, read by lanquilld and its clients alike: a
// JSON object whose fields, where present, are strings ("datagram" true or false); id, time,
// kind, from and address present; every field within the bounds of unusable(); kind one of the
// kind words; time a UTC time as lanquilld writes it ("2026-12-08T10:00:00Z", also read with
// milliseconds or a "+01:00" zone). Fields it does not know are passed over. Nullopt
// otherwise, with why in words in `problem` when one is given.
std::optional<Message> messageFromJson(std::string_view text, std::string* problem = nullptr);

} // namespace lanquill::protocol::session
