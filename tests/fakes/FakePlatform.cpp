#include "fakes/FakePlatform.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace lanquill::fakes {

std::string FakeSystemInfo::currentDirectory() {
    log_.push_back("currentDirectory");
    if (directoryError != 0)
        throw platform::SystemError(directoryError, platform::systemErrorText(directoryError));
    return directory;
}

std::optional<platform::HostEntry> FakeResolver::hostByName(const std::string& name) {
    std::unique_lock lock(mutex_);
    asked.push_back(name);
    waiting_.insert(name);
    changed_.notify_all();
    // Bounded, so that a program that waits for the answer on the GUI thread fails its test
    // instead of hanging it.
    changed_.wait_for(lock, std::chrono::seconds(20), [&] { return !held_.contains(name); });
    waiting_.erase(waiting_.find(name));
    auto it = byName.find(name);
    if (it == byName.end())
        return std::nullopt;
    return it->second;
}

std::size_t FakeResolver::askedFor(const std::string& name) {
    const std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count(asked.begin(), asked.end(), name));
}

void FakeResolver::hold(const std::string& name) {
    const std::lock_guard lock(mutex_);
    held_.insert(name);
}

void FakeResolver::release(const std::string& name) {
    const std::lock_guard lock(mutex_);
    held_.erase(name);
    changed_.notify_all();
}

bool FakeResolver::waiting(const std::string& name) {
    const std::lock_guard lock(mutex_);
    return waiting_.contains(name);
}

std::optional<platform::HostEntry> FakeResolver::hostByAddress(const platform::Ipv4& address) {
    auto it = byAddress.find(address);
    if (it == byAddress.end())
        return std::nullopt;
    return platform::HostEntry{it->second, {address}};
}

std::vector<std::uint8_t> FakeNeighbourTable::hardwareAddress(const platform::Ipv4& address) {
    auto it = table.find(address);
    return it == table.end() ? std::vector<std::uint8_t>{} : it->second;
}

platform::DatagramSocket::Opened FakeDatagramSocket::open(std::uint16_t port) {
    log_.push_back("socket.open");
    if (failCreate)
        return {Failure::Create, createError};
    open_ = true;
    if (failBind)
        return {Failure::Bind, 98}; // EADDRINUSE: another copy holds the port
    boundPort = port;
    return {};
}

void FakeDatagramSocket::notifyReadable(std::function<void()> onReadable) {
    log_.push_back("socket.notify");
    onReadable_ = std::move(onReadable);
}

long FakeDatagramSocket::sendTo(const platform::Ipv4& address, std::uint16_t port,
                                std::span<const std::uint8_t> data) {
    if (!open_ || address == platform::Ipv4{255, 255, 255, 255})
        return -1;
    sent.push_back({address, port, {data.begin(), data.end()}});
    return static_cast<long>(data.size());
}

long FakeDatagramSocket::receive(std::span<std::uint8_t> buffer, platform::Ipv4& from) {
    if (!open_ || queue_.empty())
        return -1;
    std::vector<std::uint8_t> datagram = std::move(queue_.front().first);
    from = queue_.front().second;
    queue_.pop_front();
    if (datagram.size() > buffer.size())
        return -1;
    std::copy(datagram.begin(), datagram.end(), buffer.begin());
    return static_cast<long>(datagram.size());
}

void FakeDatagramSocket::close() {
    log_.push_back("socket.close");
    open_ = false;
}

void FakeDatagramSocket::deliver(std::vector<std::uint8_t> datagram, platform::Ipv4 from) {
    queue_.emplace_back(std::move(datagram), from);
    if (open_ && onReadable_)
        onReadable_();
}

std::uint32_t FakeMessenger::send(const std::string& to, const std::string& from,
                                  const std::string& text) {
    messages.push_back({to, from, text});
    if (throws)
        throw std::invalid_argument("messenger name too long or with a zero byte");
    return result;
}

bool FakeCommandRunner::start(const platform::CommandLine& command) {
    started.push_back(command);
    return starts;
}

