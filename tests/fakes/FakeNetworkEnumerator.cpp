#include "fakes/FakeNetworkEnumerator.h"

namespace lanquill::fakes {

namespace ne = platform::netenum;

platform::NetResource FakeNetworkEnumerator::provider(const std::string& name) {
    platform::NetResource r;
    r.scope = ne::ScopeGlobalNet;
    r.displayType = ne::DisplayNetwork;
    r.usage = ne::UsageContainer;
    r.remoteName = name;
    r.provider = name;
    return r;
}

platform::NetResource FakeNetworkEnumerator::workgroup(const std::string& name) {
    platform::NetResource r;
    r.scope = ne::ScopeGlobalNet;
    r.displayType = ne::DisplayDomain;
    r.usage = ne::UsageContainer;
    r.remoteName = name;
    return r;
}

platform::NetResource FakeNetworkEnumerator::computer(const std::string& name) {
    platform::NetResource r;
    r.scope = ne::ScopeGlobalNet;
    r.displayType = ne::DisplayServer;
    r.usage = ne::UsageContainer;
    r.remoteName = "\\\\" + name;
    return r;
}

std::uint32_t FakeNetworkEnumerator::open(std::uint32_t scope, std::uint32_t type,
                                          std::uint32_t usage,
                                          const platform::NetResource* container, Handle& handle) {
    const std::string key = container == nullptr ? TopLevel : container->remoteName;
    OpenCall call{key, scope, type, usage, {}};
    if (container != nullptr)
        call.container = *container;
    opens_.push_back(std::move(call));
    if (const auto f = openFailures_.find(key); f != openFailures_.end())
        return f->second;
    if (!batches_.contains(key))
        return ne::BadNetName;
    handle = next_++;
    live_[handle] = Live{key, 0};
    return ne::NoError;
}

std::uint32_t FakeNetworkEnumerator::read(Handle handle,
                                          std::vector<platform::NetResource>& entries) {
    const auto it = live_.find(handle);
    if (it == live_.end())
        return ne::InvalidHandle;
    Live& live = it->second;
    const std::size_t index = live.reads++;
    if (const auto f = readFailures_.find(live.key);
        f != readFailures_.end() && f->second.first == index)
        return f->second.second;
    const auto& batches = batches_.at(live.key);
    if (index >= batches.size()) {
        entries.clear();
        return ne::NoMoreItems;
    }
    entries = batches[index];
    return ne::NoError;
}

std::uint32_t FakeNetworkEnumerator::close(Handle handle) {
    const auto it = live_.find(handle);
    if (it == live_.end())
        return ne::InvalidHandle;
    const std::string key = it->second.key;
    closes_.push_back(key);
    // A failed close still releases the handle, as WNetCloseEnum does.
    live_.erase(it);
    if (const auto f = closeFailures_.find(key); f != closeFailures_.end())
        return f->second;
    return ne::NoError;
}

std::vector<std::string> FakeNetworkEnumerator::openedKeys() const {
    std::vector<std::string> keys;
    for (const auto& call : opens_)
        keys.push_back(call.key);
    return keys;
}

} // namespace lanquill::fakes
