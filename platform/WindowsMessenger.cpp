#include "platform/WindowsMessenger.h"

#include "platform/SmbClientLibrary.h"
#include "protocol/Addresses.h"
#include "protocol/DceRpc.h"
#include "protocol/TermSrv.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lanquill::platform {

namespace dcerpc = protocol::dcerpc;
namespace termsrv = protocol::termsrv;
using protocol::Bytes;

namespace {

using Clock = std::chrono::steady_clock;

// Statuses the target answers for a refused right or a session it does not have, as HRESULT,
// NTSTATUS, HRESULT made from an NTSTATUS, and Win32 error made HRESULT.
constexpr std::uint32_t StatusAccessDenied = 0xC0000022;
constexpr std::uint32_t StatusWinStationNotFound = 0xC00A0015;
constexpr std::uint32_t HresultFromNtWinStationNotFound = 0xD00A0015;
constexpr std::uint32_t HresultWinStationNotFound = 0x80071B6E;

WindowsError errorOfStatus(std::uint32_t status) {
    switch (status) {
    case termsrv::EAccessDenied:
    case StatusAccessDenied:
    case dcerpc::FaultAccessDenied:
        return WindowsError::AccessDenied;
    case StatusWinStationNotFound:
    case HresultFromNtWinStationNotFound:
    case HresultWinStationNotFound:
        return WindowsError::NoSuchSession;
    default:
        return WindowsError::Fault;
    }
}

WindowsOutcome failure(WindowsError error, std::uint32_t code = 0) {
    WindowsOutcome outcome;
    outcome.error = error;
    outcome.code = code;
    return outcome;
}

std::string hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// DCE/RPC calls over one pipe, one after another.
class RpcChannel {
public:
    explicit RpcChannel(MessagePipe& pipe) : pipe_(pipe) {}

    struct Reply {
        enum Kind { Answered, Faulted, Broken } kind = Broken;
        Bytes stub;
        std::uint32_t fault = 0;
    };

    // The bind_ack, or nullopt for a bind_nak or a broken pipe (`broken` tells which).
    std::optional<dcerpc::BindAck> bind(std::span<const dcerpc::ContextElement> contexts,
                                        bool& broken) {
        broken = false;
        const std::uint32_t id = callId_++;
        const auto pdu = readAfter(dcerpc::buildBind(id, contexts));
        if (!pdu) {
            broken = true;
            return std::nullopt;
        }
        auto ack = dcerpc::parseBindAck(*pdu);
        if (!ack || ack->header.callId != id)
            return std::nullopt;
        // Fragments the target takes: what it says it receives, never more than we offered.
        maxTransmit_ = std::clamp<std::uint16_t>(ack->maxReceive, dcerpc::MinFragment,
                                                 dcerpc::DefaultMaxFragment);
        return ack;
    }

    Reply call(std::uint16_t context, std::uint16_t opnum, std::span<const std::uint8_t> stub) {
        const std::uint32_t id = callId_++;
        for (const auto& fragment : dcerpc::buildRequest(id, context, opnum, stub, maxTransmit_))
            if (!pipe_.write(fragment))
                return {};
        dcerpc::Reassembler response(dcerpc::PduType::Response, id);
        for (;;) {
            const auto pdu = readPdu();
            if (!pdu)
                return {};
            const auto header = dcerpc::parseHeader(*pdu);
            if (header->type == dcerpc::PduType::Fault) {
                const auto fault = dcerpc::parseFault(*pdu);
                return {Reply::Faulted, {}, fault ? fault->status : dcerpc::FaultProtocolError};
            }
            switch (response.add(*pdu)) {
            case dcerpc::Reassembler::State::More:
                continue;
            case dcerpc::Reassembler::State::Done:
                return {Reply::Answered, response.stub(), 0};
            case dcerpc::Reassembler::State::Error:
                return {Reply::Faulted, {}, dcerpc::FaultProtocolError};
            }
        }
    }

private:
    std::optional<Bytes> readAfter(const Bytes& request) {
        if (!pipe_.write(request))
            return std::nullopt;
        return readPdu();
    }

    // One PDU: its 16-byte header, then exactly the rest its fragment length gives (asking a
    // pipe file for more than is there waits until the SMB read times out).
    std::optional<Bytes> readPdu() {
        Bytes pdu(dcerpc::HeaderLength);
        if (!pipe_.read(pdu))
            return std::nullopt;
        const auto header = dcerpc::parseHeader(pdu);
        if (!header)
            return std::nullopt;
        pdu.resize(header->fragmentLength);
        if (!pipe_.read(std::span(pdu).subspan(dcerpc::HeaderLength)))
            return std::nullopt;
        return pdu;
    }

