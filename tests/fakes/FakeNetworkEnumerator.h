// A scripted network neighbourhood: what each container lists, batch by batch, and which call
// fails with which code. Records every open and close so that tests can prove that every handle
// was closed.
#pragma once

#include "platform/Platform.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace lanquill::fakes {

class FakeNetworkEnumerator : public platform::NetworkEnumerator {
public:
    // The key of the top level; containers are keyed by their remote name.
    static inline const std::string TopLevel = "<top>";

    using Batch = std::vector<platform::NetResource>;

    // Entries as the platform gives them.
    static platform::NetResource provider(const std::string& name);
    static platform::NetResource workgroup(const std::string& name);
    static platform::NetResource computer(const std::string& name); // remote name "\\" + name

    // Script: the batches `key` yields, in order, before NoMoreItems. A key not scripted cannot
    // be opened (BadNetName).
    void script(const std::string& key, std::vector<Batch> batches) {
        batches_[key] = std::move(batches);
    }
    // Failures: opening `key`; its read number `readIndex` (0 = first); closing it.
    void failOpen(const std::string& key, std::uint32_t code) { openFailures_[key] = code; }
    void failRead(const std::string& key, std::size_t readIndex, std::uint32_t code) {
        readFailures_[key] = {readIndex, code};
    }
    void failClose(const std::string& key, std::uint32_t code) { closeFailures_[key] = code; }

    std::uint32_t open(std::uint32_t scope, std::uint32_t type, std::uint32_t usage,
                       const platform::NetResource* container, Handle& handle) override;
    std::uint32_t read(Handle handle, std::vector<platform::NetResource>& entries) override;
    std::uint32_t close(Handle handle) override;

    struct OpenCall {
        std::string key;
        std::uint32_t scope = 0, type = 0, usage = 0;
        platform::NetResource container; // empty for the top level
    };
    const std::vector<OpenCall>& opens() const { return opens_; }
    const std::vector<std::string>& closes() const { return closes_; }
    // Keys opened, in order.
    std::vector<std::string> openedKeys() const;
    // Handles opened successfully and not closed yet.
    std::size_t openHandles() const { return live_.size(); }

private:
    struct Live {
        std::string key;
        std::size_t reads = 0;
    };
    std::map<std::string, std::vector<Batch>> batches_;
    std::map<std::string, std::uint32_t> openFailures_;
    std::map<std::string, std::pair<std::size_t, std::uint32_t>> readFailures_;
    std::map<std::string, std::uint32_t> closeFailures_;
    std::map<Handle, Live> live_;
    Handle next_ = 100;
    std::vector<OpenCall> opens_;
    std::vector<std::string> closes_;
};

} // namespace lanquill::fakes
