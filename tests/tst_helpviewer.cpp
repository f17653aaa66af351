// The help viewer: a help file opens in a window titled with its title, help chosen again
// replaces the window, and a damaged help file (one that makes chmlib divide by zero) cannot
// take the program down with it.
#include "desktop/ChmHelpViewer.h"
#include "support/BookFiles.h"
#include "support/Files.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using lanquill::desktop::ChmHelpViewer;
namespace testsupport = lanquill::testsupport;

class TestHelpViewer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void helpFiles_data();
    void helpFiles();
};

void TestHelpViewer::helpFiles_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("opens");
    QTest::newRow("the program's help") << "good" << true;
    QTest::newRow("LZX window size zeroed") << "damaged" << true;
    QTest::newRow("missing") << "missing" << false;
}

void TestHelpViewer::helpFiles() {
    QFETCH(QString, file);
    QFETCH(bool, opens);
    QTemporaryDir dir;
    const std::string path = dir.filePath("LANQUILL.CHM").toStdString();
    QByteArray chm = testsupport::fileBytes(LANQUILL_BIN_DIR "/LANQUILL.CHM");
    QVERIFY(!chm.isEmpty());
    if (file == "damaged") {
        // The compression's control data: "LZXC", version, reset interval, window size.
        const qsizetype lzxc = chm.indexOf("LZXC");
        QVERIFY(lzxc > 0);
        chm.replace(lzxc + 12, 4, QByteArray(4, '\0'));
    }
    if (file != "missing")
        testsupport::writeBytes(path, chm);

    // The viewer on its own: the real help shows, titled; the damaged file ends the viewer.
    QProcess alone;
    alone.start(LANQUILL_BIN_DIR "/lanquill-help", {QString::fromStdString(path)});
    if (file == "good") {
        QVERIFY(alone.waitForReadyRead());
        QCOMPARE(alone.readLine(), QByteArray("Lanquill 2.0\n"));
        alone.terminate();
    }
    QVERIFY(alone.waitForFinished());
    // Killed by the signal, or, in a sanitizer build, ended by the sanitizer's report of it.
    if (file == "damaged")
        QVERIFY(alone.exitStatus() == QProcess::CrashExit || alone.exitCode() != 0);

    ChmHelpViewer viewer;
    for (int round = 0; round < 2; ++round) {
        viewer.closeWindowTitled("Lanquill 2.0");
        QCOMPARE(viewer.open(path), opens);
    }
    // Whatever the viewer met, this process goes on, and the real help still opens.
    testsupport::writeBytes(path, testsupport::fileBytes(LANQUILL_BIN_DIR "/LANQUILL.CHM"));
    viewer.closeWindowTitled("Lanquill 2.0");
    QVERIFY(viewer.open(path));
    QVERIFY(viewer.closeWindowTitled("Lanquill 2.0"));
    QVERIFY(!viewer.closeWindowTitled("Lanquill 2.0"));
}

QTEST_MAIN(TestHelpViewer)
#include "tst_helpviewer.moc"
