// The Terminal Services calls that put a message box on a Windows desktop session, as NDR32
// stubs (the bytes inside DCE/RPC request and response PDUs): the session list of
// TermSrvEnumeration, RpcOpenSession / RpcShowMessageBox / RpcCloseSession of TermSrvSession,
// and the older IcaApi path RpcWinStationOpenServer / SendMessage / CloseServer. Each call has
// both sides: the caller's request and the parser of its answer, and the answering side's
// parser of the request and its answer. Texts are UTF-8 here and UTF-16LE on the wire.
#pragma once

#include "protocol/DceRpc.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lanquill::protocol::termsrv {

inline constexpr dcerpc::SyntaxId TermSrvSession =
    dcerpc::syntax("484809d6-4239-471b-b5bc-61df8c23ac48", 1);
inline constexpr dcerpc::SyntaxId TermSrvEnumeration =
    dcerpc::syntax("88143fd0-c28d-4b2b-8fef-8d882f6a9390", 1);
inline constexpr dcerpc::SyntaxId IcaApi =
    dcerpc::syntax("5ca4a760-ebb1-11cf-8611-00a0245420ed", 1);

// Pipe names as libsmbclient opens them below IPC$.
inline constexpr std::string_view SessionPipe = "LSM_API_service";
inline constexpr std::string_view IcaPipe = "Ctx_WinStation_API_service";

namespace opnum {
constexpr std::uint16_t OpenSession = 0;
constexpr std::uint16_t CloseSession = 1;
constexpr std::uint16_t ShowMessageBox = 9;
constexpr std::uint16_t OpenEnum = 0;
constexpr std::uint16_t CloseEnum = 1;
constexpr std::uint16_t GetEnumResult = 5;
constexpr std::uint16_t OpenServer = 0;
constexpr std::uint16_t CloseServer = 1;
constexpr std::uint16_t SendMessage = 7;
} // namespace opnum

// MessageBox uType and answers.
constexpr std::uint32_t StyleOkInformation = 0x40; // MB_OK | MB_ICONINFORMATION
constexpr std::uint32_t IdOk = 1;
constexpr std::uint32_t IdTimeout = 32000;
constexpr std::uint32_t IdAsync = 32001;

constexpr std::uint32_t EAccessDenied = 0x80070005;
constexpr std::uint32_t StateActive = 0;

// An RPC context handle: attributes and a GUID. All zeros is the null handle.
using ContextHandle = std::array<std::uint8_t, 20>;

// Whether an HRESULT or NTSTATUS says success (the top bit clear; an NTSTATUS warning counts
// as failure here).
constexpr bool succeeded(std::uint32_t status) {
    return (status & 0x80000000U) == 0;
}

// UTF-8 to UTF-16 code units; nullopt for bytes that are not UTF-8.
std::optional<std::u16string> toUtf16(std::string_view utf8);
// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string fromUtf16(std::u16string_view utf16);

struct HandleResult {
    ContextHandle handle{};
    std::uint32_t status = 0; // HRESULT
};

// --- TermSrvEnumeration ---

struct SessionEntry {
    std::int32_t id = 0;
    std::uint32_t state = 0; // WINSTATIONSTATECLASS: 0 active, 1 connected, 4 disconnected, ...
    std::string name;        // "Console", "RDP-Tcp#0", "Services"
};

struct SessionList {
    std::vector<SessionEntry> sessions;
    std::uint32_t status = 0;
};

// RpcOpenEnum has no input; its answer is a handle and HRESULT.
std::optional<HandleResult> parseOpenEnumResponse(std::span<const std::uint8_t> stub);
Bytes openEnumResponse(const HandleResult& result);

// RpcGetEnumResult at level 1.
Bytes getEnumResultRequest(const ContextHandle& handle);
std::optional<SessionList> parseGetEnumResultResponse(std::span<const std::uint8_t> stub);
std::optional<ContextHandle> parseGetEnumResultRequest(std::span<const std::uint8_t> stub);
Bytes getEnumResultResponse(const SessionList& list);

// The session a message goes to when none is named: the active one, the console first.
std::optional<std::int32_t> activeSession(const SessionList& list);

// RpcCloseEnum, RpcCloseSession: a handle in, the emptied handle and HRESULT out. The parser
// also takes an answer of the HRESULT alone.
Bytes closeHandleRequest(const ContextHandle& handle);
std::optional<ContextHandle> parseCloseHandleRequest(std::span<const std::uint8_t> stub);
Bytes closeHandleResponse(std::uint32_t status);
std::optional<std::uint32_t> parseCloseHandleResponse(std::span<const std::uint8_t> stub);

// --- TermSrvSession ---

Bytes openSessionRequest(std::uint32_t sessionId);
std::optional<std::uint32_t> parseOpenSessionRequest(std::span<const std::uint8_t> stub);
Bytes openSessionResponse(const HandleResult& result);
std::optional<HandleResult> parseOpenSessionResponse(std::span<const std::uint8_t> stub);

struct MessageBox {
    ContextHandle handle{};
    std::string title;
    std::string text;
    std::uint32_t style = StyleOkInformation;
    std::uint32_t timeout = 0; // seconds; 0 stays until clicked
    bool doNotWait = true;
};

// Nullopt when the title or text is not UTF-8.
std::optional<Bytes> showMessageBoxRequest(const MessageBox& box);
std::optional<MessageBox> parseShowMessageBoxRequest(std::span<const std::uint8_t> stub);

struct MessageBoxResult {
    std::uint32_t response = 0; // IDOK, IDASYNC, ...
    std::uint32_t status = 0;   // HRESULT
};

Bytes showMessageBoxResponse(const MessageBoxResult& result);
std::optional<MessageBoxResult> parseShowMessageBoxResponse(std::span<const std::uint8_t> stub);

// --- IcaApi ---

struct ServerResult {
    std::uint32_t status = 0; // NTSTATUS (pResult)
    ContextHandle handle{};
    bool ok = false; // the BOOLEAN the call returns
};

// RpcWinStationOpenServer has no input.
Bytes openServerResponse(const ServerResult& result);
std::optional<ServerResult> parseOpenServerResponse(std::span<const std::uint8_t> stub);

struct WinStationMessage {
    ContextHandle handle{};
    std::uint32_t sessionId = 0;
    std::string title;
    std::string text;
    std::uint32_t style = StyleOkInformation;
    std::uint32_t timeout = 0;
    bool doNotWait = true;
};

std::optional<Bytes> sendMessageRequest(const WinStationMessage& message);
std::optional<WinStationMessage> parseSendMessageRequest(std::span<const std::uint8_t> stub);

struct SendMessageResult {
    std::uint32_t status = 0; // NTSTATUS
    std::uint32_t response = 0;
    bool ok = false;
};

Bytes sendMessageResponse(const SendMessageResult& result);
std::optional<SendMessageResult> parseSendMessageResponse(std::span<const std::uint8_t> stub);

// RpcWinStationCloseServer: the handle in; NTSTATUS and BOOLEAN out.
Bytes closeServerResponse(const SendMessageResult& result);
std::optional<SendMessageResult> parseCloseServerResponse(std::span<const std::uint8_t> stub);

} // namespace lanquill::protocol::termsrv
