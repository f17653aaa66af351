// The commands the program runs and lanquill-net's command line: only `net` is ever started,
// never through a shell, with its arguments and variables exactly as given; lanquill-net answers
// help on standard output and bad input with a clear error before touching the network.
#include "platform/DetachedCommandRunner.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

using namespace lanquill;
using platform::CommandLine;
using platform::DetachedCommandRunner;
using testsupport::TemporaryFolder;

extern char** environ;

namespace {

const std::string NetProgram = LANQUILL_BIN_DIR "/lanquill-net";

// A stand-in lanquill-net in `folder` with the shell script `body`.
void writeStandIn(const TemporaryFolder& folder, const std::string& body) {
    const std::string path = (folder.path / "lanquill-net").string();
    ASSERT_TRUE(testsupport::writeFile(path, "#!/bin/sh\n" + body));
    ASSERT_EQ(::chmod(path.c_str(), 0700), 0);
}

struct Ran {
    int exitCode = -1;
    std::string out, err;
};

// lanquill-net run to its end with `arguments`, its two outputs in files of `folder`.
Ran runNet(const std::vector<std::string>& arguments) {
    TemporaryFolder folder;
    const std::string out = (folder.path / "out").string(), err = (folder.path / "err").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT, 0600);
    std::vector<char*> argv{const_cast<char*>(NetProgram.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int failed =
        ::posix_spawn(&pid, NetProgram.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    Ran ran;
    int status = 0;
    if (failed != 0 || ::waitpid(pid, &status, 0) != pid)
        return ran;
    ran.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ran.out = testsupport::readFile(out).value_or("");
    ran.err = testsupport::readFile(err).value_or("");
    return ran;
}

} // namespace

TEST(DetachedCommandRunner, RunsOnlyNetAndNeverThroughAShell) {
    TemporaryFolder folder;
    const std::filesystem::path ran = folder.path / "ran";
    // A lanquill-net that leaves a mark: a refused command that started it anyway would show.
    writeStandIn(folder, "touch '" + ran.string() + "'\n");
    DetachedCommandRunner runner(folder.path.string());
    EXPECT_FALSE(runner.start({"sh", {"-c", "touch " + ran.string()}}));
    EXPECT_FALSE(runner.start({"/bin/sh", {}}));
    EXPECT_FALSE(runner.start({"lanquill-net", {"send", "/domain:WG", "x"}}));
    EXPECT_FALSE(runner.start({}));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(std::filesystem::exists(ran));
    // `net` whose program is missing: not started, and said so.
    std::filesystem::remove(folder.path / "lanquill-net");
    EXPECT_FALSE(runner.start({"net", {"send", "/domain:WG", "x"}}));
}

TEST(DetachedCommandRunner, StartsDetachedWithArgumentsIntact) {
    // The stand-in records its arguments, one per line between brackets, and its standard input.
    TemporaryFolder folder;
    const std::string out = (folder.path / "args.txt").string();
    writeStandIn(folder, "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > '" + out +
                             ".tmp'\nread line; echo \"stdin:$line\" >> '" + out + ".tmp'\n" +
                             "echo END >> '" + out + ".tmp'\nmv '" + out + ".tmp' '" + out + "'\n");
    DetachedCommandRunner runner(folder.path.string());
    // An argument with a zero byte could not reach the program whole: nothing starts.
    EXPECT_FALSE(runner.start({"net", {"send", "/domain:WG", std::string("a\0b", 3)}}));
    ASSERT_TRUE(runner.start({"NET", {"send", "/domain:W G", "你好 \"x\"\r\n$(id)"}}));
    std::optional<std::string> recorded;
    for (int i = 0; i < 500 && !recorded; ++i) {
        recorded = testsupport::readFile(out);
        if (!recorded)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(recorded.value_or("never written"),
              "[send]\n[/domain:W G]\n[你好 \"x\"\r\n$(id)]\nstdin:\nEND\n");
}

TEST(DetachedCommandRunner, RunsToTheEndWithItsOwnEnvironment) {
    // The stand-in tells on stderr what it got, and ends with the code it is given.
    TemporaryFolder folder;
    writeStandIn(folder, "read line; echo \"stdin:$line\"\n"
                         "printf 'args:' >&2; printf '%s|' \"$@\" >&2\n"
                         "echo \"PASSWD=${PASSWD-unset}\" >&2\necho \"HOME=${HOME-unset}\" >&2\n"
                         "exit \"$1\"\n");
    DetachedCommandRunner runner(folder.path.string());
    const char* home = std::getenv("HOME");
    const std::string homeBefore = home ? home : "";
    platform::CommandResult result =
        runner.run({"net", {"3", "a b", "第二"}}, {{"PASSWD", "p w=1"}, {"HOME", "/elsewhere"}});
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 3);
    // stdout goes nowhere; the child's variables are its own and override the program's.
    EXPECT_EQ(result.standardError, "args:3|a b|第二|PASSWD=p w=1\nHOME=/elsewhere\n");
    EXPECT_EQ(std::getenv("PASSWD"), nullptr);
    home = std::getenv("HOME");
    EXPECT_EQ(home ? home : "", homeBefore);

    result = runner.run({"net", {"0"}}, {});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.standardError.find("PASSWD=unset"), std::string::npos);

    // Refused as by start(): other programs, zero bytes, a variable name that is no name.
    for (const auto& [command, environment] :
         std::vector<std::pair<CommandLine, platform::ChildEnvironment>>{
             {{"sh", {"-c", "exit 0"}}, {}},
             {{"net", {std::string("0\0", 2)}}, {}},
             {{"net", {"0"}}, {{"A=B", "x"}}},
             {{"net", {"0"}}, {{"", "x"}}},
             {{"net", {"0"}}, {{"PASSWD", std::string("a\0b", 3)}}},
         })
        EXPECT_FALSE(runner.run(command, environment).started) << command.program;
    std::filesystem::remove(folder.path / "lanquill-net");
    EXPECT_FALSE(runner.run({"net", {"0"}}, {}).started);
}

// Help asked for is no error: the usage on standard output, nothing on standard error, 0.
TEST(LanquillNet, HelpGoesToStandardOutput) {
    for (const char* option : {"--help", "-h", "help"}) {
        const Ran ran = runNet({option});
        EXPECT_EQ(ran.exitCode, 0) << option;
        EXPECT_EQ(ran.err, "") << option;
        EXPECT_TRUE(ran.out.starts_with("usage: lanquill-net send") &&
                    ran.out.find("status NAME|ADDRESS") != std::string::npos)
            << option << ": " << ran.out;
    }
}

TEST(LanquillNet, RefusesBadInput) {
    const std::string longText(10000, 'x');
    const struct {
        std::vector<std::string> arguments;
        int exitCode;
        std::string says;
    } cases[] = {
        {{}, 2, "usage"},
        {{"frobnicate"}, 2, "unknown command \"frobnicate\""},
        {{"send"}, 2, "usage"},
        {{"send", "/domain:", "x"}, 2, "usage"},
        {{"send", "/domain:*", "x"}, 2, "usage"},
        {{"send", "/domain:W\x1b[31mG", "x"}, 2, "usage"},
        {{"send", "/domain:/domain:WG", "x"}, 2, "usage"},
        {{"send", "/DOMAIN", "x"}, 2, "usage"},
        {{"send", "*", "x"}, 2, "not supported"},
        {{"send", "127.0.0.1"}, 2, "no text"},
        {{"send", "PEER", ""}, 2, "no text"},
        {{"send", "127.0.0.1", " \r\n", "\t"}, 2, "no text"},
        {{"send", "/domain:WG"}, 2, "no text"},
        {{"send", "/domain:WG", "--member"}, 2, "--member wants"},
        {{"send", "/domain:WG", "--member", "A*B", "x"}, 2, "cannot be a computer name"},
        {{"send", "/domain:WG", "--member=", "x"}, 2, "cannot be a computer name"},
        {{"send", "/domain:WG", "--member", "PEER", "--"}, 2, "no text"},
        {{"status", "1.2.3.256"}, 2, "not a dotted IPv4"},
        {{"status", "1.2.3.4;id"}, 2, "not a dotted IPv4"},
        // Refused before any lookup or connection, so nothing leaves this machine.
        {{"send", "127.0.0.1", longText}, 1, "too long"},
        {{"send", std::string(65, 'p'), "x"}, 1, "too long"},
        {{"send", "/domain:WG", longText}, 1, "too long"},
        {{"send", "/domain:WG", "\xF0\x9F\x98\x80"}, 1, "cannot be sent"},
    };
    for (const auto& [arguments, exitCode, says] : cases) {
        const Ran ran = runNet(arguments);
        const std::string shown = arguments.empty() ? "(none)" : arguments.back().substr(0, 20);
        EXPECT_EQ(ran.exitCode, exitCode) << shown;
        EXPECT_NE(ran.err.find(says), std::string::npos) << shown << ": " << ran.err;
    }
}
