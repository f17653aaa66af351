#include "fakes/FakeMainWindow.h"

#include "support/Files.h"

namespace lanquill::fakes {

FakeMainWindow::FakeMainWindow(const std::string& book) {
    configPath = dir.filePath(QStringLiteral("config.xml")).toStdString();
    testsupport::writeFile(configPath, book);
    doc = std::make_unique<contacts::XmlDocument>();
    doc->load(configPath);
}

void FakeMainWindow::LoadXMLFile(const std::string& path) {
    ++reloads;
    doc = std::make_unique<contacts::XmlDocument>();
    doc->load(path);
}

bool FakeMainWindow::SendUDPData(const std::string& ip) {
    queried.push_back(ip);
    return sendSucceeds;
}

void FakeMainWindow::onNodeStatusReply(QObject* context, std::function<void()> listener) {
    replyListeners_.emplace_back(context, std::move(listener));
}

void FakeMainWindow::reply(const std::string& from, net::NodeStatusResults values) {
    results = std::move(values);
    results.NbReplyFrom = from;
    results.NbReplyReceived = true;
    for (const auto& [context, listener] : replyListeners_)
        if (context)
            listener();
}

std::string FakeMainWindow::fileText() const {
    return testsupport::readFile(configPath).value_or("<cannot open>");
}

} // namespace lanquill::fakes
