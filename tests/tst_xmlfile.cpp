// The contact book operations: id matching, the shared search, and what each operation reads,
// changes and saves.
#include "contacts/BookEdit.h"
#include "contacts/XMLFile.h"
#include "contacts/XmlDocument.h"
#include "support/BookFiles.h"
#include "support/Files.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace lanquill::contacts;
namespace testsupport = lanquill::testsupport;

namespace {

// ids of the root's groups, or of a group's computers, in document order
QStringList idsOf(const XmlNode& parent) {
    QStringList ids;
    const XmlNodeList children = parent.childNodes();
    for (int i = 0; i < children.length(); ++i)
        ids << QString::fromStdString(children.item(i).getAttribute("id"));
    return ids;
}

QStringList namesOf(const XmlNode& parent) {
    QStringList names;
    const XmlNodeList children = parent.childNodes();
    for (int i = 0; i < children.length(); ++i)
        names << QString::fromStdString(children.item(i).nodeName());
    return names;
}

XmlNode child(const XmlNode& parent, int index) {
    return parent.childNodes().item(index);
}

// The sample book: WorkGroup{PC01, pc02}, "", (no id){}, Lab{}, WORKGROUP{PC03}.
void loadSample(XmlDocument& doc) {
    QCOMPARE(doc.load(testsupport::testDataPath("books/indented.xml")).kind,
             LoadOutcome::Kind::Loaded);
}

} // namespace

class TestXmlFile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void idMatching_data();
    void idMatching();
    void deleteComputer();
    void deleteGroup();
    void getComputerInfo();
    void setComputerInfo();
    void setComputerInfoRefusesBadValues();
    void addComputer();
    void computerInGroup_data();
    void computerInGroup();
    void twoProgramsOnOneBookLoseNothing();
};

void TestXmlFile::idMatching_data() {
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<bool>("match");
    QTest::newRow("letter case") << QByteArray("pc01") << QByteArray("PC01") << true;
    QTest::newRow("mixed case") << QByteArray("WorkGroup") << QByteArray("wORKgROUP") << true;
    QTest::newRow("digits and marks exact") << QByteArray("a-1_z") << QByteArray("A-1_Z") << true;
    QTest::newRow("different name") << QByteArray("pc01") << QByteArray("pc02") << false;
    QTest::newRow("prefix") << QByteArray("PC") << QByteArray("PC0") << false;
    QTest::newRow("empty ids") << QByteArray("") << QByteArray("") << true;
    // Only a..z fold: '@' (0x40) and '`' (0x60), '[' and '{' sit beside the letters.
    QTest::newRow("@ and `") << QByteArray("@") << QByteArray("`") << false;
    QTest::newRow("[ and {") << QByteArray("[") << QByteArray("{") << false;
    QTest::newRow("same Chinese") << QByteArray("研发部") << QByteArray("研发部") << true;
    QTest::newRow("Chinese with letters")
        << QByteArray("研发部a组") << QByteArray("研发部A组") << true;
    // 皐 and 癢 are B0 77 and B0 57 in GBK: byte folding of the old code page made them equal.
    QTest::newRow("GBK second byte w/W") << QByteArray("皐") << QByteArray("癢") << false;
    QTest::newRow("GBK first byte differs") << QByteArray("癢") << QByteArray("盬") << false;
    QTest::newRow("group-message caption") << QByteArray("群体消息") << QByteArray("PC01") << false;
    QTest::newRow("accented letters are not folded") << QByteArray("é") << QByteArray("É") << false;
}

void TestXmlFile::idMatching() {
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(bool, match);
    QCOMPARE(idsMatch(a.toStdString(), b.toStdString()), match);
    QCOMPARE(idsMatch(b.toStdString(), a.toStdString()), match);
    QCOMPARE(foldId(a.toStdString()) == foldId(b.toStdString()), match);
    // Folding never changes the length or a non-letter byte.
    const std::string folded = foldId(a.toStdString());
    QCOMPARE(folded.size(), std::size_t(a.size()));
    for (std::size_t i = 0; i < folded.size(); ++i) {
        const char original = a.at(static_cast<qsizetype>(i));
        if (original < 'a' || original > 'z')
            QCOMPARE(folded[i], original);
    }
}

