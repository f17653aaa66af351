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

std::string FakeMainWindow::fileText() const {
    return testsupport::readFile(configPath).value_or("<cannot open>");
}

} // namespace lanquill::fakes
