// Fakes of every platform layer, recording what the program asks of them in one shared log so
// that tests can check the order of start-up and shutdown.
#pragma once

#include "desktop/Desktop.h"
#include "fakes/FakeNetworkEnumerator.h"

#include <QIcon>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace lanquill::fakes {

using Log = std::vector<std::string>;

class FakeSystemInfo : public platform::SystemInfo {
public:
    explicit FakeSystemInfo(Log& log) : log_(log) {}
    std::string currentDirectory() override;
    std::string hostName() override { return host; }
    std::string computerName() override { return computer; }
    std::string programDirectory() override { return programDir; }
    std::vector<platform::Ipv4> interfaceAddresses() override { return interfaces; }

    std::string directory = "/tmp";
    int directoryError = 0; // non-zero: currentDirectory() throws this code
    std::string host = "pc-07";
    std::string computer = "PC-07";
    std::string programDir = "/usr/bin";
    std::vector<platform::Ipv4> interfaces = {{192, 168, 1, 70}};

private:
    Log& log_;
};

class FakeResolver : public platform::Resolver {
public:
    std::optional<platform::HostEntry> hostByName(const std::string& name) override;
    std::optional<platform::HostEntry> hostByAddress(const platform::Ipv4& address) override;

    std::map<std::string, platform::HostEntry> byName; // exact name
    std::map<platform::Ipv4, std::string> byAddress;
    std::vector<std::string> asked;

    // A resolver slow to answer: a lookup of `name` waits until release(name) (20 s at most).
    void hold(const std::string& name);
    void release(const std::string& name);
    // Whether a lookup of `name` is waiting now.
    bool waiting(const std::string& name);
    // How many lookups of `name` were asked so far (others may be asking on their threads: the
    // window's caption looks up the host name beside everything else).
    std::size_t askedFor(const std::string& name);

private:
    // Lookups come from the threads that keep the GUI responsive, one beside another.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::set<std::string> held_;
    std::multiset<std::string> waiting_;
};

class FakeNeighbourTable : public platform::NeighbourTable {
public:
    std::vector<std::uint8_t> hardwareAddress(const platform::Ipv4& address) override;
    std::map<platform::Ipv4, std::vector<std::uint8_t>> table;
};

class FakeDatagramSocket : public platform::DatagramSocket {
public:
    explicit FakeDatagramSocket(Log& log) : log_(log) {}
    Opened open(std::uint16_t port) override;
    void notifyReadable(std::function<void()> onReadable) override;
    long sendTo(const platform::Ipv4& address, std::uint16_t port,
                std::span<const std::uint8_t> data) override;
    long receive(std::span<std::uint8_t> buffer, platform::Ipv4& from) override;
    void close() override;
    bool isOpen() const override { return open_; }

    // Queues a datagram from `from` and tells the program it is there, as the socket notifier
    // would.
    void deliver(std::vector<std::uint8_t> datagram, platform::Ipv4 from = {192, 168, 0, 9});

    bool failCreate = false;
    int createError = 24;
    bool failBind = false;
    std::uint16_t boundPort = 0;
    struct Sent {
        platform::Ipv4 address;
        std::uint16_t port;
        std::vector<std::uint8_t> data;
    };
    std::vector<Sent> sent;

private:
    Log& log_;
    bool open_ = false;
    std::function<void()> onReadable_;
    std::deque<std::pair<std::vector<std::uint8_t>, platform::Ipv4>> queue_;
};

class FakeMessenger : public platform::Messenger {
public:
    std::uint32_t send(const std::string& to, const std::string& from,
                       const std::string& text) override;
    struct Message {
        std::string to, from, text;
    };
    std::vector<Message> messages;
    std::uint32_t result = platform::messenger::Success;
    bool throws = false; // a layer below failing unexpectedly
};

class FakeCommandRunner : public platform::CommandRunner {
public:
    bool start(const platform::CommandLine& command) override;
    std::vector<platform::CommandLine> started;
    bool starts = true;

    // Runs come from threads beside the GUI's, several at once: guarded.
    platform::CommandResult run(const platform::CommandLine& command,
                                const platform::ChildEnvironment& environment) override;
    struct Run {
        platform::CommandLine command;
        platform::ChildEnvironment environment;
    };
    std::vector<Run> runs() const;
    // The result of a run whose fifth argument (the computer) is the key; exit 0 otherwise.
    std::map<std::string, platform::CommandResult> results;

private:
    mutable std::mutex mutex_;
    std::vector<Run> runs_;
};