    MessagePipe& pipe_;
    std::uint32_t callId_ = 1;
    std::uint16_t maxTransmit_ = dcerpc::DefaultMaxFragment;
};

// The outcome of a reply that should carry `T`: the parsed answer, or why there is none.
template <class T, class Parse>
std::optional<T> answer(const RpcChannel::Reply& reply, Parse parse, WindowsOutcome& outcome,
                        const char* call) {
    // Not a timeout: the child's SMB timeout is the parent's whole deadline, and the parent
    // ends the child when that passes. A pipe that fails before has broken off.
    if (reply.kind == RpcChannel::Reply::Broken) {
        outcome.error = WindowsError::ConnectionLost;
        return std::nullopt;
    }
    if (reply.kind == RpcChannel::Reply::Faulted) {
        outcome.error = errorOfStatus(reply.fault);
        outcome.code = reply.fault;
        return std::nullopt;
    }
    auto parsed = parse(std::span<const std::uint8_t>(reply.stub));
    if (!parsed) {
        outcome.notes.push_back(std::string(call) + ": an answer of " +
                                std::to_string(reply.stub.size()) + " bytes that does not parse");
        outcome.error = WindowsError::Fault;
        outcome.code = dcerpc::FaultProtocolError;
        return std::nullopt;
    }
    return parsed;
}

// The active console session from the enumeration interface; nullopt (with a note) when the
// target does not tell.
std::optional<std::uint32_t> activeSession(RpcChannel& channel, std::uint16_t context,
                                           WindowsOutcome& outcome) {
    WindowsOutcome scratch;
    const auto opened =
        answer<termsrv::HandleResult>(channel.call(context, termsrv::opnum::OpenEnum, {}),
                                      termsrv::parseOpenEnumResponse, scratch, "RpcOpenEnum");
    if (!opened || !termsrv::succeeded(opened->status)) {
        outcome.notes.push_back("RpcOpenEnum failed: " +
                                hex32(opened ? opened->status : scratch.code));
        return std::nullopt;
    }
    const auto list = answer<termsrv::SessionList>(
        channel.call(context, termsrv::opnum::GetEnumResult,
                     termsrv::getEnumResultRequest(opened->handle)),
        termsrv::parseGetEnumResultResponse, scratch, "RpcGetEnumResult");
    static_cast<void>(channel.call(context, termsrv::opnum::CloseEnum,
                                   termsrv::closeHandleRequest(opened->handle)));
    if (!list || !termsrv::succeeded(list->status)) {
        outcome.notes.insert(outcome.notes.end(), scratch.notes.begin(), scratch.notes.end());
        outcome.notes.push_back("RpcGetEnumResult failed: " +
                                hex32(list ? list->status : scratch.code));
        return std::nullopt;
    }
    const auto active = termsrv::activeSession(*list);
    if (!active) {
        outcome.notes.push_back("no active session among " + std::to_string(list->sessions.size()));
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*active);
}

// Whether a fault means "this interface or call is not here": then the older path is tried.
bool notOffered(const WindowsOutcome& outcome) {
    return outcome.error == WindowsError::Fault && (outcome.code == dcerpc::FaultUnknownInterface ||
                                                    outcome.code == dcerpc::FaultOpRangeError ||
                                                    outcome.code == dcerpc::FaultContextMismatch);
}

// TermSrvSession. Nullopt when the target does not offer it, so that IcaApi is tried.
std::optional<WindowsOutcome> sendThroughSession(MessagePipe& pipe, const WindowsMessage& message,
                                                 std::optional<std::uint32_t>& session,
                                                 std::vector<std::string>& notes) {
    RpcChannel channel(pipe);
    const dcerpc::SyntaxId interfaces[] = {termsrv::TermSrvSession, termsrv::TermSrvEnumeration};
    const auto contexts = dcerpc::contextsFor(interfaces);
    bool broken = false;
    const auto ack = channel.bind(contexts, broken);
    if (broken)
        return failure(WindowsError::ConnectionLost);
    if (!ack) {
        notes.push_back("the bind was refused");
        return std::nullopt;
    }
    WindowsOutcome outcome;
    // The session is looked up wherever enumeration is offered, also for the older path.
    if (!session) {
        if (const auto enumeration =
                dcerpc::acceptedContext(*ack, contexts, termsrv::TermSrvEnumeration))
            session = activeSession(channel, *enumeration, outcome);
        else
            outcome.notes.push_back("TermSrvEnumeration refused in the bind");
    }
    const auto sessionContext = dcerpc::acceptedContext(*ack, contexts, termsrv::TermSrvSession);
    if (!sessionContext) {
        notes.insert(notes.end(), outcome.notes.begin(), outcome.notes.end());
        notes.push_back("TermSrvSession refused in the bind");
        return std::nullopt;
    }
    outcome.session = session.value_or(1);
    const auto opened =
        answer<termsrv::HandleResult>(channel.call(*sessionContext, termsrv::opnum::OpenSession,
                                                   termsrv::openSessionRequest(outcome.session)),
                                      termsrv::parseOpenSessionResponse, outcome, "RpcOpenSession");
    if (!opened) {
        if (notOffered(outcome)) {
            notes.insert(notes.end(), outcome.notes.begin(), outcome.notes.end());
            notes.push_back("RpcOpenSession answered " + hex32(outcome.code));
            return std::nullopt;
        }
        return outcome;
    }
    if (!termsrv::succeeded(opened->status)) {
        outcome.error = errorOfStatus(opened->status);
        outcome.code = opened->status;
        return outcome;
    }
    termsrv::MessageBox box;
    box.handle = opened->handle;
    box.title = message.title;
    box.text = message.text;
    const auto request = termsrv::showMessageBoxRequest(box);
    if (!request)
        return failure(WindowsError::BadText);
    const auto shown = answer<termsrv::MessageBoxResult>(
        channel.call(*sessionContext, termsrv::opnum::ShowMessageBox, *request),
        termsrv::parseShowMessageBoxResponse, outcome, "RpcShowMessageBox");
    // The handle is given back whatever the message box did; its answer changes nothing.
    const auto closed = channel.call(*sessionContext, termsrv::opnum::CloseSession,
                                     termsrv::closeHandleRequest(opened->handle));
    if (closed.kind != RpcChannel::Reply::Answered)
        outcome.notes.push_back("RpcCloseSession was not answered");
    if (!shown)
        return outcome;
    if (!termsrv::succeeded(shown->status)) {
        outcome.error = errorOfStatus(shown->status);
        outcome.code = shown->status;
        return outcome;
    }
    if (shown->response != termsrv::IdAsync && shown->response != termsrv::IdOk)
        outcome.notes.push_back("RpcShowMessageBox answered " + std::to_string(shown->response));
    return outcome;
}

WindowsOutcome sendThroughIcaApi(MessagePipe& pipe, const WindowsMessage& message,
                                 std::uint32_t session) {
    RpcChannel channel(pipe);
    const dcerpc::SyntaxId interfaces[] = {termsrv::IcaApi};
    const auto contexts = dcerpc::contextsFor(interfaces);
    bool broken = false;
    const auto ack = channel.bind(contexts, broken);
    if (broken)
        return failure(WindowsError::ConnectionLost);
    const auto context =
        ack ? dcerpc::acceptedContext(*ack, contexts, termsrv::IcaApi) : std::nullopt;
    if (!context)
        return failure(WindowsError::RemoteNotAllowed);
    WindowsOutcome outcome;
    outcome.session = session;
    outcome.legacy = true;
    const auto server = answer<termsrv::ServerResult>(
        channel.call(*context, termsrv::opnum::OpenServer, {}), termsrv::parseOpenServerResponse,
        outcome, "RpcWinStationOpenServer");
    if (!server)
        return outcome;
    if (!server->ok || !termsrv::succeeded(server->status)) {
        outcome.error = errorOfStatus(server->status);
        outcome.code = server->status;
        return outcome;
    }
    termsrv::WinStationMessage request;
    request.handle = server->handle;
    request.sessionId = session;
    request.title = message.title;
    request.text = message.text;
    const auto stub = termsrv::sendMessageRequest(request);
    if (!stub)
        return failure(WindowsError::BadText);
    const auto sent = answer<termsrv::SendMessageResult>(
        channel.call(*context, termsrv::opnum::SendMessage, *stub),
        termsrv::parseSendMessageResponse, outcome, "RpcWinStationSendMessage");
    const auto closed = channel.call(*context, termsrv::opnum::CloseServer,
                                     termsrv::closeHandleRequest(server->handle));
    if (closed.kind != RpcChannel::Reply::Answered)
        outcome.notes.push_back("RpcWinStationCloseServer was not answered");
    if (!sent)
        return outcome;
    if (!sent->ok || !termsrv::succeeded(sent->status)) {
        outcome.error = errorOfStatus(sent->status);
        outcome.code = sent->status;
    }
    return outcome;
}

} // namespace