void TestXmlFile::deleteComputer() {
    XmlDocument doc;
    loadSample(doc);
    const XmlNode root = doc.documentElement();
    // Case-insensitive on both ids; the stored id is not what we passed.
    QVERIFY(DeleteComputer(doc, "workgroup", "PC02"));
    QCOMPARE(idsOf(child(root, 0)), QStringList{"PC01"});
    QCOMPARE(idsOf(child(root, 4)), QStringList{"PC03"});

    // The computer lives only in the second group of the same id: found there.
    QVERIFY(DeleteComputer(doc, "WorkGroup", "pc03"));
    QCOMPARE(idsOf(child(root, 4)), QStringList{});
    QCOMPARE(idsOf(child(root, 0)), QStringList{"PC01"});

    // Nothing matches: false, nothing changes.
    const QStringList groupsBefore = idsOf(root);
    QVERIFY(!DeleteComputer(doc, "WorkGroup", "群体消息"));
    QVERIFY(!DeleteComputer(doc, "Nowhere", "PC01"));
    QVERIFY(!DeleteComputer(doc, "WorkGroup", "PC0"));
    QCOMPARE(idsOf(root), groupsBefore);
    QCOMPARE(idsOf(child(root, 0)), QStringList{"PC01"});

    // The group with an empty id is searched for an empty GroupId, the one without id too.
    QVERIFY(DeleteComputer(doc, "", "hidden"));
    QCOMPARE(idsOf(child(root, 1)), QStringList{});

    // A computer called like the group-message item is an ordinary computer.
    AddComputer(doc, "Lab", "群体消息", "群体消息", "", "", "");
    QVERIFY(DeleteComputer(doc, "lab", "群体消息"));
    QCOMPARE(idsOf(child(root, 3)), QStringList{});

    // Two computers of the same id: the first goes, the second stays.
    AddComputer(doc, "Lab", "TWIN", "TWIN", "first", "", "");
    AddComputer(doc, "Lab", "twin", "twin", "second", "", "");
    QVERIFY(DeleteComputer(doc, "LAB", "Twin"));
    std::string name, user, ip, memo;
    QVERIFY(GetComputerInfo(doc, "Lab", "TWIN", name, user, ip, memo));
    QCOMPARE(user, std::string("second"));
}

void TestXmlFile::deleteGroup() {
    XmlDocument doc;
    loadSample(doc);
    const XmlNode root = doc.documentElement();
    // A group of exactly that id goes before one that matches after folding; without one, the
    // first that matches goes, whatever its case.
    QVERIFY(DeleteGroup(doc, "WORKGROUP"));
    QCOMPARE(idsOf(root), (QStringList{"WorkGroup", "", "", "Lab"}));
    AddGroup(doc, "Tail");
    QVERIFY(DeleteGroup(doc, "workgroup"));
    QCOMPARE(idsOf(root), (QStringList{"", "", "Lab", "Tail"}));
    QVERIFY(!DeleteGroup(doc, "群体消息"));
    QVERIFY(!DeleteGroup(doc, "La"));
    QCOMPARE(root.childNodes().length(), 4);
    // An empty GroupId takes the first group with an empty or missing id.
    QVERIFY(DeleteGroup(doc, ""));
    QVERIFY(DeleteGroup(doc, ""));
    QVERIFY(!DeleteGroup(doc, ""));
    QCOMPARE(idsOf(root), (QStringList{"Lab", "Tail"}));
}

void TestXmlFile::getComputerInfo() {
    XmlDocument doc;
    loadSample(doc);
    std::string name = "caller", user = "caller", ip = "caller", memo = "caller";
    QVERIFY(GetComputerInfo(doc, "workgroup", "pc01", name, user, ip, memo));
    QCOMPARE(name, std::string("PC01"));
    QCOMPARE(user, std::string("alice"));
    QCOMPARE(ip, std::string("192.168.0.5"));
    QCOMPARE(memo, std::string("front desk"));
    QVERIFY(GetComputerInfo(doc, "WorkGroup", "PC03", name, user, ip, memo)); // second group
    QCOMPARE(memo, std::string("a <b> & c"));

    // No match keeps every output.
    name = user = ip = memo = "caller";
    QVERIFY(!GetComputerInfo(doc, "Lab", "PC01", name, user, ip, memo));
    QVERIFY(!GetComputerInfo(doc, "WorkGroup", "群体消息", name, user, ip, memo));
    QCOMPARE(name + user + ip + memo, std::string("callercallercallercaller"));

    // Missing elements keep the caller's values; a later duplicate wins; other names are
    // ignored; a computer without children is still found.
    XmlNode pc = child(child(doc.documentElement(), 0), 0);
    pc.removeChild(child(pc, 3)); // Memo
    XmlNode dup = doc.createElement("UserName");
    pc.appendChild(dup);
    dup.setText("later");
    XmlNode stray = doc.createElement("Memo2");
    pc.appendChild(stray);
    stray.setText("not a memo");
    memo = "kept";
    QVERIFY(GetComputerInfo(doc, "WorkGroup", "PC01", name, user, ip, memo));
    QCOMPARE(user, std::string("later"));
    QCOMPARE(memo, std::string("kept"));
    AddComputer(doc, "Lab", "BARE", "", "", "", "");
    XmlNode bare = child(child(doc.documentElement(), 3), 0);
    while (bare.lastChild())
        bare.removeChild(bare.lastChild());
    name = "caller";
    QVERIFY(GetComputerInfo(doc, "Lab", "bare", name, user, ip, memo));
    QCOMPARE(name, std::string("caller"));
}

