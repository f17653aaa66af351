// Work that would otherwise block the GUI thread (a name lookup, a send, a neighbourhood
// listing) runs on a thread of its own while the GUI thread goes on painting, so the windows
// stay drawn and can be moved. The user's input is held back until the work has ended and is
// handled afterwards, in the order it came, just as it would have been had the work blocked:
// a second click cannot start a second command meanwhile, and text typed during the wait lands
// where it would have landed.
#pragma once

#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

namespace lanquill::desktop {

// Runs `work` off the GUI thread and returns when it has ended, with the wait cursor showing
// meanwhile. Whatever `work` throws is thrown here. Called off the GUI thread (or without an
// application), it simply runs `work`.
void runWithoutFreezing(const std::function<void()>& work);

template <class Work> auto withoutFreezing(Work&& work) -> std::invoke_result_t<Work&> {
    using Result = std::invoke_result_t<Work&>;
    if constexpr (std::is_void_v<Result>) {
        runWithoutFreezing(work);
    } else {
        std::optional<Result> result;
        runWithoutFreezing([&] { result.emplace(work()); });
        return std::move(*result);
    }
}

} // namespace lanquill::desktop
