// Several handlers for one event of the desktop (the tray icon's clicks, a hot key), each for as
// long as its Subscription lives: the main window and the inbox both answer a click on the tray
// icon without knowing of each other.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace lanquill::desktop {

// Ends one handler's registration when it goes (or on reset()).
class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            reset();
            cancel_ = std::exchange(other.cancel_, nullptr);
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { reset(); }

    void reset() {
        if (auto cancel = std::exchange(cancel_, nullptr))
            cancel();
    }

private:
    std::function<void()> cancel_;
};

template <typename... Args> class Listeners {
public:
    using Handler = std::function<void(Args...)>;

    // The handler runs on each raise, after those added before it, until the subscription goes.
    // Either may outlive the other.
    [[nodiscard]] Subscription add(Handler handler) {
        const std::uint64_t id = next_++;
        entries_->push_back({id, std::move(handler)});
        return Subscription([weak = std::weak_ptr<Entries>(entries_), id] {
            if (const auto entries = weak.lock())
                std::erase_if(*entries, [id](const Entry& entry) { return entry.id == id; });
        });
    }

    // Calls the handlers in the order they were added. A handler removed by an earlier one is
    // not called; one added meanwhile is called from the next raise on.
    void operator()(Args... args) const {
        const std::shared_ptr<Entries> entries = entries_; // a handler may end this object too
        std::vector<std::uint64_t> ids;
        ids.reserve(entries->size());
        for (const Entry& entry : *entries)
            ids.push_back(entry.id);
        for (const std::uint64_t id : ids) {
            const auto found = std::find_if(entries->begin(), entries->end(),
                                            [id](const Entry& entry) { return entry.id == id; });
            if (found == entries->end())
                continue;
            const Handler handler = found->handler; // the handler may end its own subscription
            handler(args...);
        }
    }

    bool empty() const { return entries_->empty(); }

private:
    struct Entry {
        std::uint64_t id;
        Handler handler;
    };
    using Entries = std::vector<Entry>;

    std::shared_ptr<Entries> entries_ = std::make_shared<Entries>();
    std::uint64_t next_ = 0;
};

} // namespace lanquill::desktop