void TestXmlFile::setComputerInfo() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string path = dir.filePath("config.xml").toStdString();
    XmlDocument doc;
    loadSample(doc);
    doc.save(path);

    // ComputerName becomes the id as given; the id attribute stays as stored.
    QVERIFY(SetComputerInfo(doc, path, "WORKGROUP", "pc01", "bob", "10.1.2.3", "新备注"));
    XmlDocument saved;
    QCOMPARE(saved.load(path).kind, LoadOutcome::Kind::Loaded);
    std::string name, user, ip, memo;
    QVERIFY(GetComputerInfo(saved, "WorkGroup", "PC01", name, user, ip, memo));
    QCOMPARE(name, std::string("pc01"));
    QCOMPARE(user, std::string("bob"));
    QCOMPARE(ip, std::string("10.1.2.3"));
    QCOMPARE(memo, std::string("新备注"));
    QCOMPARE(idsOf(child(saved.documentElement(), 0)), (QStringList{"PC01", "pc02"}));

    // A missing field is not created, and the file is saved all the same.
    XmlNode pc02 = child(child(doc.documentElement(), 0), 1);
    pc02.removeChild(child(pc02, 1)); // UserName
    QVERIFY(SetComputerInfo(doc, path, "WorkGroup", "PC02", "carol", "10.0.0.9", ""));
    QCOMPARE(namesOf(pc02), (QStringList{"ComputerName", "IpAddress", "Memo"}));
    QCOMPARE(saved.load(path).kind, LoadOutcome::Kind::Loaded);
    user = "unset";
    QVERIFY(GetComputerInfo(saved, "WorkGroup", "PC02", name, user, ip, memo));
    QCOMPARE(user, std::string("unset"));
    QCOMPARE(ip, std::string("10.0.0.9"));

    // A computer without any field element: nothing to change, but saved.
    XmlNode pc03 = child(child(doc.documentElement(), 4), 0);
    while (pc03.lastChild())
        pc03.removeChild(pc03.lastChild());
    QVERIFY(SetComputerInfo(doc, path, "WorkGroup", "PC03", "dave", "", ""));
    QVERIFY(!testsupport::fileBytes(path).contains("a &lt;b&gt;"));
    QCOMPARE(namesOf(pc03), QStringList{});

    // No match: false, and the file is neither written nor replaced.
    const QByteArray before = testsupport::fileBytes(path);
    const QDateTime mtime = QFileInfo(QString::fromStdString(path)).lastModified();
    struct stat st {};
    QCOMPARE(::stat(path.c_str(), &st), 0);
    const ino_t inode = st.st_ino;
    QTest::qWait(20);
    QVERIFY(!SetComputerInfo(doc, path, "NoSuchGroup", "PC01", "x", "x", "x"));
    QVERIFY(!SetComputerInfo(doc, path, "WorkGroup", "NOSUCHPC", "x", "x", "x"));
    QVERIFY(!SetComputerInfo(doc, path, "Lab", "PC01", "x", "x", "x"));
    QCOMPARE(testsupport::fileBytes(path), before);
    QCOMPARE(QFileInfo(QString::fromStdString(path)).lastModified(), mtime);
    QCOMPARE(::stat(path.c_str(), &st), 0);
    QCOMPARE(st.st_ino, inode); // not replaced by a save of the same bytes either
}

