// The global hot key through the desktop portal, over a real session bus against a fake portal:
// the portal is found only while it runs, Ctrl+Shift+Z is bound under the window's name for
// it, and the portal's activation restores the minimised main window.
#include "DBusTestBus.h"
#include "desktop/PortalHotKeys.h"
#include "support/MainFormFixture.h"

#include <QDBusConnection>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

using lanquill::desktop::PortalHotKeys;

class tst_portalhotkeys : public lanquill::fakes::MainFormFixture {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (const QString why = lanquill::testsupport::dbusTestsCannotRun(); !why.isEmpty())
            QSKIP(qPrintable(why));
    }
    void init() { resetFixture(); }
    void cleanup() { tearDownFixture(); }

    void bindsTheHotKeyAndItsActivationRestoresTheWindow() {
        QVERIFY(!PortalHotKeys::offered());
        const QString out = dir_.filePath(QStringLiteral("bound.jsonl"));
        QProcess portal;
        portal.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        portal.start(QStringLiteral(LANQUILL_PYTHON), {QStringLiteral(LANQUILL_PORTAL), out});
        QVERIFY(portal.waitForReadyRead(10000) && portal.readAll().contains("ready"));
        QVERIFY(PortalHotKeys::offered());

        PortalHotKeys hotKeys;
        fake_->platform().hotKeys = &hotKeys;
        createForm("<Lanquill><group id=\"WG\"/></Lanquill>");
        showForm();
        form_->showMinimized();
        QTRY_VERIFY(form_->isMinimized());

        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 10000);
        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject bound = QJsonDocument::fromJson(file.readLine()).object();
        const QJsonArray shortcuts = bound.value(QStringLiteral("shortcuts")).toArray();
        QCOMPARE(shortcuts.size(), 1);
        const QJsonObject shortcut = shortcuts.at(0).toObject();
        QCOMPARE(shortcut.value(QStringLiteral("id")).toString(), QStringLiteral("hotkey"));
        QCOMPARE(shortcut.value(QStringLiteral("preferred_trigger")).toString(),
                 QStringLiteral("CTRL+SHIFT+z"));

        QTRY_VERIFY_WITH_TIMEOUT(!form_->isMinimized(), 5000);
        form_->close();
        fake_->platform().hotKeys = &fake_->hotKeys;
        portal.kill();
        portal.waitForFinished();
    }
};

QTEST_MAIN(tst_portalhotkeys)
#include "tst_portalhotkeys.moc"
