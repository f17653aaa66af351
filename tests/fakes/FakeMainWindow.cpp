#include "fakes/FakeMainWindow.h"

#include <fstream>
#include <sstream>

namespace lanquill::fakes {

FakeMainWindow::FakeMainWindow(const std::string& book) {
    configPath = dir.filePath(QStringLiteral("config.xml")).toStdString();
    std::ofstream(configPath, std::ios::binary) << book;
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
    std::ifstream in(configPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace lanquill::fakes