void TestXmlFile::setComputerInfoRefusesBadValues() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("config.xml").toStdString();
    XmlDocument doc;
    loadSample(doc);
    doc.save(path);
    const QByteArray before = testsupport::fileBytes(path);
    const std::string longMemo(kMaxMemoBytes + 1, 'm');
    const std::string longName(kMaxFieldBytes + 1, 'u');
    QVERIFY_THROWS_EXCEPTION(XmlError,
                             SetComputerInfo(doc, path, "WorkGroup", "PC01", "ok", "", longMemo));
    QVERIFY_THROWS_EXCEPTION(XmlError,
                             SetComputerInfo(doc, path, "WorkGroup", "PC01", longName, "", ""));
    // A control character in the last field: the earlier fields must not have changed either.
    QVERIFY_THROWS_EXCEPTION(XmlError, SetComputerInfo(doc, path, "WorkGroup", "PC01", "new user",
                                                       "1.2.3.4", "bell\x07"));
    QVERIFY_THROWS_EXCEPTION(
        XmlError, SetComputerInfo(doc, path, "WorkGroup", "PC01", "bad\xff utf8", "", ""));
    QCOMPARE(testsupport::fileBytes(path), before);
    std::string name, user, ip, memo;
    QVERIFY(GetComputerInfo(doc, "WorkGroup", "PC01", name, user, ip, memo));
    QCOMPARE(user, std::string("alice"));
    QCOMPARE(ip, std::string("192.168.0.5"));
    // The longest memo allowed goes through and comes back whole.
    const std::string maxMemo(kMaxMemoBytes, 'm');
    QVERIFY(SetComputerInfo(doc, path, "WorkGroup", "PC01", "alice", "", maxMemo));
    XmlDocument reloaded;
    QCOMPARE(reloaded.load(path).kind, LoadOutcome::Kind::Loaded);
    QVERIFY(GetComputerInfo(reloaded, "WorkGroup", "PC01", name, user, ip, memo));
    QCOMPARE(memo, maxMemo);
}

void TestXmlFile::addComputer() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("config.xml").toStdString();
    XmlDocument doc;
    QCOMPARE(doc.load(path).kind, LoadOutcome::Kind::Missing);
    const XmlNode root = doc.documentElement();

    // A new group goes last, holding the computer with its four fields in order.
    AddComputer(doc, "研发部", "PC01", "PC01", "张三", "192.168.0.5", "memo");
    AddComputer(doc, "Sales", "S1", "S1", "", "", "");
    QCOMPARE(idsOf(root), (QStringList{"研发部", "Sales"}));
    const XmlNode group = child(root, 0);
    QCOMPARE(group.nodeName(), std::string("group"));
    const XmlNode pc = child(group, 0);
    QCOMPARE(pc.nodeName(), std::string("computer"));
    QCOMPARE(namesOf(pc), (QStringList{"ComputerName", "UserName", "IpAddress", "Memo"}));
    QCOMPARE(child(pc, 1).text(), std::string("张三"));

    // An existing group, matched without case; twice the same id gives two elements.
    AddComputer(doc, "sales", "S2", "S2", "", "", "");
    AddComputer(doc, "SALES", "S2", "S2", "", "", "");
    QCOMPARE(idsOf(root), (QStringList{"研发部", "Sales"}));
    QCOMPARE(idsOf(child(root, 1)), (QStringList{"S1", "S2", "S2"}));

    // An empty group id makes a group whose id is empty, and then reuses it.
    AddComputer(doc, "", "H1", "H1", "", "", "");
    AddComputer(doc, "", "H2", "H2", "", "", "");
    QCOMPARE(idsOf(root), (QStringList{"研发部", "Sales", ""}));
    QVERIFY(child(root, 2).hasAttribute("id"));
    QCOMPARE(idsOf(child(root, 2)), (QStringList{"H1", "H2"}));

    // Refused values leave the book as it was.
    QVERIFY_THROWS_EXCEPTION(
        XmlError, AddComputer(doc, std::string(kMaxIdBytes + 1, 'g'), "X", "X", "", "", ""));
    QVERIFY_THROWS_EXCEPTION(XmlError, AddComputer(doc, "New", "X", "X", "", "", "bad\x01"));
    QVERIFY_THROWS_EXCEPTION(XmlError, AddComputer(doc, "Sales", "X\xfe", "X", "", "", ""));
    QCOMPARE(idsOf(root), (QStringList{"研发部", "Sales", ""}));
    QCOMPARE(idsOf(child(root, 1)), (QStringList{"S1", "S2", "S2"}));

    // AddComputer never saves; the caller's save writes it all.
    QVERIFY(!QFile::exists(QString::fromStdString(path)));
    doc.save(path);
    XmlDocument reloaded;
    QCOMPARE(reloaded.load(path).kind, LoadOutcome::Kind::Loaded);
    std::string name, user, ip, memo;
    QVERIFY(GetComputerInfo(reloaded, "研发部", "pc01", name, user, ip, memo));
    QCOMPARE(user + "|" + ip + "|" + memo, std::string("张三|192.168.0.5|memo"));
}

