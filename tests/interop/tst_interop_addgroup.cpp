// The add-group dialog on the real platform layers against two Samba computers of one
// workgroup, the first its master browser (or, on a routed LAN, the second beyond the router and
// a domain master browser listing both): the workgroup list and the check-list come from the
// real neighbourhood, and what OK writes into config.xml carries the addresses that NetBIOS
// name queries give. Runs inside the client namespace that run_addgroup.sh makes, which passes
// the workgroup and the peers in LQ_* variables.
#include "contacts/XmlDocument.h"
#include "desktop/Desktop.h"
#include "desktop/ErrorReport.h"
#include "dialogs/MainWindowServices.h"
#include "dialogs/dlgAddGroup.h"
#include "support/BookFiles.h"
#include "ui_dlgAddGroup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <memory>

using namespace lanquill;
using testsupport::bookOnDisk;

namespace {

QString env(const char* name) {
    return QString::fromLocal8Bit(qgetenv(name));
}

// True inside the client namespace the harness made (named LQ_NS_CLIENT, bound under
// /run/netns by `ip netns add`): the real layers broadcast name queries and sweep the subnet,
// which they may only do there. /proc/1/ns/net cannot serve as the reference: a container may
// refuse to show it even to root.
bool inHarnessNamespace() {
    const QByteArray name = qgetenv("LQ_NS_CLIENT");
    if (name.isEmpty() || name.contains('/'))
        return false;
    struct stat own {};
    struct stat made {};
    if (::stat("/proc/self/ns/net", &own) != 0 ||
        ::stat(("/run/netns/" + name).constData(), &made) != 0)
        return false;
    return own.st_ino == made.st_ino && own.st_dev == made.st_dev;
}

// The main window's services on the real platform: the real enumerator, resolver and the rest,
// and a contact book of its own in a temporary folder.
class RealMainWindow : public dialogs::MainWindowServices {
public:
    explicit RealMainWindow(std::string path) : configPath_(std::move(path)) {
        LoadXMLFile(configPath_);
    }
    const desktop::Platform& platform() const override { return real_.platform(); }
    contacts::XmlDocument& XMLDoc() override { return *doc_; }
    const std::string& ConfigPath() const override { return configPath_; }
    void LoadXMLFile(const std::string& path) override {
        doc_ = std::make_unique<contacts::XmlDocument>();
        doc_->load(path);
    }
    // The add-group dialog probes nobody.
    bool SendUDPData(const std::string&) override { return false; }
    const net::NodeStatusResults& nodeStatus() const override { return results_; }
    void onNodeStatusReply(QObject*, std::function<void()>) override {}

private:
    desktop::RealPlatform real_;
    std::string configPath_;
    std::unique_ptr<contacts::XmlDocument> doc_;
    net::NodeStatusResults results_;
};

QString entry(const QString& name, const QString& address) {
    return QStringLiteral(" %1[ComputerName=%1;UserName=;IpAddress=%2;Memo=;]").arg(name, address);
}

QStringList itemsOf(const QComboBox& box) {
    QStringList items;
    for (int i = 0; i < box.count(); ++i)
        items << box.itemText(i);
    return items;
}

QStringList linesOf(const QListWidget& list, Qt::CheckState state) {
    QStringList lines;
    for (int i = 0; i < list.count(); ++i) {
        if (list.item(i)->checkState() == state)
            lines << list.item(i)->text();
    }
    return lines;
}

} // namespace

class TestInteropAddGroup : public QObject {
    Q_OBJECT

    QString workgroup_ = env("LQ_WORKGROUP");
    QString peer_ = env("LQ_PEER_NAME");
    QString peerAddress_ = env("LQ_PEER_ADDR");
    QString peer2_ = env("LQ_PEER2_NAME");
    QString peer2Address_ = env("LQ_PEER2_ADDR");
    // Further computers the neighbourhood lists (a master browser that is no peer here).
    QStringList alsoListed_ = env("LQ_ALSO_LISTED").split(' ', Qt::SkipEmptyParts);
    QTemporaryDir dir_;
    std::unique_ptr<RealMainWindow> main_;
    std::unique_ptr<dialogs::TdlgAddNewGroup> dialog_;
    QStringList errors_;
    QStringList unexpectedModals_;
    QTimer modalWatch_;

    Ui::dlgAddGroup& ui() { return dialog_->ui(); }
    std::string configPath() const { return dir_.filePath("config.xml").toStdString(); }

