// A hostile or broken Windows target: whatever it answers on its pipes, the calls of a message
// end in an outcome, never read past an answer and never loop.
#include "platform/WindowsMessenger.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

using namespace lanquill::platform;

namespace {

// Every read takes the next bytes of the input; writes are taken and forgotten.
class ReplayPipe : public MessagePipe {
public:
    explicit ReplayPipe(std::span<const std::uint8_t>& input) : input_(input) {}
    bool write(std::span<const std::uint8_t>) override { return true; }
    bool read(std::span<std::uint8_t> data) override {
        if (input_.size() < data.size())
            return false;
        std::copy_n(input_.begin(), data.size(), data.begin());
        input_ = input_.subspan(data.size());
        return true;
    }

private:
    std::span<const std::uint8_t>& input_;
};

class ReplayOpener : public PipeOpener {
public:
    explicit ReplayOpener(std::span<const std::uint8_t> input) : input_(input) {}
    Opened open(std::string_view) override {
        // The first byte of what is left says whether this pipe is there.
        if (input_.empty() || (input_[0] & 1) != 0) {
            if (!input_.empty())
                input_ = input_.subspan(1);
            return {nullptr, WindowsError::RemoteNotAllowed};
        }
        input_ = input_.subspan(1);
        return {std::make_unique<ReplayPipe>(input_), WindowsError::None};
    }

private:
    std::span<const std::uint8_t> input_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ReplayOpener opener({data, size});
    const auto outcome = deliverToWindows(opener, {"Message from PC01", "下课了\n第二行", {}});
    // A status code belongs to a failure only.
    if (outcome.error == WindowsError::None && outcome.code != 0)
        __builtin_trap();
    return 0;
}
