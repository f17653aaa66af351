// The generated contact book the benchmarks load (500 workgroups of 20 computers, far beyond a
// real LAN), and libxml2 parsing it alone as the yardstick for our loads.
#pragma once

#include "contacts/BookGenerator.h"

#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace lanquill::bench {

inline constexpr int kGroups = 500;
inline constexpr int kComputers = 20;

// A folder holding the generated book, removed at exit.
class BookDir {
public:
    BookDir() {
        char dir[] = "/tmp/lanquill-bench-book.XXXXXX";
        if (::mkdtemp(dir) == nullptr)
            std::abort();
        dir_ = dir;
        book_ = dir_ + "/config.xml";
        std::ofstream(book_, std::ios::binary) << contacts::makeBook(kGroups, kComputers);
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
