#include "platform/DetachedCommandRunner.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <linux/close_range.h>
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

bool DetachedCommandRunner::start(const CommandLine& command) {
    const auto hasZero = [](const std::string& argument) {
        return argument.find('\0') != std::string::npos;
    };
    if (strcasecmp(command.program.c_str(), "net") != 0 || programDirectory_.empty() ||
        hasZero(command.program) ||
        std::any_of(command.arguments.begin(), command.arguments.end(), hasZero))
        return false;
    const std::string path = programDirectory_ + "/" + NetProgram;

    // Everything the child needs is made before fork: after it only async-signal-safe calls.
    std::vector<char*> argv;
    std::string argv0 = NetProgram;
    argv.push_back(argv0.data());
    std::vector<std::string> arguments = command.arguments;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

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
        ::execv(path.c_str(), argv.data());
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

} // namespace lanquill::platform
