#include "protocol/TermSrv.h"

#include <algorithm>

namespace lanquill::protocol::termsrv {

namespace {

constexpr std::uint32_t EnumLevel = 1;
constexpr std::size_t SessionNameUnits = 33; // WINSTATIONNAME_LENGTH + 1
constexpr std::uint32_t Referent = 0x00020000;

// NDR aligns every field on its own size, counted from the stub's first byte.
void align(ByteWriter& out, std::size_t to) {
    out.zeros((to - out.size() % to) % to);
}

void align(ByteReader& in, std::size_t to) {
    in.skip((to - in.position() % to) % to);
}

void handle(ByteWriter& out, const ContextHandle& h) {
    out.bytes(h);
}

ContextHandle handle(ByteReader& in) {
    ContextHandle h{};
    const auto bytes = in.take(h.size());
    if (in.ok())
        std::copy(bytes.begin(), bytes.end(), h.begin());
    return h;
}

void units(ByteWriter& out, std::u16string_view text) {
    for (const char16_t unit : text)
        out.u16le(static_cast<std::uint16_t>(unit));
}

// `count` UTF-16 units, up to the first NUL.
std::string readUnits(ByteReader& in, std::size_t count) {
    if (count > in.remaining() / 2) {
        in.fail();
        return {};
    }
    std::u16string text;
    bool ended = false;
    for (std::size_t i = 0; i < count; ++i) {
        const auto unit = static_cast<char16_t>(in.u16le());
        ended = ended || unit == 0;
        if (!ended)
            text.push_back(unit);
    }
    return fromUtf16(text);
}

// [string] wchar_t*: maximum count, offset, actual count, the units with their NUL.
void conformantVaryingString(ByteWriter& out, std::u16string_view text) {
    align(out, 4);
    const auto count = static_cast<std::uint32_t>(text.size() + 1);
    out.u32le(count).u32le(0).u32le(count);
    units(out, text);
    out.u16le(0);
}

std::string readConformantVaryingString(ByteReader& in) {
    align(in, 4);
    const std::uint32_t maximum = in.u32le();
    const std::uint32_t offset = in.u32le();
    const std::uint32_t actual = in.u32le();
    if (offset > maximum || actual > maximum - offset) {
        in.fail();
        return {};
    }
    in.skip(std::size_t{offset} * 2);
    return readUnits(in, actual);
}

// [size_is(n)] WCHAR*: the count, then the units (with a NUL).
void conformantArray(ByteWriter& out, std::u16string_view text) {
    align(out, 4);
    out.u32le(static_cast<std::uint32_t>(text.size() + 1));
    units(out, text);
    out.u16le(0);
}

std::string readConformantArray(ByteReader& in) {
    align(in, 4);
    return readUnits(in, in.u32le());
}

template <class T> std::optional<T> complete(const ByteReader& in, T value) {
    if (!in.ok())
        return std::nullopt;
    return value;
}

} // namespace

std::optional<std::u16string> toUtf16(std::string_view utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<std::uint8_t>(utf8[i]);
        std::size_t length = 0;
        char32_t code = 0;
        if (lead < 0x80) {
            length = 1;
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            code = lead & 0x07;
        } else {
            return std::nullopt;
        }
        if (i + length > utf8.size())
            return std::nullopt;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<std::uint8_t>(utf8[i + k]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            code = (code << 6) | (next & 0x3F);
        }
        constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return std::nullopt; // over-long forms and surrogates are not UTF-8
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return out;
}

std::string fromUtf16(std::u16string_view utf16) {
    std::string out;
    const auto put = [&out](char32_t code) {
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    };
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        const char16_t unit = utf16[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            put(0x10000 + ((char32_t{unit} - 0xD800) << 10) + (char32_t{utf16[i + 1]} - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            put(0xFFFD);
        } else {
            put(unit);
        }
    }
    return out;
}

// --- TermSrvEnumeration ---

std::optional<HandleResult> parseOpenEnumResponse(std::span<const std::uint8_t> stub) {
    return parseOpenSessionResponse(stub);
}

Bytes openEnumResponse(const HandleResult& result) {
    return openSessionResponse(result);
}

Bytes getEnumResultRequest(const ContextHandle& h) {
    ByteWriter out;
    handle(out, h);
    out.u32le(EnumLevel);
    return out.take();
}

std::optional<ContextHandle> parseGetEnumResultRequest(std::span<const std::uint8_t> stub) {
    ByteReader in(stub);
    const auto h = handle(in);
    if (in.u32le() != EnumLevel)
        in.fail();
    return complete(in, h);
}

Bytes getEnumResultResponse(const SessionList& list) {
    ByteWriter out;
    out.u32le(Referent).u32le(static_cast<std::uint32_t>(list.sessions.size()));
    for (const auto& session : list.sessions) {
        align(out, 4);
        out.u32le(EnumLevel).u32le(EnumLevel); // the level, then the union's own copy of it
        out.u32le(static_cast<std::uint32_t>(session.id)).u32le(session.state);
        std::u16string name = toUtf16(session.name).value_or(u"");
        name.resize(SessionNameUnits - 1);
        units(out, name);
        out.u16le(0);
    }
    align(out, 4);
    out.u32le(static_cast<std::uint32_t>(list.sessions.size())).u32le(list.status);
    return out.take();
}

std::optional<SessionList> parseGetEnumResultResponse(std::span<const std::uint8_t> stub) {
    ByteReader in(stub);
    SessionList list;
    if (in.u32le() != 0) {
        const std::uint32_t count = in.u32le();
        constexpr std::size_t EntryLength = 16 + SessionNameUnits * 2;
        if (count > in.remaining() / EntryLength)
            return std::nullopt;
        for (std::uint32_t i = 0; i < count; ++i) {
            align(in, 4);
            const std::uint32_t level = in.u32le();
            const std::uint32_t tag = in.u32le();
            if (level != EnumLevel || tag != EnumLevel)
                return std::nullopt; // another level's entries have another size
            SessionEntry entry;
            entry.id = static_cast<std::int32_t>(in.u32le());
            entry.state = in.u32le();
            entry.name = readUnits(in, SessionNameUnits);
            list.sessions.push_back(std::move(entry));
        }
    }
    align(in, 4);
    in.skip(4); // the entry count again
    list.status = in.u32le();
    return complete(in, list);
}

std::optional<std::int32_t> activeSession(const SessionList& list) {
    const auto lower = [](std::string text) {
        for (auto& c : text)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return text;
    };
    std::optional<std::int32_t> any;
    for (const auto& session : list.sessions) {
        if (session.state != StateActive || session.id <= 0)
            continue;
        if (lower(session.name) == "console")
            return session.id;
        if (!any)
            any = session.id;
    }
    return any;
}

Bytes closeHandleRequest(const ContextHandle& h) {
    ByteWriter out;
    handle(out, h);
    return out.take();
}

std::optional<ContextHandle> parseCloseHandleRequest(std::span<const std::uint8_t> stub) {
    ByteReader in(stub);
    return complete(in, handle(in));
}

Bytes closeHandleResponse(std::uint32_t status) {
    ByteWriter out;
    handle(out, ContextHandle{});
    out.u32le(status);
    return out.take();
}

std::optional<std::uint32_t> parseCloseHandleResponse(std::span<const std::uint8_t> stub) {
    ByteReader in(stub);
    if (stub.size() >= 24)
        handle(in);
    return complete(in, in.u32le());
}

// --- TermSrvSession ---

Bytes openSessionRequest(std::uint32_t sessionId) {
    ByteWriter out;
    out.u32le(sessionId);
    return out.take();
}

std::optional<std::uint32_t> parseOpenSessionRequest(std::span<const std::uint8_t> stub) {
    ByteReader in(stub);
    return complete(in, in.u32le());
}

Bytes openSessionResponse(const HandleResult& result) {
    ByteWriter out;
    handle(out, result.handle);
    out.u32le(result.status);
    return out.take();
}

std::optional<HandleResult> parseOpenSessionResponse(std::span<const std::uint8_t> stub) {
    ByteReader in(stub);
    HandleResult result;
    result.handle = handle(in);
    result.status = in.u32le();
    return complete(in, result);
}

std::optional<Bytes> showMessageBoxRequest(const MessageBox& box) {
    const auto title = toUtf16(box.title);
    const auto text = toUtf16(box.text);
    if (!title || !text)
        return std::nullopt;
    ByteWriter out;
    handle(out, box.handle);
    conformantVaryingString(out, *title);
    conformantVaryingString(out, *text);
    align(out, 4);
    out.u32le(box.style).u32le(box.timeout).u32le(box.doNotWait ? 1 : 0);
    return out.take();
}

std::optional<MessageBox> parseShowMessageBoxRequest(std::span<const std::uint8_t> stub) {
    ByteReader in(stub);
    MessageBox box;
    box.handle = handle(in);
    box.title = readConformantVaryingString(in);
    box.text = readConformantVaryingString(in);
    align(in, 4);
    box.style = in.u32le();
    box.timeout = in.u32le();
    box.doNotWait = in.u32le() != 0;
    return complete(in, box);
}

Bytes showMessageBoxResponse(const MessageBoxResult& result) {
    ByteWriter out;
    out.u32le(result.response).u32le(result.status);
    return out.take();
}

std::optional<MessageBoxResult> parseShowMessageBoxResponse(std::span<const std::uint8_t> stub) {
    ByteReader in(stub);
    MessageBoxResult result;
    result.response = in.u32le();
    result.status = in.u32le();
    return complete(in, result);
}

// --- IcaApi ---

Bytes openServerResponse(const ServerResult& result) {
    ByteWriter out;
    out.u32le(result.status);
    handle(out, result.handle);
    out.u8(result.ok ? 1 : 0);
    return out.take();
}

std::optional<ServerResult> parseOpenServerResponse(std::span<const std::uint8_t> stub) {
    ByteReader in(stub);
    ServerResult result;
    result.status = in.u32le();
    result.handle = handle(in);
    result.ok = in.u8() != 0;
    return complete(in, result);
}

std::optional<Bytes> sendMessageRequest(const WinStationMessage& message) {
    const auto title = toUtf16(message.title);
    const auto text = toUtf16(message.text);
    if (!title || !text)
        return std::nullopt;
    ByteWriter out;
    handle(out, message.handle);
    out.u32le(message.sessionId);
    // Each length is its array's size_is, in characters with the terminating NUL: a stub that
    // checks correlation refuses a length that differs from the array's count.
    conformantArray(out, *title);
    align(out, 4);
    out.u32le(static_cast<std::uint32_t>(title->size() + 1));
    conformantArray(out, *text);
    align(out, 4);
    out.u32le(static_cast<std::uint32_t>(text->size() + 1));
    out.u32le(message.style).u32le(message.timeout).u8(message.doNotWait ? 1 : 0);
    return out.take();
}

std::optional<WinStationMessage> parseSendMessageRequest(std::span<const std::uint8_t> stub) {
    ByteReader in(stub);
    WinStationMessage message;
    message.handle = handle(in);
    message.sessionId = in.u32le();
    message.title = readConformantArray(in);
    align(in, 4);
    in.skip(4); // title length
    message.text = readConformantArray(in);
    align(in, 4);
    in.skip(4); // message length
    message.style = in.u32le();
    message.timeout = in.u32le();
    message.doNotWait = in.u8() != 0;
    return complete(in, message);
}

Bytes sendMessageResponse(const SendMessageResult& result) {
    ByteWriter out;
    out.u32le(result.status).u32le(result.response).u8(result.ok ? 1 : 0);
    return out.take();
}

std::optional<SendMessageResult> parseSendMessageResponse(std::span<const std::uint8_t> stub) {
    ByteReader in(stub);
    SendMessageResult result;
    result.status = in.u32le();
    result.response = in.u32le();
    result.ok = in.u8() != 0;
    return complete(in, result);
}

Bytes closeServerResponse(const SendMessageResult& result) {
    ByteWriter out;
    out.u32le(result.status).u8(result.ok ? 1 : 0);
    return out.take();
}

std::optional<SendMessageResult> parseCloseServerResponse(std::span<const std::uint8_t> stub) {
    ByteReader in(stub);
    SendMessageResult result;
    result.status = in.u32le();
    result.ok = in.u8() != 0;
    return complete(in, result);
}

} // namespace lanquill::protocol::termsrv
