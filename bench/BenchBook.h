// The generated contact books the benchmarks load (by default 500 workgroups of 20 computers, far
// beyond a real LAN), and libxml2 parsing one alone as the yardstick for our loads.
#pragma once

#include "contacts/BookGenerator.h"

#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <utility>

namespace lanquill::bench {

inline constexpr int kGroups = 500;
inline constexpr int kComputers = 20;

// A folder holding the generated book, removed at exit.
class BookDir {
public:
    explicit BookDir(int groups = kGroups, int computersPerGroup = kComputers) {
        char dir[] = "/tmp/lanquill-bench-book.XXXXXX";
        if (::mkdtemp(dir) == nullptr)
            std::abort();
        dir_ = dir;
        book_ = dir_ + "/config.xml";
        std::ofstream(book_, std::ios::binary) << contacts::makeBook(groups, computersPerGroup);
    }
    ~BookDir() { std::filesystem::remove_all(dir_); }
    BookDir(const BookDir&) = delete;
    BookDir& operator=(const BookDir&) = delete;

    const std::string& book() const { return book_; }
    std::string scratch(const char* name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
    std::string book_;
};

inline const BookDir& bookDir() {
    static const BookDir dir;
    return dir;
}

// A book of `groups` workgroups of `computersPerGroup` computers each, made once per run.
inline const BookDir& bookDir(int groups, int computersPerGroup) {
    static std::map<std::pair<int, int>, std::unique_ptr<BookDir>> dirs;
    auto& dir = dirs[{groups, computersPerGroup}];
    if (!dir)
        dir = std::make_unique<BookDir>(groups, computersPerGroup);
    return *dir;
}

// libxml2 alone parsing the book with the options our loader uses, and freeing it.
inline void parseBookWithLibxml2Alone(benchmark::State& state) {
    const std::string& path = bookDir().book();
    for (auto _ : state) {
        // From a descriptor: once our loader ran in this process, libxml2 opens no file by name
        // (its entity loader refuses everything).
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        xmlDoc* doc = fd >= 0
                          ? xmlReadFd(fd, path.c_str(), nullptr,
                                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                                          XML_PARSE_NOCDATA | XML_PARSE_NOXINCNODE)
                          : nullptr;
        if (fd >= 0)
            ::close(fd);
        if (doc == nullptr)
            state.SkipWithError("parse failed");
        xmlFreeDoc(doc);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(std::filesystem::file_size(path)));
}

} // namespace lanquill::bench
