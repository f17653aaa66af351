// The calls of a message to a Windows desktop against a target in memory that answers through
// the codecs' answering side: the session lookup, the fallback to IcaApi, fragments both ways,
// and each refusal a target can give, told apart as the user is told.
#include "platform/SmbClientLibrary.h"
#include "platform/WindowsMessenger.h"
#include "protocol/DceRpc.h"
#include "protocol/TermSrv.h"

#include <gtest/gtest.h>

#include <csignal>
#include <deque>
#include <fcntl.h>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

using namespace lanquill;
using namespace lanquill::platform;
using namespace lanquill::protocol;

namespace {

struct Shown {
    bool legacy = false;
    std::uint32_t session = 0;
    std::string title;
    std::string text;
    std::uint32_t style = 0;
    bool doNotWait = false;
};

struct Target {
    bool lsmPipe = true;
    bool icaPipe = true;
    bool refuseLsm = false;     // TermSrvSession refused in the bind
    bool noEnumeration = false; // TermSrvEnumeration refused in the bind
    WindowsError openError = WindowsError::None;
    std::uint32_t openStatus = 0; // RpcOpenSession's HRESULT
    std::uint32_t showFault = 0;  // a fault PDU for RpcShowMessageBox
    std::uint16_t maxReceive = dcerpc::DefaultMaxFragment;
    std::uint16_t maxSend = dcerpc::DefaultMaxFragment;
    bool hangUpOnShow = false; // the connection drops before the answer
    std::vector<termsrv::SessionEntry> sessions{{0, 4, "Services"}, {1, 0, "Console"}};

    std::vector<Shown> shown;
    std::vector<std::string> pipesOpened;
    std::size_t requestFragments = 0;
    std::size_t openHandles = 0;
};

const termsrv::ContextHandle Handle{0, 0, 0, 0, 0xAB, 0xCD};

class FakePipe : public MessagePipe {
public:
    FakePipe(Target& target, std::vector<dcerpc::SyntaxId> served)
        : target_(target), served_(std::move(served)) {}

    bool write(std::span<const std::uint8_t> data) override {
        const auto header = dcerpc::parseHeader(data);
        EXPECT_TRUE(header);
        EXPECT_EQ(header->fragmentLength, data.size()); // one PDU a write, whole
        EXPECT_LE(data.size(), target_.maxReceive);
        if (header->type == dcerpc::PduType::Bind) {
            const auto bind = dcerpc::parseBind(data);
            EXPECT_TRUE(bind);
            const auto results = dcerpc::answerContexts(bind->contexts, served_);
            for (std::size_t i = 0; i < results.size(); ++i)
                if (results[i].result == dcerpc::ContextResult::Accepted)
                    contexts_[bind->contexts[i].id] = bind->contexts[i].abstract;
            queue(dcerpc::buildBindAck(header->callId, target_.maxSend, target_.maxReceive, 1,
                                       "\\PIPE\\x", results));
            return true;
        }
        ++target_.requestFragments;
        if (!call_ || (header->flags & dcerpc::FirstFragment))
            call_.emplace(dcerpc::PduType::Request, header->callId);
        if (call_->add(data) != dcerpc::Reassembler::State::Done)
            return true;
        answer(header->callId, contexts_.at(call_->contextId()), call_->opnum(), call_->stub());
        call_.reset();
        return true;
    }

    bool read(std::span<std::uint8_t> data) override {
        if (replies_.size() < data.size())
            return false; // nothing more will come
        std::copy_n(replies_.begin(), data.size(), data.begin());
        replies_.erase(replies_.begin(),
                       replies_.begin() + static_cast<std::ptrdiff_t>(data.size()));
        return true;
    }

private:
    void queue(const Bytes& pdu) { replies_.insert(replies_.end(), pdu.begin(), pdu.end()); }

    void reply(std::uint32_t callId, std::uint16_t context, const Bytes& stub) {
        for (const auto& pdu : dcerpc::buildResponse(callId, context, stub, target_.maxSend))
            queue(pdu);
    }

