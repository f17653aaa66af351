#include "support/BookFiles.h"

#include "contacts/XmlDocument.h"
#include "support/Files.h"

#include <QTest>

namespace lanquill::testsupport {

namespace {

QString computerLine(const contacts::XmlNode& computer) {
    QString line = QString::fromStdString(computer.getAttribute("id")) + "[";
    const contacts::XmlNodeList fields = computer.childNodes();
    for (int f = 0; f < fields.length(); ++f)
        line +=
            QString::fromStdString(fields.item(f).nodeName() + "=" + fields.item(f).text() + ";");
    return line + "]";
}

} // namespace

QByteArray fileBytes(const std::string& path) {
    return QByteArray::fromStdString(readFile(path).value_or("<cannot open>"));
}

void writeBytes(const std::string& path, const QByteArray& bytes) {
    QVERIFY2(writeFile(path, bytes.toStdString()), path.c_str());
}

QStringList bookOnDisk(const std::string& path) {
    contacts::XmlDocument doc;
    doc.load(path);
    QStringList lines;
    const contacts::XmlNodeList groups = doc.documentElement().childNodes();
    for (int g = 0; g < groups.length(); ++g) {
        QString line = QString::fromStdString(groups.item(g).getAttribute("id")) + ":";
        const contacts::XmlNodeList members = groups.item(g).childNodes();
        for (int c = 0; c < members.length(); ++c)
            line += QStringLiteral(" ") + computerLine(members.item(c));
        lines << line;
    }
    return lines;
}

QStringList groupOnDisk(const std::string& path, const std::string& group) {
    contacts::XmlDocument doc;
    doc.load(path);
    QStringList lines;
    const contacts::XmlNodeList groups = doc.documentElement().childNodes();
    for (int g = 0; g < groups.length(); ++g) {
        if (groups.item(g).getAttribute("id") != group)
            continue;
        const contacts::XmlNodeList members = groups.item(g).childNodes();
        for (int c = 0; c < members.length(); ++c)
            lines << computerLine(members.item(c));
    }
    return lines;
}

} // namespace lanquill::testsupport