platform::CommandResult FakeCommandRunner::run(const platform::CommandLine& command,
                                               const platform::ChildEnvironment& environment) {
    const std::lock_guard lock(mutex_);
    runs_.push_back({command, environment});
    if (command.arguments.size() > 4) {
        const auto scripted = results.find(command.arguments[4]);
        if (scripted != results.end())
            return scripted->second;
    }
    return {true, 0, {}};
}

std::vector<FakeCommandRunner::Run> FakeCommandRunner::runs() const {
    const std::lock_guard lock(mutex_);
    return runs_;
}

desktop::Keyring::Answer FakeKeyring::read(const QString& key) {
    Answer answer;
    answer.error = failure;
    if (!failure.isEmpty())
        return answer;
    const auto held = secrets.find(key);
    answer.ok = held != secrets.end();
    answer.missing = !answer.ok;
    if (answer.ok)
        answer.secret = held->second;
    return answer;
}

desktop::Keyring::Answer FakeKeyring::write(const QString& key, const QString& secret) {
    Answer answer;
    answer.error = failure;
    if (!failure.isEmpty())
        return answer;
    secrets[key] = secret;
    answer.ok = true;
    return answer;
}

bool FakeTrayIcon::add(const QIcon&, const QString& newTip) {
    log_.push_back("tray.add");
    visible = hostUp;
    tip = newTip;
    return visible;
}

void FakeTrayIcon::remove() {
    log_.push_back("tray.remove");
    visible = false;
}

std::uint16_t FakeHotKeys::grab(const std::string& name, int modifiers, int key) {
    log_.push_back("hotkey.grab");
    const std::uint16_t id = static_cast<std::uint16_t>(0xC000 + names.size());
    names[id] = name;
    registered[id] = {modifiers, key};
    return id;
}

void FakeHotKeys::release(std::uint16_t id) {
    log_.push_back("hotkey.release");
    registered.erase(id);
    names.erase(id);
}

void FakeTaskbarButton::hide(QWidget& window) {
    log_.push_back("taskbar.hide");
    hidden = &window;
}

bool FakeHelpViewer::closeWindowTitled(const QString& title) {
    log_.push_back("help.close:" + title.toStdString());
    const bool closed = openWindows > 0;
    openWindows = 0;
    return closed;
}

bool FakeHelpViewer::open(const std::string& path) {
    log_.push_back("help.open");
    opened.push_back(path);
    if (fileExists)
        ++openWindows;
    return fileExists;
}

void FakeMessageBoxes::show(QWidget*, const QString& text) {
    log_.push_back("message:" + text.toStdString());
    shown << text;
}

std::vector<bool> FakePresenceProber::probe(const std::vector<platform::PresenceTarget>& targets) {
    const std::lock_guard lock(mutex_);
    rounds_.push_back(targets);
    std::vector<bool> answered;
    for (const platform::PresenceTarget& target : targets)
        answered.push_back(online_.count(target) != 0);
    return answered;
}

void FakePresenceProber::setOnline(std::set<platform::PresenceTarget> targets) {
    const std::lock_guard lock(mutex_);
    online_ = std::move(targets);
}

std::vector<std::vector<platform::PresenceTarget>> FakePresenceProber::rounds() const {
    const std::lock_guard lock(mutex_);
    return rounds_;
}

std::size_t FakePresenceProber::queriesSent() const {
    const std::lock_guard lock(mutex_);
    std::size_t sent = 0;
    for (const auto& round : rounds_)
        sent += round.size();
    return sent;
}

FakePlatform::FakePlatform() {
    // A network without providers unless a test scripts one.
    network.script(FakeNetworkEnumerator::TopLevel, {});
    platform_.system = &system;
    platform_.resolver = &resolver;
    platform_.neighbours = &neighbours;
    platform_.probeSocket = &socket;
    platform_.messenger = &messenger;
    platform_.commands = &commands;
    platform_.keyring = &keyring;
    platform_.network = &network;
    platform_.presence = &presence;
    platform_.tray = &tray;
    platform_.hotKeys = &hotKeys;
    platform_.taskbar = &taskbar;
    platform_.help = &help;
    platform_.messages = &messages;
    platform_.notifications = &notifications;
}

} // namespace lanquill::fakes