    void answer(std::uint32_t callId, const dcerpc::SyntaxId& iface, std::uint16_t opnum,
                const Bytes& stub) {
        const std::uint16_t context = call_->contextId();
        namespace op = termsrv::opnum;
        if (iface == termsrv::TermSrvEnumeration) {
            if (opnum == op::OpenEnum)
                reply(callId, context, termsrv::openEnumResponse({Handle, 0}));
            else if (opnum == op::GetEnumResult)
                reply(callId, context, termsrv::getEnumResultResponse({target_.sessions, 0}));
            else
                reply(callId, context, termsrv::closeHandleResponse(0));
            return;
        }
        if (iface == termsrv::TermSrvSession) {
            if (opnum == op::OpenSession) {
                const auto id = termsrv::parseOpenSessionRequest(stub);
                EXPECT_TRUE(id);
                session_ = *id;
                target_.openHandles += target_.openStatus == 0 ? 1 : 0;
                reply(callId, context, termsrv::openSessionResponse({Handle, target_.openStatus}));
            } else if (opnum == op::ShowMessageBox) {
                if (target_.hangUpOnShow)
                    return;
                if (target_.showFault != 0) {
                    queue(dcerpc::buildFault(callId, context, target_.showFault));
                    return;
                }
                const auto box = termsrv::parseShowMessageBoxRequest(stub);
                EXPECT_TRUE(box);
                EXPECT_EQ(box->handle, Handle);
                target_.shown.push_back(
                    {false, session_, box->title, box->text, box->style, box->doNotWait});
                reply(callId, context, termsrv::showMessageBoxResponse({termsrv::IdAsync, 0}));
            } else {
                EXPECT_EQ(termsrv::parseCloseHandleRequest(stub), Handle);
                --target_.openHandles;
                reply(callId, context, termsrv::closeHandleResponse(0));
            }
            return;
        }
        if (opnum == op::OpenServer) {
            reply(callId, context, termsrv::openServerResponse({0, Handle, true}));
        } else if (opnum == op::SendMessage) {
            const auto message = termsrv::parseSendMessageRequest(stub);
            EXPECT_TRUE(message);
            target_.shown.push_back({true, message->sessionId, message->title, message->text,
                                     message->style, message->doNotWait});
            reply(callId, context, termsrv::sendMessageResponse({0, termsrv::IdAsync, true}));
        } else {
            reply(callId, context, termsrv::closeServerResponse({0, 0, true}));
        }
    }

    Target& target_;
    std::vector<dcerpc::SyntaxId> served_;
    std::map<std::uint16_t, dcerpc::SyntaxId> contexts_;
    std::optional<dcerpc::Reassembler> call_;
    std::uint32_t session_ = 0;
    Bytes replies_;
};

class FakeOpener : public PipeOpener {
public:
    explicit FakeOpener(Target& target) : target_(target) {}
    Opened open(std::string_view name) override {
        target_.pipesOpened.emplace_back(name);
        if (target_.openError != WindowsError::None)
            return {nullptr, target_.openError};
        if (name == termsrv::SessionPipe && target_.lsmPipe) {
            std::vector<dcerpc::SyntaxId> served;
            if (!target_.refuseLsm)
                served.push_back(termsrv::TermSrvSession);
            if (!target_.noEnumeration)
                served.push_back(termsrv::TermSrvEnumeration);
            return {std::make_unique<FakePipe>(target_, served), WindowsError::None};
        }
        if (name == termsrv::IcaPipe && target_.icaPipe)
            return {std::make_unique<FakePipe>(target_, std::vector{termsrv::IcaApi}),
                    WindowsError::None};
        return {nullptr, WindowsError::RemoteNotAllowed};
    }

private:
    Target& target_;
};

std::string chineseText(std::size_t characters) {
    std::string text;
    for (std::size_t i = 0; i < characters; ++i)
        text += i % 40 == 39 ? "\n" : "课";
    return text;
}

} // namespace

