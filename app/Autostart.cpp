#include "app/Autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <stdexcept>

namespace lanquill::app {

namespace {

void refuseControlCharacters(const QString& path) {
    for (const QChar c : path)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            throw std::invalid_argument(
                QCoreApplication::translate("lanquill::app::Autostart",
                                            "开机启动: a path with control characters cannot be "
                                            "written to a desktop entry: %1")
                    .arg(path)
                    .toStdString());
}

// A desktop entry's string value: the backslash is its escape character.
QString entryString(QString value) {
    return value.replace(u'\\', QStringLiteral("\\\\"));
}

// An Exec argument: quoted when it holds anything but the plainest characters, with ", `, $ and
// \ escaped inside the quotes and % doubled (it starts field codes); then escaped again as a
// string value.
QString execArgument(const QString& argument) {
    bool plain = !argument.isEmpty();
    for (const QChar c : argument)
        plain = plain && (c.isLetterOrNumber() || QStringLiteral("/._-+").contains(c));
    if (plain)
        return argument;
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (QStringLiteral("\"`$\\").contains(c))
            quoted += u'\\';
        else if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    return entryString(quoted + u'"');
}

// The Exec line that starts `program`. GLib (gnome-session, and whatever else reads autostart
// through GIO) looks for the program under the Exec line's spelling before it expands field
// codes, so a path written with %% is looked for literally, not found, and the entry is skipped
// as one whose program is missing. Such a path goes to a shell as an argument instead: the shell
// is found, and the path reaches it with its %% expanded.
QString execLine(const QString& program) {
    if (!program.contains(u'%'))
        return execArgument(program);
    return QStringLiteral("/bin/sh -c ") + execArgument(QStringLiteral("exec \"$0\"")) + u' ' +
           execArgument(program);
}

} // namespace

QString autostartPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/lanquill.desktop");
}

bool autostartEnabled() {
    return QFileInfo::exists(autostartPath());
}

QString autostartEntry(const QString& program, const QString& directory) {
    refuseControlCharacters(program);
    refuseControlCharacters(directory);
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Lanquill\n"
                          "Icon=lanquill\n"
                          "Exec=%1\n"
                          "Path=%2\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(execLine(program), entryString(directory));
}

void setAutostart(bool enabled, const QString& program, const QString& directory) {
    const QString path = autostartPath();
    if (!enabled) {
        if (QFile::exists(path) && !QFile::remove(path))
            throw std::runtime_error(QCoreApplication::translate("lanquill::app::Autostart",
                                                                 "开机启动: cannot remove %1")
                                         .arg(path)
                                         .toStdString());
        return;
    }
    const QString entry = autostartEntry(program, directory);
    QSaveFile file(path);
    if (!QDir().mkpath(QFileInfo(path).path()) || !file.open(QIODevice::WriteOnly) ||
        file.write(entry.toUtf8()) < 0 || !file.commit())
        throw std::runtime_error(
            QCoreApplication::translate("lanquill::app::Autostart", "开机启动: cannot write %1: %2")
                .arg(path, file.errorString())
                .toStdString());
}

} // namespace lanquill::app