class FakeKeyring : public desktop::Keyring {
public:
    Answer read(const QString& key) override;
    Answer write(const QString& key, const QString& secret) override;
    std::map<QString, QString> secrets;
    QString failure; // not empty: the keyring cannot be reached, with this error
};

// Answers at once from `online`; called off the GUI thread, so guarded.
class FakePresenceProber : public platform::PresenceProber {
public:
    std::vector<bool> probe(const std::vector<platform::PresenceTarget>& targets) override;
    void setOnline(std::set<platform::PresenceTarget> targets);
    // The targets of each round asked so far.
    std::vector<std::vector<platform::PresenceTarget>> rounds() const;
    std::size_t queriesSent() const; // over all rounds: one per target

private:
    mutable std::mutex mutex_;
    std::set<platform::PresenceTarget> online_;
    std::vector<std::vector<platform::PresenceTarget>> rounds_;
};

class FakeTrayIcon : public desktop::TrayIcon {
public:
    explicit FakeTrayIcon(Log& log) : log_(log) {}
    bool add(const QIcon& icon, const QString& tip) override;
    void remove() override;
    void update(const QIcon& newIcon, const QString& newTip) override {
        icon = newIcon;
        tip = newTip;
    }
    void showMessage(const QString& title, const QString& text) override {
        notes.push_back(title + QStringLiteral(": ") + text);
    }
    // A tray host comes up after the icon was added without one.
    void hostAppears() {
        visible = true;
        shown();
    }

    bool hostUp = true;
    bool visible = false;
    QString tip;
    QIcon icon;
    QStringList notes;

private:
    Log& log_;
};

class FakeHotKeys : public desktop::HotKeys {
public:
    explicit FakeHotKeys(Log& log) : log_(log) {}
    std::uint16_t grab(const std::string& name, int modifiers, int key) override;
    void release(std::uint16_t id) override;
    void press(std::uint16_t id) { pressed(id); }

    struct Registration {
        int modifiers;
        int key;
    };
    std::map<std::uint16_t, Registration> registered;
    std::map<std::uint16_t, std::string> names;

private:
    Log& log_;
};

class FakeTaskbarButton : public desktop::TaskbarButton {
public:
    explicit FakeTaskbarButton(Log& log) : log_(log) {}
    void hide(QWidget& window) override;
    QWidget* hidden = nullptr;

private:
    Log& log_;
};

class FakeHelpViewer : public desktop::HelpViewer {
public:
    explicit FakeHelpViewer(Log& log) : log_(log) {}
    bool closeWindowTitled(const QString& title) override;
    bool open(const std::string& path) override;
    std::vector<std::string> opened;
    int openWindows = 0;
    bool fileExists = true;

private:
    Log& log_;
};

class FakeMessageBoxes : public desktop::MessageBoxes {
public:
    explicit FakeMessageBoxes(Log& log) : log_(log) {}
    void show(QWidget* parent, const QString& text) override;
    QStringList shown;

private:
    Log& log_;
};

class FakeNotifications : public desktop::Notifications {
public:
    void notify(const QString& summary, const QString& body, std::function<void()> onOpen,
                const Options& options) override {
        raised.push_back({summary, body, std::move(onOpen), options});
    }
    struct Raised {
        QString summary, body;
        std::function<void()> onOpen;
        Options options;
    };
    std::vector<Raised> raised;
};

// A whole set; `platform()` hands it out.
class FakePlatform {
public:
    FakePlatform();
    const desktop::Platform& platform() const { return platform_; }
    desktop::Platform& platform() { return platform_; }

    Log log;
    FakeSystemInfo system{log};
    FakeResolver resolver;
    FakeNeighbourTable neighbours;
    FakeDatagramSocket socket{log};
    FakeMessenger messenger;
    FakeCommandRunner commands;
    FakeNetworkEnumerator network;
    FakePresenceProber presence;
    FakeTrayIcon tray{log};
    FakeHotKeys hotKeys{log};
    FakeTaskbarButton taskbar{log};
    FakeHelpViewer help{log};
    FakeMessageBoxes messages{log};
    FakeNotifications notifications;
    FakeKeyring keyring;

private:
    desktop::Platform platform_;
};

} // namespace lanquill::fakes
