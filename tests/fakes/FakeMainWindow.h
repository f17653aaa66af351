// The main window's services for dialog tests: fake platform layers, a contact book in a
// temporary folder, node-status results the test sets, and a count of reloads.
#pragma once

#include "desktop/ErrorReport.h"
#include "dialogs/MainWindowServices.h"
#include "fakes/FakePlatform.h"

#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <utility>
#include <vector>

namespace lanquill::fakes {

class FakeMainWindow : public dialogs::MainWindowServices {
public:
    // `book`: the text of config.xml to start with (written to the temporary folder and loaded).
    explicit FakeMainWindow(const std::string& book = "<Lanquill/>");

    const desktop::Platform& platform() const override { return fake.platform(); }
    contacts::XmlDocument& XMLDoc() override { return *doc; }
    const std::string& ConfigPath() const override { return configPath; }
    void LoadXMLFile(const std::string& path) override;
    bool SendUDPData(const std::string& ip) override;
    const net::NodeStatusResults& nodeStatus() const override { return results; }
    void onNodeStatusReply(QObject* context, std::function<void()> listener) override;
    void selectComputer(const std::string& GroupId, const std::string& ComputerId) override {
        selected.emplace_back(GroupId, ComputerId);
    }
    void messageSent(const inbox::Message& message) override { sent.push_back(message); }

    // A node-status reply from `from` reporting `values` has been decoded.
    void reply(const std::string& from, net::NodeStatusResults values);

    std::string fileText() const; // config.xml as it is on disk

    FakePlatform fake;
    QTemporaryDir dir;
    std::string configPath;
    std::unique_ptr<contacts::XmlDocument> doc;
    net::NodeStatusResults results;
    std::vector<std::string> queried; // addresses SendUDPData was given
    bool sendSucceeds = true;
    int reloads = 0;
    std::vector<std::pair<std::string, std::string>> selected; // selectComputer's arguments
    std::vector<inbox::Message> sent; // what the dialogs handed on for the history

private:
    std::vector<std::pair<QPointer<QObject>, std::function<void()>>> replyListeners_;
};

// What the dialog tests set up before each test and take down after it: a main window on the
// given book, the dialog under test (opened by the test) and the error reports collected.
template <class Dialog> class DialogFixture : public QObject {
protected:
    std::unique_ptr<FakeMainWindow> main_;
    std::unique_ptr<Dialog> dialog_;
    QStringList reports_;

    void setUpDialogTest(const std::string& book) {
        main_ = std::make_unique<FakeMainWindow>(book);
        reports_.clear();
        desktop::setErrorSink([this](const QString& text) { reports_ << text; });
    }
    void tearDownDialogTest() {
        dialog_.reset();
        desktop::setErrorSink(nullptr);
        main_.reset();
    }
};

} // namespace lanquill::fakes