TEST(WindowsMessenger, DeliversWhereTheTargetLetsItAndSaysWhyNotElsewhere) {
    struct Case {
        const char* name;
        Target target;
        std::optional<std::uint32_t> session;
        WindowsError error;
        std::uint32_t code;
        std::size_t shown;
        bool legacy;
        std::uint32_t sessionUsed;
    };
    const auto with = [](auto change) {
        Target target;
        change(target);
        return target;
    };
    const Case cases[] = {
        {"active console", with([](Target& t) {
             t.sessions.push_back({3, 0, "Console"});
         }),
         std::nullopt, WindowsError::None, 0, 1, false, 1},
        {"remote session only", with([](Target& t) {
             t.sessions = {{0, 4, "Services"}, {2, 0, "RDP-Tcp#0"}};
         }),
         std::nullopt, WindowsError::None, 0, 1, false, 2},
        {"nobody logged on", with([](Target& t) {
             t.sessions = {{0, 4, "Services"}};
         }),
         std::nullopt, WindowsError::None, 0, 1, false, 1},
        {"session named", Target{}, 7, WindowsError::None, 0, 1, false, 7},
        {"no enumeration", with([](Target& t) { t.noEnumeration = true; }), std::nullopt,
         WindowsError::None, 0, 1, false, 1},
        {"no session pipe", with([](Target& t) { t.lsmPipe = false; }), 4, WindowsError::None, 0, 1,
         true, 4},
        {"session interface refused", with([](Target& t) { t.refuseLsm = true; }), std::nullopt,
         WindowsError::None, 0, 1, true, 1},
        {"older path, session found by enumeration", with([](Target& t) {
             t.refuseLsm = true;
             t.sessions = {{0, 4, "Services"}, {2, 0, "Console"}};
         }),
         std::nullopt, WindowsError::None, 0, 1, true, 2},
        {"no pipe at all", with([](Target& t) {
             t.lsmPipe = false;
             t.icaPipe = false;
         }),
         std::nullopt, WindowsError::RemoteNotAllowed, 0, 0, false, 0},
        {"logon refused", with([](Target& t) { t.openError = WindowsError::LogonRefused; }),
         std::nullopt, WindowsError::LogonRefused, 0, 0, false, 0},
        {"not an administrator", with([](Target& t) { t.openStatus = termsrv::EAccessDenied; }),
         std::nullopt, WindowsError::AccessDenied, termsrv::EAccessDenied, 0, false, 1},
        {"no such session", with([](Target& t) { t.openStatus = 0x80071B6E; }), 9,
         WindowsError::NoSuchSession, 0x80071B6E, 0, false, 9},
        {"fault", with([](Target& t) { t.showFault = 0x6F7; }), std::nullopt, WindowsError::Fault,
         0x6F7, 0, false, 1},
        {"access fault", with([](Target& t) { t.showFault = dcerpc::FaultAccessDenied; }),
         std::nullopt, WindowsError::AccessDenied, dcerpc::FaultAccessDenied, 0, false, 1},
        {"hangs up", with([](Target& t) { t.hangUpOnShow = true; }), std::nullopt,
         WindowsError::ConnectionLost, 0, 0, false, 1},
    };
    for (const auto& c : cases) {
        Target target = c.target;
        FakeOpener opener(target);
        const auto outcome = deliverToWindows(
            opener, {"Message from PC01", "下课了，请保存文件\n第二行", c.session});
        EXPECT_EQ(outcome.error, c.error) << c.name;
        EXPECT_EQ(outcome.code, c.code) << c.name;
        ASSERT_EQ(target.shown.size(), c.shown) << c.name;
        if (c.error == WindowsError::LogonRefused) {
            EXPECT_EQ(target.pipesOpened.size(), 1U) << c.name; // not tried again on the other
        }
        if (c.shown == 0)
            continue;
        EXPECT_EQ(outcome.legacy, c.legacy) << c.name;
        EXPECT_EQ(outcome.session, c.sessionUsed) << c.name;
        EXPECT_EQ(target.shown[0].legacy, c.legacy) << c.name;
        EXPECT_EQ(target.shown[0].session, c.sessionUsed) << c.name;
        EXPECT_EQ(target.shown[0].title, "Message from PC01") << c.name;
        EXPECT_EQ(target.shown[0].text, "下课了，请保存文件\n第二行") << c.name;
        EXPECT_EQ(target.shown[0].style, termsrv::StyleOkInformation) << c.name;
        EXPECT_TRUE(target.shown[0].doNotWait) << c.name;
        EXPECT_EQ(target.openHandles, 0U) << c.name; // every session handle given back
    }
}

