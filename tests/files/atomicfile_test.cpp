// A replace killed at every system call it makes: the target is always the old file or the new
// one, whole, and the temporary file the killed writer left is cleared away afterwards.
#include "files/AtomicFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lanquill::files {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Runs replaceFile in a traced child and kills it at the entry of its `stopAt`-th system call.
// True when the child finished before that.
bool replaceKilledAt(const fs::path& target, const std::string& data, int stopAt) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        ::raise(SIGSTOP);
        ::_exit(replaceFile(target.string(), data, {}) ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0); // stopped by its SIGSTOP
    for (int calls = 0;; ++calls) {
        if (calls == stopAt * 2) { // each call stops twice: at its entry and at its exit
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return false;
        }
        ::ptrace(PTRACE_SYSCALL, child, nullptr, nullptr);
        ::waitpid(child, &status, 0);
        if (WIFEXITED(status)) {
            EXPECT_EQ(WEXITSTATUS(status), 0);
            return true;
        }
    }
}

TEST(AtomicFile, AReplaceKilledAtAnyStepLeavesTheOldFileOrTheNewOne) {
    const fs::path folder =
        fs::temp_directory_path() / ("atomicfile-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path target = folder / "config.xml";
    const std::string before(200000, 'o'), after(300000, 'n'); // more than one write may take
    int kills = 0;
    for (int stopAt = 1;; ++stopAt) {
        ASSERT_TRUE(replaceFile(target.string(), before, {}));
        const bool finished = replaceKilledAt(target, after, stopAt);
        const std::string seen = contents(target);
        EXPECT_TRUE(seen == before || seen == after)
            << "killed at system call " << stopAt << ": " << seen.size() << " bytes";
        removeStaleTemporaries(folder.string(), "config.xml");
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1)
            << "killed at system call " << stopAt << ": a temporary file stayed";
        if (finished) {
            EXPECT_EQ(seen, after);
            break;
        }
        ++kills;
        ASSERT_LT(stopAt, 1000) << "the replace never finished";
    }
    EXPECT_GE(kills, 6) << "fewer calls than a replace makes: the child was not traced";
    fs::remove_all(folder);
}

} // namespace
} // namespace lanquill::files