WindowsOutcome deliverToWindows(PipeOpener& opener, const WindowsMessage& message) {
    std::vector<std::string> notes;
    std::optional<std::uint32_t> session = message.session;
    auto opened = opener.open(termsrv::SessionPipe);
    if (opened.pipe) {
        if (auto outcome = sendThroughSession(*opened.pipe, message, session, notes)) {
            outcome->notes.insert(outcome->notes.begin(), notes.begin(), notes.end());
            return *outcome;
        }
    } else if (opened.error != WindowsError::RemoteNotAllowed) {
        return failure(opened.error);
    } else {
        notes.push_back("no pipe " + std::string(termsrv::SessionPipe));
    }
    opened.pipe.reset();
    auto legacy = opener.open(termsrv::IcaPipe);
    if (!legacy.pipe) {
        auto outcome = failure(legacy.error);
        outcome.notes = notes;
        return outcome;
    }
    auto outcome = sendThroughIcaApi(*legacy.pipe, message, session.value_or(1));
    outcome.notes.insert(outcome.notes.begin(), notes.begin(), notes.end());
    return outcome;
}

WindowsAccount parseAccount(std::string_view account) {
    WindowsAccount parsed;
    const auto slash = account.find('\\');
    if (slash == std::string_view::npos) {
        parsed.user = account;
    } else {
        parsed.domain = account.substr(0, slash);
        parsed.user = account.substr(slash + 1);
    }
    return parsed;
}

