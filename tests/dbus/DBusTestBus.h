// What the tests on a private session bus need before they can run, shared by them.
#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>

namespace lanquill::testsupport {

// Empty when the session bus is up and Debian's python3 has the D-Bus modules the fake servers
// use; otherwise why the tests cannot run.
inline QString dbusTestsCannotRun() {
    if (!QDBusConnection::sessionBus().isConnected())
        return QStringLiteral("needs a session bus: run under dbus-run-session");
    QProcess probe;
    probe.start(QStringLiteral(LANQUILL_PYTHON),
                {QStringLiteral("-c"), QStringLiteral("import dbus, gi")});
    if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
        return QStringLiteral("needs python3-dbus and python3-gi: scripts/deps.sh --test");
    return {};
}

} // namespace lanquill::testsupport
