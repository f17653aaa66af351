// The main window's services for dialog tests: fake platform layers, a contact book in a
// temporary folder, node-status results the test sets, and a count of reloads.
#pragma once

#include "dialogs/MainWindowServices.h"
#include "fakes/FakePlatform.h"

#include <QTemporaryDir>

#include <memory>

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

    std::string fileText() const; // config.xml as it is on disk

    FakePlatform fake;
    QTemporaryDir dir;
    std::string configPath;
    std::unique_ptr<contacts::XmlDocument> doc;
    net::NodeStatusResults results;
    std::vector<std::string> queried; // addresses SendUDPData was given
    bool sendSucceeds = true;
    int reloads = 0;
};

} // namespace lanquill::fakes