// --- libsmbclient's pipe files, in the child process ---

namespace {

const WindowsAccount* childAccount = nullptr;

void copyOut(char* to, int size, const std::string& value) {
    if (size <= 0)
        return;
    const std::size_t length = std::min(value.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(to, value.data(), length);
    to[length] = '\0';
}

void accountCredentials(SMBCCTX*, const char*, const char*, char* workgroup, int workgroupLength,
                        char* user, int userLength, char* password, int passwordLength) {
    if (childAccount == nullptr)
        return;
    if (!childAccount->domain.empty())
        copyOut(workgroup, workgroupLength, childAccount->domain);
    copyOut(user, userLength, childAccount->user);
    copyOut(password, passwordLength, childAccount->password);
}

class SmbPipe : public MessagePipe {
public:
    SmbPipe(const SmbClientLibrary& smbc, SMBCCTX* ctx, SMBCFILE* file)
        : smbc_(smbc), ctx_(ctx), file_(file) {}
    ~SmbPipe() override { smbc_.getFunctionClose(ctx_)(ctx_, file_); }

    bool write(std::span<const std::uint8_t> data) override {
        const auto put = smbc_.getFunctionWrite(ctx_);
        while (!data.empty()) {
            const ssize_t done = put(ctx_, file_, data.data(), data.size());
            if (done <= 0)
                return false;
            data = data.subspan(static_cast<std::size_t>(done));
        }
        return true;
    }

    bool read(std::span<std::uint8_t> data) override {
        const auto get = smbc_.getFunctionRead(ctx_);
        while (!data.empty()) {
            const ssize_t done = get(ctx_, file_, data.data(), data.size());
            if (done <= 0)
                return false;
            data = data.subspan(static_cast<std::size_t>(done));
        }
        return true;
    }

private:
    const SmbClientLibrary& smbc_;
    SMBCCTX* ctx_;
    SMBCFILE* file_;
};

class SmbPipeOpener : public PipeOpener {
public:
    SmbPipeOpener(const SmbClientLibrary& smbc, std::string host, std::uint16_t port, int timeoutMs,
                  int reportFd)
        : smbc_(smbc), host_(std::move(host)), port_(port), timeoutMs_(timeoutMs),
          reportFd_(reportFd) {}
    ~SmbPipeOpener() override {
        if (ctx_ != nullptr)
            smbc_.free_context(ctx_, 1);
    }

    Opened open(std::string_view pipeName) override {
        if (ctx_ == nullptr && !start())
            return {nullptr, WindowsError::CannotConnect};
        const std::string url = "smb://" + host_ + "/IPC$/" + std::string(pipeName);
        errno = 0;
        SMBCFILE* file = smbc_.getFunctionOpen(ctx_)(ctx_, url.c_str(), O_RDWR, 0);
        if (file == nullptr)
            return {nullptr, errorOfErrno(errno)};
        if (!connected_) {
            connected_ = true;
            // The parent tells a deadline passed while connecting from one passed afterwards.
            if (::write(reportFd_, "connected\n", 10) != 10)
                connected_ = true; // the result line still follows
        }
        return {std::make_unique<SmbPipe>(smbc_, ctx_, file), WindowsError::None};
    }

private:
    bool start() {
        ctx_ = smbc_.newQuietContext();
        if (ctx_ == nullptr)
            return false;
        smbc_.setTimeout(ctx_, timeoutMs_);
        smbc_.setPort(ctx_, port_);
        smbc_.setOptionUseKerberos(ctx_, false);
        smbc_.setOptionFallbackAfterKerberos(ctx_, true);
        // Never the guest account: a message box needs a right an anonymous caller lacks.
        smbc_.setOptionNoAutoAnonymousLogin(ctx_, true);
        smbc_.setFunctionAuthDataWithContext(ctx_, accountCredentials);
        smbc_.setOptionProtocols(ctx_, "SMB2_02", "SMB3");
        // The calls carry no RPC-level sealing: SMB3 encryption, where the target offers it,
        // keeps the message and the session list from the wire. Signing stays as configured
        // (for IPC$ Samba's client requires it).
        smbc_.setOptionSmbEncryptionLevel(ctx_, SMBC_ENCRYPTLEVEL_REQUEST);
        if (smbc_.init_context(ctx_) == nullptr) {
            smbc_.free_context(ctx_, 1);
            ctx_ = nullptr;
            return false;
        }
        return true;
    }

    WindowsError errorOfErrno(int error) const {
        switch (error) {
        case ENOENT:
        case ENXIO:
            // Without AllowRemoteRPC, Windows serves neither pipe.
            return WindowsError::RemoteNotAllowed;
        case EACCES:
        case EPERM:
            // The logon and the opening both come in this call; once a pipe of the same
            // session opened, a refusal is the pipe's.
            return connected_ ? WindowsError::AccessDenied : WindowsError::LogonRefused;
        default:
            return WindowsError::CannotConnect;
        }
    }

    const SmbClientLibrary& smbc_;
    std::string host_;
    std::uint16_t port_;
    int timeoutMs_;
    int reportFd_;
    SMBCCTX* ctx_ = nullptr;
    bool connected_ = false;
};

// One line of the child's report: no line breaks inside.
std::string oneLine(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

[[noreturn]] void runChild(pid_t parent, int reportFd, const std::string& host, std::uint16_t port,
                           int timeoutMs, const WindowsAccount& account,
                           const WindowsMessage& message) {
    // Ctrl+C at the terminal reaches the whole process group: the child ends with it, and with
    // a parent killed outright.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(0); // the parent is already gone
    childAccount = &account;
    WindowsOutcome outcome;
    if (const SmbClientLibrary* smbc = SmbClientLibrary::get()) {
        SmbPipeOpener opener(*smbc, host, port, timeoutMs, reportFd);
        outcome = deliverToWindows(opener, message);
    } else {
        outcome = failure(WindowsError::CannotConnect);
        outcome.notes.push_back("libsmbclient.so.0 cannot be loaded");
    }
    std::string report = "result " + std::to_string(static_cast<int>(outcome.error)) + " " +
                         std::to_string(outcome.code) + " " + std::to_string(outcome.session) +
                         " " + (outcome.legacy ? "1" : "0") + "\n";
    for (const auto& note : outcome.notes)
        report += "note " + oneLine(note) + "\n";
    for (std::size_t at = 0; at < report.size();) {
        const ssize_t done = ::write(reportFd, report.data() + at, report.size() - at);
        if (done <= 0)
            break;
        at += static_cast<std::size_t>(done);
    }
    // Nothing of the parent's (buffers, exit handlers) runs twice.
    ::_exit(0);
}

// Reads the child's report into `outcome`; true once its result line came.
bool parseReport(const std::string& report, WindowsOutcome& outcome, bool& connected) {
    bool complete = false;
    std::size_t at = 0;
    while (at < report.size()) {
        const std::size_t end = report.find('\n', at);
        if (end == std::string::npos)
            break;
        const std::string line = report.substr(at, end - at);
        at = end + 1;
        if (line == "connected") {
            connected = true;
        } else if (line.starts_with("note ")) {
            outcome.notes.push_back(line.substr(5));
        } else {
            int error = 0;
            unsigned long code = 0;
            unsigned session = 0;
            int legacy = 0;
            if (std::sscanf(line.c_str(), "result %d %lu %u %d", &error, &code, &session,
                            &legacy) == 4) {
                outcome.error = static_cast<WindowsError>(error);
                outcome.code = static_cast<std::uint32_t>(code);
                outcome.session = session;
                outcome.legacy = legacy != 0;
                complete = true;
            }
        }
    }
    return complete;
}

} // namespace

WindowsOutcome childOutcome(const std::string& report, int waitStatus) {
    WindowsOutcome outcome;
    bool connected = false;
    if (parseReport(report, outcome, connected))
        return outcome;
    // A child that dies in the SMB library (a crash, the out-of-memory killer) or is killed from
    // outside says nothing: that is the sender's failure, not the computer's silence.
    if (WIFSIGNALED(waitStatus)) {
        outcome.error = WindowsError::SenderKilled;
        outcome.code = static_cast<std::uint32_t>(WTERMSIG(waitStatus));
    } else {
        outcome.error = WindowsError::SenderFailed;
        outcome.code =
            WIFEXITED(waitStatus) ? static_cast<std::uint32_t>(WEXITSTATUS(waitStatus)) : 0;
    }
    outcome.notes.push_back(connected ? "the SMB client ended without an answer after connecting"
                                      : "the SMB client ended without an answer");
    return outcome;
}

WindowsOutcome WindowsMessenger::send(const std::string& computer, const WindowsAccount& account,
                                      const WindowsMessage& message) {
    const auto deadline = Clock::now() + options_.deadline;
    if (!termsrv::toUtf16(message.title) || !termsrv::toUtf16(message.text))
        return failure(WindowsError::BadText);
    Ipv4 address{};
    if (const auto dotted = protocol::parseIpv4(computer)) {
        address = *dotted;
    } else {
        const auto host = resolver_.hostByName(computer);
        if (!host || host->addresses.empty())
            return failure(WindowsError::UnknownComputer);
        address = host->addresses.front();
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0)
        return failure(WindowsError::Timeout);
    const std::string host = protocol::formatIpv4(address);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return failure(WindowsError::CannotConnect);
    std::fflush(nullptr); // the child must not write the parent's buffered output again
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return failure(WindowsError::CannotConnect);
    }
    if (child == 0) {
        ::close(fds[0]);
        runChild(parent, fds[1], host, options_.port, static_cast<int>(left.count()), account,
                 message);
    }
    ::close(fds[1]);

    WindowsOutcome outcome;
    bool connected = false;
    std::string report;
    bool ended = false; // the child closed its end: the report is whole
    std::optional<WindowsError> stopped;
    while (!ended) {
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (wait <= 0) {
            stopped = WindowsError::Timeout;
            break;
        }
        pollfd waits[2] = {{fds[0], POLLIN, 0}, {options_.cancelFd, POLLIN, 0}};
        const int ready = ::poll(waits, options_.cancelFd >= 0 ? 2 : 1, static_cast<int>(wait));
        if (ready < 0 && errno != EINTR) {
            stopped = WindowsError::Timeout;
            break;
        }
        if (ready <= 0)
            continue;
        if (options_.cancelFd >= 0 && (waits[1].revents & POLLIN)) {
            stopped = WindowsError::Cancelled;
            break;
        }
        if (waits[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
            char buffer[4096];
            const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
            if (got > 0)
                report.append(buffer, static_cast<std::size_t>(got));
            else if (got == 0 || errno != EINTR)
                ended = true;
        }
    }
    ::close(fds[0]);
    if (stopped)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (stopped) {
        parseReport(report, outcome, connected);
        // A deadline that passed before the first pipe opened is the connection's.
        outcome.error = *stopped == WindowsError::Timeout && !connected
                            ? WindowsError::CannotConnect
                            : *stopped;
        outcome.code = 0;
        return outcome;
    }
    return childOutcome(report, status);
}

} // namespace lanquill::platform
