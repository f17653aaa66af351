// A file descriptor that is closed when it goes out of scope. Header only.
#pragma once

#include <unistd.h>

namespace lanquill::files {

struct Descriptor {
    int fd = -1;
    explicit Descriptor(int d) : fd(d) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace lanquill::files