void TestXmlFile::computerInGroup_data() {
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("computer");
    QTest::addColumn<QString>("stored"); // "-" for none
    const auto row = [](const char* name, const char* group, const char* computer,
                        const char* stored) {
        QTest::newRow(name) << QString(group) << QString(computer) << QString(stored);
    };
    row("exact", "WorkGroup", "PC01", "PC01");
    row("computer in another case", "WorkGroup", "PC02", "pc02");
    row("group in another case", "workgroup", "pc01", "PC01");
    // A group of exactly the id given is the one AddComputer adds to, before a case twin.
    row("exact group twin", "WORKGROUP", "pc03", "PC03");
    row("only in the case twin group", "WorkGroup", "PC03", "-");
    row("empty group", "Lab", "PC01", "-");
    row("no such group", "Nowhere", "PC01", "-");
}

// Whether adding would make a second entry of a computer, and which entry it would be.
void TestXmlFile::computerInGroup() {
    QFETCH(QString, group);
    QFETCH(QString, computer);
    QFETCH(QString, stored);
    XmlDocument doc;
    loadSample(doc);
    const auto found = ComputerInGroup(doc, group.toStdString(), computer.toStdString());
    QCOMPARE(found ? QString::fromStdString(*found) : QStringLiteral("-"), stored);
    AddComputer(doc, group.toStdString(), computer.toStdString(), "", "", "", "");
    QVERIFY(ComputerInGroup(doc, group.toStdString(), computer.toStdString()).has_value());
}

// What the program's commands do to add a computer to the book in memory and on disk.
void addAndSave(XmlDocument& doc, const std::string& path, const std::string& name) {
    editBook(doc, path, [&](XmlDocument& book) {
        AddComputer(book, "G", name, name, "", "", "");
        book.save(path);
    });
}

// Two programs with the same book open each add computers to it: none is lost. A book that
// appears after a program found none is added to, not replaced.
void TestXmlFile::twoProgramsOnOneBookLoseNothing() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("config.xml").toStdString();
    testsupport::writeFile(path, "<Lanquill><group id=\"G\"/></Lanquill>");
    constexpr int adds = 40;
    int go[2];
    QCOMPARE(::pipe(go), 0);
    pid_t children[2];
    for (int k = 0; k < 2; ++k) {
        children[k] = ::fork();
        QVERIFY(children[k] >= 0);
        if (children[k] == 0) {
            XmlDocument doc;
            doc.load(path);
            char byte = 0;
            if (::read(go[0], &byte, 1) != 1)
                ::_exit(3);
            try {
                for (int i = 0; i < adds; ++i)
                    addAndSave(doc, path, (k ? "B" : "A") + std::to_string(i));
            } catch (...) {
                ::_exit(2);
            }
            ::_exit(0);
        }
    }
    QCOMPARE(::write(go[1], "gg", 2), 2); // both have read the book; now both edit at once
    for (pid_t child : children) {
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    XmlDocument after;
    QCOMPARE(after.load(path).kind, LoadOutcome::Kind::Loaded);
    QCOMPARE(child(after.documentElement(), 0).childNodes().length(), 2 * adds);

    const std::string fresh = dir.filePath("fresh.xml").toStdString();
    XmlDocument first, second;
    QCOMPARE(first.load(fresh).kind, LoadOutcome::Kind::Missing);
    QCOMPARE(second.load(fresh).kind, LoadOutcome::Kind::Missing);
    addAndSave(second, fresh, "X");
    addAndSave(first, fresh, "Y");
    QCOMPARE(first.load(fresh).kind, LoadOutcome::Kind::Loaded);
    QCOMPARE(idsOf(child(first.documentElement(), 0)), (QStringList{"X", "Y"}));
}

QTEST_GUILESS_MAIN(TestXmlFile)
#include "tst_xmlfile.moc"