TEST(WindowsMessenger, LongTextsAndLongSessionListsTravelInFragments) {
    for (const bool legacy : {false, true}) {
        Target target;
        target.lsmPipe = !legacy;
        target.maxReceive = dcerpc::MinFragment; // the smallest a target may take
        target.maxSend = dcerpc::MinFragment;
        for (std::int32_t id = 2; id < 40; ++id)
            target.sessions.push_back({id, 4, "RDP-Tcp#" + std::to_string(id)});
        target.sessions.push_back({41, 0, "RDP-Tcp#41"});
        FakeOpener opener(target);
        const std::string text = chineseText(1000);
        const auto outcome = deliverToWindows(opener, {"来自 PC01 的消息", text, std::nullopt});
        EXPECT_EQ(outcome.error, WindowsError::None) << legacy;
        ASSERT_EQ(target.shown.size(), 1U) << legacy;
        EXPECT_EQ(target.shown[0].text, text) << legacy;
        EXPECT_EQ(target.shown[0].title, "来自 PC01 的消息") << legacy;
        // One fragment a call (open, [enumeration: 3,] show, close), and the 2,000 bytes of
        // text need a second for the message.
        EXPECT_EQ(target.requestFragments, (legacy ? 3U : 6U) + 1) << legacy;
        if (!legacy) {
            EXPECT_EQ(target.shown[0].session, 1U); // the console, found in a long list
        }
    }
}

TEST(WindowsMessenger, AccountNames) {
    struct Case {
        const char* typed;
        const char* domain;
        const char* user;
    };
    const Case cases[] = {
        {"SCHOOL\\admin", "SCHOOL", "admin"},
        {"admin", "", "admin"},
        {"PC01\\管理员", "PC01", "管理员"},
        {"\\admin", "", "admin"},
    };
    for (const auto& c : cases) {
        const auto account = parseAccount(c.typed);
        EXPECT_EQ(account.domain, c.domain) << c.typed;
        EXPECT_EQ(account.user, c.user) << c.typed;
    }
}

// How the sending child ended, when neither the deadline nor a cancellation stopped it: its
// report if it wrote one, else its own failure, never the computer's silence.
TEST(WindowsMessenger, AChildThatDiesSaysSo) {
    const auto done = childOutcome("connected\nresult 0 0 2 0\n", W_EXITCODE(0, 0));
    EXPECT_EQ(done.error, WindowsError::None);
    EXPECT_EQ(done.session, 2U);
    const auto crashed = childOutcome("connected\n", W_EXITCODE(0, SIGSEGV));
    EXPECT_EQ(crashed.error, WindowsError::SenderKilled);
    EXPECT_EQ(crashed.code, unsigned{SIGSEGV});
    const auto failed = childOutcome("", W_EXITCODE(3, 0));
    EXPECT_EQ(failed.error, WindowsError::SenderFailed);
    EXPECT_EQ(failed.code, 3U);
}

// libsmbclient's own messages reach neither standard output nor standard error, at whatever
// level the library is made to talk: here a connection to a closed port of loopback, in a child
// (the library's start and its log are the process's).
TEST(SmbClientLibrary, ItsMessagesStayOffTheTerminal) {
    const SmbClientLibrary* smbc = SmbClientLibrary::get();
    if (smbc == nullptr)
        GTEST_SKIP() << "libsmbclient.so.0 cannot be loaded";
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(out[1], STDERR_FILENO);
        SMBCCTX* ctx = smbc->newQuietContext();
        smbc->setDebug(ctx, 3);
        smbc->setPort(ctx, 1);
        if (smbc->init_context(ctx) == nullptr)
            ::_exit(2);
        smbc->getFunctionOpen(ctx)(ctx, "smb://127.0.0.1/IPC$/x", O_RDWR, 0);
        ::_exit(0);
    }
    ::close(out[1]);
    std::string said;
    char buffer[512];
    for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;)
        said.append(buffer, static_cast<std::size_t>(got));
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(said, "");
}
