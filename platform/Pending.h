// A result that one thread delivers and others wait for, each as long as it cares to. Shared by
// the worker and the waiters, so that a waiter who gives up leaves the worker to finish alone.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace lanquill::platform {

template <typename T> class Pending {
public:
    // The first delivery counts; nullopt: the work failed.
    void deliver(std::optional<T> result) {
        const std::lock_guard lock(mutex_);
        if (delivered_)
            return;
        delivered_ = true;
        result_ = std::move(result);
        done_.notify_all();
    }
    // The result once delivered, waiting until `deadline` at most; nullopt when the work failed
    // or is still under way.
    std::optional<T> waitUntil(std::chrono::steady_clock::time_point deadline) const {
        std::unique_lock lock(mutex_);
        if (!done_.wait_until(lock, deadline, [this] { return delivered_; }))
            return std::nullopt;
        return result_;
    }
    // A result has come and `test` accepts it.
    template <typename Test> bool deliveredAnd(Test test) const {
        const std::lock_guard lock(mutex_);
        return result_ && test(*result_);
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable done_;
    bool delivered_ = false;
    std::optional<T> result_;
};

// Runs `work(*pending)` on a thread of its own, which delivers into `pending`; the thread keeps
// its share of it. Without a thread to be had, the work counts as failed.
template <typename P, typename Work>
void runDetached(const std::shared_ptr<P>& pending, Work work) {
    try {
        std::thread([pending, work = std::move(work)]() mutable { work(*pending); }).detach();
    } catch (const std::system_error&) {
        pending->deliver(std::nullopt);
    }
}

} // namespace lanquill::platform