    // Opens the dialog as the user sees it and picks the workgroup from its list with the
    // keyboard; the check-list then holds the workgroup's computers.
    void openAndPickWorkgroup() {
        QElapsedTimer timer;
        timer.start();
        dialog_ = std::make_unique<dialogs::TdlgAddNewGroup>(*main_, nullptr);
        dialog_->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
        // Both lists fill off the GUI thread: the workgroups once the dialog is up, the
        // computers once typing has paused.
        QTRY_COMPARE_WITH_TIMEOUT(itemsOf(*ui().cbGroupName), QStringList{workgroup_}, 10000);
        const qint64 groupsMs = timer.restart();
        QVERIFY(ui().cbGroupName->currentText().isEmpty());
        QCOMPARE(ui().clbComputer->count(), 0);
        ui().cbGroupName->setFocus();
        QTest::keyClick(ui().cbGroupName, Qt::Key_Down);
        QCOMPARE(ui().cbGroupName->currentText(), workgroup_);
        QStringList listed = QStringList{peer_, peer2_} + alsoListed_;
        listed.sort(Qt::CaseInsensitive);
        QTRY_COMPARE_WITH_TIMEOUT(linesOf(*ui().clbComputer, Qt::Unchecked), listed, 10000);
        qInfo("workgroups listed in %lld ms, computers in %lld ms", groupsMs, timer.elapsed());
    }

    // Toggles the tick of `name`'s line with the space bar, as a keyboard user does.
    void toggle(const QString& name) {
        const auto found = ui().clbComputer->findItems(name, Qt::MatchExactly);
        QCOMPARE(found.size(), 1);
        const Qt::CheckState before = found[0]->checkState();
        ui().clbComputer->setFocus();
        ui().clbComputer->setCurrentItem(found[0]);
        QTest::keyClick(ui().clbComputer->viewport(), Qt::Key_Space);
        QVERIFY(found[0]->checkState() != before);
    }

private Q_SLOTS:
    void initTestCase() {
        if (peer2Address_.isEmpty() || !inHarnessNamespace())
            QSKIP("no Samba peers in a private namespace: run through "
                  "tests/interop/run_addgroup.sh");
        QVERIFY(!workgroup_.isEmpty() && !peer_.isEmpty() && !peer2_.isEmpty() &&
                !peerAddress_.isEmpty());
        QVERIFY(dir_.isValid());
        testsupport::writeBytes(configPath(), "<Lanquill/>");

        desktop::setErrorSink([this](const QString& text) { errors_ << text; });
        // A message box would wait for a click that never comes: close any modal window, and
        // remember it as a failure.
        connect(&modalWatch_, &QTimer::timeout, this, [this] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                unexpectedModals_ << modal->metaObject()->className();
                modal->close();
            }
        });
        modalWatch_.start(100);
        main_ = std::make_unique<RealMainWindow>(configPath());
    }

    void cleanup() {
        dialog_.reset();
        QVERIFY2(errors_.isEmpty(), qPrintable(errors_.join('\n')));
        QVERIFY2(unexpectedModals_.isEmpty(), qPrintable(unexpectedModals_.join(' ')));
    }

    void cleanupTestCase() {
        main_.reset();
        desktop::setErrorSink(nullptr);
    }

    // An empty book: OK, the default button, with the two peers ticked writes the workgroup
    // with both in list order, their addresses found by NetBIOS name queries (what OK adds to a
    // group already in the book, tst_dlgAddGroup checks).
    void bothPeersIntoANewGroup() {
        openAndPickWorkgroup();
        QTest::mouseClick(ui().cbSelectAll, Qt::LeftButton);
        QCOMPARE(linesOf(*ui().clbComputer, Qt::Checked).size(), 2 + alsoListed_.size());
        for (const QString& name : alsoListed_ + QStringList{peer2_, peer2_})
            toggle(name); // the space bar unticks, and ticks again
        QStringList peers{peer_, peer2_};
        peers.sort(Qt::CaseInsensitive);
        QCOMPARE(linesOf(*ui().clbComputer, Qt::Checked), peers);
        QTest::keyClick(ui().clbComputer, Qt::Key_Return);
        QCOMPARE(dialog_->result(), int(QDialog::Accepted));
        QVERIFY(!dialog_->isVisible());
        QString line = workgroup_ + ":";
        for (const QString& name : peers)
            line += entry(name, name == peer_ ? peerAddress_ : peer2Address_);
        QCOMPARE(bookOnDisk(configPath()), QStringList{line});
    }
};

QTEST_MAIN(TestInteropAddGroup)
#include "tst_interop_addgroup.moc"
