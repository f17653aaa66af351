#include "platform/DetachedCommandRunner.h"

#include "files/Wait.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <linux/close_range.h>
#include <poll.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lanquill::platform {

namespace {

constexpr const char* NetProgram = "lanquill-net";

std::string runningProgramDirectory() {
    std::error_code error;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.parent_path().string();
}

} // namespace

DetachedCommandRunner::DetachedCommandRunner() : programDirectory_(runningProgramDirectory()) {}

DetachedCommandRunner::DetachedCommandRunner(std::string programDirectory)
    : programDirectory_(std::move(programDirectory)) {}

std::string DetachedCommandRunner::programPath(const CommandLine& command) const {
    const auto hasZero = [](const std::string& argument) {
        return argument.find('\0') != std::string::npos;
    };
    if (strcasecmp(command.program.c_str(), "net") != 0 || programDirectory_.empty() ||
        hasZero(command.program) ||
        std::any_of(command.arguments.begin(), command.arguments.end(), hasZero))
        return {};
    return programDirectory_ + "/" + NetProgram;
}

namespace {

// The argument vector of lanquill-net with `command`'s arguments, made before a fork: the
// strings, and the pointers into them that exec takes.
struct ArgumentVector {
    explicit ArgumentVector(const CommandLine& command) : strings{NetProgram} {
        strings.insert(strings.end(), command.arguments.begin(), command.arguments.end());
        for (std::string& text : strings)
            pointers.push_back(text.data());
        pointers.push_back(nullptr);
    }
    ArgumentVector(const ArgumentVector&) = delete;
    ArgumentVector& operator=(const ArgumentVector&) = delete;

    std::vector<std::string> strings;
    std::vector<char*> pointers;
};

} // namespace

bool DetachedCommandRunner::start(const CommandLine& command) {
    const std::string path = programPath(command);
    if (path.empty())
        return false;

    // Everything the child needs is made before fork: after it only async-signal-safe calls.
    const ArgumentVector argv(command);

    // The grandchild reports a failed exec through this pipe; a successful exec closes it.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return false;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0)
            ::_exit(grandchild < 0 ? 1 : 0);
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
        }
        // None of the program's own descriptors (X connection, sockets) pass to the command.
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        ::execv(path.c_str(), argv.pointers.data());
        const int error = errno;
        [[maybe_unused]] const auto written = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    do {
        got = ::read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && got == 0;
}

CommandResult DetachedCommandRunner::run(const CommandLine& command,
                                         const ChildEnvironment& environment) {
    CommandResult result;
    const std::string path = programPath(command);
    if (path.empty())
        return result;
    for (const auto& [name, value] : environment) {
        if (name.empty() || name.find_first_of(std::string("=\0", 2)) != std::string::npos ||
            value.find('\0') != std::string::npos)
            return result;
    }

    // Everything the child needs is made before fork: the program has threads, so after it
    // only async-signal-safe calls.
    const ArgumentVector argv(command);
    std::vector<std::string> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string_view entry(*variable);
        const bool replaced = std::any_of(environment.begin(), environment.end(), [&](auto& set) {
            return entry.size() > set.first.size() && entry.starts_with(set.first) &&
                   entry[set.first.size()] == '=';
        });
        if (!replaced)
            variables.emplace_back(entry);
    }
    for (const auto& [name, value] : environment)
        variables.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    int errors[2];
    if (::pipe2(errors, O_CLOEXEC) != 0)
        return result;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(errors[0]);
        ::close(errors[1]);
        return result;
    }
    if (child == 0) {
        // A process group of its own, so that the kill below reaches whatever it started.
        ::setpgid(0, 0);
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
        }
        ::dup2(errors[1], STDERR_FILENO);
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        ::execve(path.c_str(), argv.pointers.data(), envp.data());
        ::_exit(127);
    }
    ::close(errors[1]);

    constexpr std::size_t kept = 64 * 1024;
    constexpr auto limit = std::chrono::minutes(2);
    const auto end = std::chrono::steady_clock::now() + limit;
    bool killed = false;
    for (;;) {
        if (!files::waitUntil(errors[0], POLLIN, end)) {
            if (std::chrono::steady_clock::now() >= end) {
                ::kill(-child, SIGKILL);
                killed = true;
            }
            break;
        }
        char chunk[4096];
        const ssize_t got = ::read(errors[0], chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break; // the command and all it started closed their stderr
        const std::size_t room = kept - std::min(kept, result.standardError.size());
        result.standardError.append(chunk, std::min(room, static_cast<std::size_t>(got)));
    }
    ::close(errors[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.started = !(WIFEXITED(status) && WEXITSTATUS(status) == 127 && !killed);
    result.exitCode = WIFEXITED(status) && !killed ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace lanquill::platform
