// The contact book's document: loading (whitespace, encodings, hostile and broken files),
// saving (atomic, encodings, read-only files, unreadable files kept aside) and the DOM facade.
#include "contacts/XMLFile.h"
#include "contacts/XmlDocument.h"
#include "support/BookFiles.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace lanquill::contacts;
using lanquill::testsupport::writeBytes;
namespace testsupport = lanquill::testsupport;

namespace {

// The whole tree as one text: element names, attributes and texts, depth-indented. Two
// documents with the same dump hold the same book.
void dump(const XmlNode& n, int depth, std::string& out) {
    out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + n.nodeName();
    if (n.hasAttribute("id"))
        out += " id=\"" + n.getAttribute("id") + "\"";
    const XmlNodeList children = n.childNodes();
    if (children.length() == 0)
        out += " text=\"" + n.text() + "\"";
    out += "\n";
    for (int i = 0; i < children.length(); ++i)
        dump(children.item(i), depth + 1, out);
}

std::string dump(const XmlDocument& doc) {
    std::string out;
    dump(doc.documentElement(), 0, out);
    return out;
}

QStringList entriesOf(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

bool isEmptyBook(const XmlDocument& doc) {
    return doc.documentElement().nodeName() == "Lanquill" &&
           doc.documentElement().childNodes().length() == 0;
}

} // namespace

class TestXmlDocument : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void newAndMissingBook();
    void treeAsLoaded();
    void blankTextGoesTextWithSpacesStays();
    void chineseEncodingsRoundTrip_data();
    void chineseEncodingsRoundTrip();
    void unreadableFileIsKeptAside();
    void badInputIsRefusedSafely_data();
    void badInputIsRefusedSafely();
    void nothingOutsideTheFileIsRead();
    void readOnlyTargets();
    void saveIsAtomicAndKeepsMode();
    void savedBookStaysLoadable_data();
    void symlinkedBookKeepsItsLink_data();
    void symlinkedBookKeepsItsLink();
    void savedBookStaysLoadable();
    void staleTemporaryFilesAreRemoved();
    void domFacade();
    void refusedValuesChangeNothing();
};

void TestXmlDocument::newAndMissingBook() {
    XmlDocument fresh;
    QVERIFY(isEmptyBook(fresh));
    QCOMPARE(fresh.encoding(), std::string("UTF-8"));

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string path = dir.filePath("config.xml").toStdString();
    XmlDocument doc;
    AddComputer(doc, "G", "PC", "PC", "", "", "");
    const LoadOutcome outcome = doc.load(path);
    QCOMPARE(outcome.kind, LoadOutcome::Kind::Missing);
    QVERIFY(isEmptyBook(doc)); // the previous content is gone
    QVERIFY(entriesOf(dir.path()).isEmpty());

    AddComputer(doc, "研发部", "PC01", "PC01", "张三", "192.168.0.5", "");
    doc.save(path);
    const QByteArray bytes = testsupport::fileBytes(path);
    // A new book is UTF-8 without declaration, indented for hand editing.
    QVERIFY2(bytes.startsWith("<Lanquill>\n  <group"), bytes.constData());
    QVERIFY(bytes.contains("研发部"));

    XmlDocument again;
    QCOMPARE(again.load(path).kind, LoadOutcome::Kind::Loaded);
    QCOMPARE(dump(again), dump(doc));
    QCOMPARE(entriesOf(dir.path()), QStringList{"config.xml"});
}

void TestXmlDocument::treeAsLoaded() {
    XmlDocument doc;
    QCOMPARE(doc.load(testsupport::testDataPath("books/indented.xml")).kind,
             LoadOutcome::Kind::Loaded);
    // The ids, fields and texts of this book are what tst_xmlfile's operations read; here, what
    // they cannot see: ids missing or empty, the list's ends, and empty fields.
    const XmlNodeList groups = doc.documentElement().childNodes();
    QCOMPARE(groups.length(), 5);
    QVERIFY(groups.item(1).hasAttribute("id"));
    QVERIFY(!groups.item(2).hasAttribute("id")); // no id at all reads as an empty id
    QCOMPARE(groups.item(2).getAttribute("id"), std::string(""));
    QCOMPARE(groups.item(2).childNodes().length(), 0);
    QVERIFY(!groups.item(5));
    QVERIFY(!groups.item(-1));
    QVERIFY(doc.documentElement().lastChild() == groups.item(4));
    // An empty field has no children at all, not a whitespace text.
    QCOMPARE(groups.item(0).childNodes().item(1).childNodes().item(1).text(), std::string(""));

    // The empty root.
    QCOMPARE(doc.load(testsupport::testDataPath("books/empty_root.xml")).kind,
             LoadOutcome::Kind::Loaded);
    QVERIFY(isEmptyBook(doc));

    // Comments and processing instructions are kept in the file but never handed out.
    QCOMPARE(doc.load(testsupport::testDataPath("books/comments.xml")).kind,
             LoadOutcome::Kind::Loaded);
    QCOMPARE(doc.documentElement().childNodes().length(), 1);
    QCOMPARE(doc.documentElement().childNodes().item(0).childNodes().length(), 1);
    QTemporaryDir dir;
    const std::string out = dir.filePath("config.xml").toStdString();
    doc.save(out);
    QVERIFY(testsupport::fileBytes(out).contains("<!-- a note -->"));
    QVERIFY(testsupport::fileBytes(out).startsWith("<!-- kept by hand -->"));
}

void TestXmlDocument::blankTextGoesTextWithSpacesStays() {
    // libxml2 hands a text over in pieces: around entity references, and in runs of a few
    // hundred characters. A piece of spaces is not a blank text.
    const QByteArray longMemo = "  " + QByteArray(700, 'x') + "  &amp;  ";
    const QByteArray indented = "<!-- top -->\n<Lanquill>\n  <!-- a -->\n  <?pi x?>\n"
                                "  <group id=\"G\">\n    <computer id=\"X\">\n"
                                "      <Memo>  two &amp; spaces  </Memo>\n"
                                "      <Note>" +
                                longMemo +
                                "</Note>\n      <Empty>\n\t \r\n      </Empty>\n"
                                "    </computer>\n    <!-- tail -->\n  </group>\n</Lanquill>\n";
    const QByteArray compact = "<!-- top -->\n<Lanquill><!-- a --><?pi x?><group id=\"G\">"
                               "<computer id=\"X\"><Memo>  two &amp; spaces  </Memo><Note>" +
                               longMemo +
                               "</Note><Empty></Empty></computer><!-- tail --></group>"
                               "</Lanquill>\n";
    QTemporaryDir dir;
    const std::string in = dir.filePath("in.xml").toStdString();
    const std::string out = dir.filePath("out.xml").toStdString();
    const std::string compactOut = dir.filePath("compact.xml").toStdString();

    XmlDocument doc;
    writeBytes(in, indented);
    QCOMPARE(doc.load(in).kind, LoadOutcome::Kind::Loaded);
    const XmlNodeList fields =
        doc.documentElement().childNodes().item(0).childNodes().item(0).childNodes();
    QCOMPARE(fields.length(), 3);
    QCOMPARE(fields.item(0).text(), std::string("  two & spaces  "));
    QCOMPARE(fields.item(1).text(), "  " + std::string(700, 'x') + "  &  ");
    QCOMPARE(fields.item(2).text(), std::string(""));
    doc.save(out);

    writeBytes(in, compact);
    QCOMPARE(doc.load(in).kind, LoadOutcome::Kind::Loaded);
    doc.save(compactOut);
    QCOMPARE(testsupport::fileBytes(out), testsupport::fileBytes(compactOut));
}

void TestXmlDocument::chineseEncodingsRoundTrip_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("encoding");
    for (const char* row : {"GBK gbk.xml", "GB2312 gb2312.xml", "UTF-8 utf8_decl.xml"}) {
        const QStringList words = QString(row).split(' ');
        QTest::newRow(row) << words[1] << words[0];
    }
}

void TestXmlDocument::chineseEncodingsRoundTrip() {
    QFETCH(QString, file);
    QFETCH(QString, encoding);
    const std::string source = testsupport::testDataPath("books/" + file.toStdString());
    const QByteArray before = testsupport::fileBytes(source);
    const bool gbk = encoding != "UTF-8";
    // 研发部, 张三 and 李四 in GBK (and GB2312, its subset).
    const QByteArray dept = gbk ? QByteArray::fromHex("d1d0b7a2b2bf") : QByteArray("研发部");
    const QByteArray zhang = gbk ? QByteArray::fromHex("d5c5c8fd") : QByteArray("张三");
    const QByteArray li = gbk ? QByteArray::fromHex("c0eecbc4") : QByteArray("李四");
    QVERIFY(before.contains(dept));
    QVERIFY(before.contains(zhang));

    XmlDocument doc;
    QCOMPARE(doc.load(source).kind, LoadOutcome::Kind::Loaded);
    QCOMPARE(doc.encoding(), encoding.toStdString());
    std::string name, user, ip, memo;
    QVERIFY(GetComputerInfo(doc, "研发部", "张三的电脑", name, user, ip, memo));
    QCOMPARE(user, std::string("张三"));
    QCOMPARE(memo, std::string("三楼东侧"));

    QTemporaryDir dir;
    const std::string path = dir.filePath("config.xml").toStdString();
    doc.save(path);
    const QByteArray saved = testsupport::fileBytes(path);
    QVERIFY2(saved.startsWith("<?xml version=\"1.0\" encoding=\"" + encoding.toLatin1() + "\"?>"),
             saved.left(60).constData());
    QVERIFY(saved.contains(dept));
    QVERIFY(saved.contains(zhang));

    // A new Chinese value goes out in the book's encoding; one the encoding cannot hold (the euro
    // sign is not in GB2312) goes out as a character reference and comes back intact.
    QVERIFY(SetComputerInfo(doc, path, "研发部", "张三的电脑", "李四", "192.168.1.21", "€ 5"));
    const QByteArray edited = testsupport::fileBytes(path);
    QVERIFY(edited.contains(li));
    XmlDocument reloaded;
    QCOMPARE(reloaded.load(path).kind, LoadOutcome::Kind::Loaded);
    QVERIFY(GetComputerInfo(reloaded, "研发部", "张三的电脑", name, user, ip, memo));
    QCOMPARE(user, std::string("李四"));
    QCOMPARE(memo, std::string("€ 5"));
    QCOMPARE(reloaded.encoding(), encoding.toStdString());
    QCOMPARE(testsupport::fileBytes(source), before); // the source was only read
}

void TestXmlDocument::unreadableFileIsKeptAside() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("config.xml").toStdString();
    const QByteArray first = "<Lanquill><group id=\"A\">\n<computer id=\"B\"></group>";
    writeBytes(path, first);

    XmlDocument doc;
    const LoadOutcome outcome = doc.load(path);
    QCOMPARE(outcome.kind, LoadOutcome::Kind::Unreadable);
    QVERIFY2(outcome.message.rfind("无法读取通讯录 " + path + "，第 2 行：", 0) == 0,
             outcome.message.c_str());
    QVERIFY(isEmptyBook(doc));
    QCOMPARE(testsupport::fileBytes(path), first);

    // A save elsewhere does not touch it.
    const std::string other = dir.filePath("other.xml").toStdString();
    doc.save(other);
    QCOMPARE(testsupport::fileBytes(path), first);

    AddComputer(doc, "G", "PC", "PC", "", "", "");
    doc.save(path);
    QCOMPARE(testsupport::fileBytes(path + ".unreadable"), first);
    XmlDocument check;
    QCOMPARE(check.load(path).kind, LoadOutcome::Kind::Loaded);
    QCOMPARE(dump(check), dump(doc));
    doc.save(path); // kept once is enough
    QVERIFY(!QFile::exists(QString::fromStdString(path + ".unreadable-2")));

    // A second broken file never replaces the first kept copy.
    const QByteArray second = "not xml at all";
    writeBytes(path, second);
    QCOMPARE(doc.load(path).kind, LoadOutcome::Kind::Unreadable);
    doc.save(path);
    QCOMPARE(testsupport::fileBytes(path + ".unreadable"), first);
    QCOMPARE(testsupport::fileBytes(path + ".unreadable-2"), second);
    QCOMPARE(entriesOf(dir.path()), (QStringList{"config.xml", "config.xml.unreadable",
                                                 "config.xml.unreadable-2", "other.xml"}));
}

void TestXmlDocument::badInputIsRefusedSafely_data() {
    QTest::addColumn<QString>("file");     // fixture name, or a generated case
    QTest::addColumn<QString>("expected"); // part of the message
    const auto row = [](const char* name, const char* file, const char* expected) {
        QTest::newRow(name) << QString(file) << QString(expected);
    };
    row("empty file", "@empty", "文件是空的");
    row("truncated", "truncated.xml", "，第 ");
    row("not XML", "not_xml.txt", "，第 1 行：");
    row("bad UTF-8", "bad_utf8.xml", "，第 ");
    row("bad GBK", "bad_gbk.xml", "，第 ");
    row("external entity", "xxe_file.xml", "DOCTYPE");
    row("external DTD", "external_dtd.xml", "DOCTYPE");
    row("entity bomb", "@bomb", "DOCTYPE");
    row("deep nesting", "@deep", "，第 1 行：");
    row("50 MB", "@50mb", "文件太大");
    row("12 MB text", "@hugetext", "");
    row("only a declaration", "@decl", "，第 ");
    row("a folder", "@folder", "不是普通文件");
    row("33 attributes", "@attributes:33", "超过 32 个属性");
    row("100,000 attributes", "@attributes:100000", "超过 32 个属性");
    row("100,000 namespaces", "@namespaces:100000", "超过 32 个属性");
}

void TestXmlDocument::badInputIsRefusedSafely() {
    QFETCH(QString, file);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    std::string path = dir.filePath("config.xml").toStdString();
    if (file == "@empty") {
        writeBytes(path, "");
    } else if (file == "@bomb") {
        QByteArray bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE Lanquill [\n<!ENTITY e0 \"lol\">\n";
        for (int i = 1; i < 12; ++i)
            bomb += "<!ENTITY e" + QByteArray::number(i) + " \"" +
                    QByteArray("&e" + QByteArray::number(i - 1) + ";").repeated(10) + "\">\n";
        bomb += "]>\n<Lanquill><group id=\"&e11;\">&e11;</group></Lanquill>\n";
        writeBytes(path, bomb);
    } else if (file == "@deep") {
        writeBytes(path, QByteArray("<a>").repeated(100000) + QByteArray("</a>").repeated(100000));
    } else if (file == "@50mb") {
        writeBytes(path, "<Lanquill><group id=\"A\">" + QByteArray(50 * 1024 * 1024, 'x') +
                             "</group></Lanquill>");
    } else if (file == "@hugetext") {
        writeBytes(path, "<Lanquill><group id=\"A\"><computer id=\"B\"><Memo>" +
                             QByteArray(12 * 1000 * 1000, 'x') +
                             "</Memo></computer></group></Lanquill>");
    } else if (file == "@decl") {
        writeBytes(path, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    } else if (file.startsWith("@attributes:") || file.startsWith("@namespaces:")) {
        const QByteArray attribute = file.startsWith("@namespaces") ? " xmlns:n" : " a";
        QByteArray tag = "<Lanquill><group";
        for (int i = file.section(':', 1).toInt(); i > 0; --i)
            tag += attribute + QByteArray::number(i) + "=\"u\"";
        writeBytes(path, tag + "/></Lanquill>");
    } else if (file == "@folder") {
        QVERIFY(QDir(dir.path()).mkdir("config.xml"));
    } else {
        QVERIFY(QFile::copy(
            QString::fromStdString(testsupport::testDataPath("books/" + file.toStdString())),
            QString::fromStdString(path)));
    }
    const QByteArray before = file == "@folder" ? QByteArray() : testsupport::fileBytes(path);

    XmlDocument doc;
    AddComputer(doc, "OLD", "PC", "PC", "", "", "");
    const LoadOutcome outcome = doc.load(path);
    if (file == "@hugetext" && outcome.kind == LoadOutcome::Kind::Loaded) {
        // libxml2 may take a 12 MB text; then it is whole.
        std::string name, user, ip, memo;
        QVERIFY(GetComputerInfo(doc, "A", "B", name, user, ip, memo));
        QCOMPARE(memo.size(), std::size_t(12 * 1000 * 1000));
    } else {
        QCOMPARE(outcome.kind, LoadOutcome::Kind::Unreadable);
        QVERIFY2(outcome.message.rfind("无法读取通讯录 " + path, 0) == 0, outcome.message.c_str());
        QVERIFY2(outcome.message.find(expected.toStdString()) != std::string::npos,
                 outcome.message.c_str());
        QVERIFY2(outcome.message.size() < 300, outcome.message.c_str());
        QVERIFY(isEmptyBook(doc));
    }
    if (file != "@folder")
        QCOMPARE(testsupport::fileBytes(path), before);
    QCOMPARE(entriesOf(dir.path()), QStringList{"config.xml"});
}

void TestXmlDocument::nothingOutsideTheFileIsRead() {
    // XInclude is not processed: the element stays an element and its target is not read.
    QTemporaryDir dir;
    const std::string secret = dir.filePath("secret.txt").toStdString();
    writeBytes(secret, "TOP-SECRET-CONTENT");
    const std::string path = dir.filePath("config.xml").toStdString();
    writeBytes(path, QByteArray("<Lanquill xmlns:xi=\"http://www.w3.org/2001/XInclude\">"
                                "<group id=\"A\"><xi:include href=\"") +
                         secret.c_str() + "\" parse=\"text\"/></group></Lanquill>");
    XmlDocument doc;
    QCOMPARE(doc.load(path).kind, LoadOutcome::Kind::Loaded);
    QVERIFY(dump(doc).find("TOP-SECRET") == std::string::npos);
    QCOMPARE(doc.documentElement().childNodes().item(0).childNodes().item(0).nodeName(),
             std::string("xi:include"));

    // An external entity pointing at the secret is refused with its DOCTYPE.
    writeBytes(path, QByteArray("<!DOCTYPE L [<!ENTITY s SYSTEM \"file://") + secret.c_str() +
                         "\">]><L><group id=\"&s;\"/></L>");
    const LoadOutcome outcome = doc.load(path);
    QCOMPARE(outcome.kind, LoadOutcome::Kind::Unreadable);
    QVERIFY(outcome.message.find("TOP-SECRET") == std::string::npos);
    QVERIFY(dump(doc).find("TOP-SECRET") == std::string::npos);
}

void TestXmlDocument::readOnlyTargets() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("config.xml").toStdString();
    XmlDocument doc;
    AddComputer(doc, "G", "PC", "PC", "", "", "");
    doc.save(path);
    const QByteArray before = testsupport::fileBytes(path);
    QCOMPARE(::chmod(path.c_str(), 0444), 0);

    AddComputer(doc, "G", "PC2", "PC2", "", "", "");
    try {
        doc.save(path);
        QFAIL("saving over a read-only file succeeded");
    } catch (const XmlError& e) {
        QCOMPARE(std::string(e.what()), "无法保存通讯录 " + path + "：文件是只读的");
    }
    QCOMPARE(testsupport::fileBytes(path), before);
    QCOMPARE(entriesOf(dir.path()), QStringList{"config.xml"});
    // SetComputerInfo reports the same failure; the change stays in memory for a later save.
    QVERIFY_THROWS_EXCEPTION(XmlError, SetComputerInfo(doc, path, "G", "PC", "u", "", ""));
    QCOMPARE(testsupport::fileBytes(path), before);
    QCOMPARE(::chmod(path.c_str(), 0644), 0);
    doc.save(path);
    std::string name, user, ip, memo;
    XmlDocument reloaded;
    QCOMPARE(reloaded.load(path).kind, LoadOutcome::Kind::Loaded);
    QVERIFY(GetComputerInfo(reloaded, "G", "PC", name, user, ip, memo));
    QCOMPARE(user, std::string("u"));
    QVERIFY(GetComputerInfo(reloaded, "G", "PC2", name, user, ip, memo));

    // A read-only folder, and one that does not exist.
    const QString sub = dir.filePath("ro");
    QVERIFY(QDir().mkdir(sub));
    QCOMPARE(::chmod(sub.toLocal8Bit().constData(), 0555), 0);
    const std::string inRo = (sub + "/config.xml").toStdString();
    QVERIFY_THROWS_EXCEPTION(XmlError, doc.save(inRo));
    QVERIFY(entriesOf(sub).isEmpty());
    QCOMPARE(::chmod(sub.toLocal8Bit().constData(), 0755), 0);
    try {
        doc.save(dir.filePath("missing/config.xml").toStdString());
        QFAIL("saving into a missing folder succeeded");
    } catch (const XmlError& e) {
        QVERIFY2(std::string(e.what()).find("missing") != std::string::npos, e.what());
    }
}

void TestXmlDocument::saveIsAtomicAndKeepsMode() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("config.xml").toStdString();
    XmlDocument doc;
    AddComputer(doc, "G", "PC", "PC", "", "", "");
    doc.save(path);
    QCOMPARE(::chmod(path.c_str(), 0640), 0);
    struct stat before {};
    QCOMPARE(::stat(path.c_str(), &before), 0);
    // Held open, the first file's inode cannot be handed to a later save once it is replaced.
    QFile first(QString::fromStdString(path));
    QVERIFY(first.open(QIODevice::ReadOnly));
    for (int i = 0; i < 5; ++i) {
        AddComputer(doc, "G", "PC" + std::to_string(i), "", "", "", "");
        doc.save(path);
    }
    struct stat after {};
    QCOMPARE(::stat(path.c_str(), &after), 0);
    QCOMPARE(after.st_mode & 07777, mode_t(0640));
    QVERIFY(after.st_ino != before.st_ino); // replaced by rename, never written in place
    QCOMPARE(entriesOf(dir.path()), QStringList{"config.xml"});
}

void TestXmlDocument::savedBookStaysLoadable_data() {
    QTest::addColumn<int>("past"); // bytes the saved file would have beyond the load limit
    QTest::newRow("exactly at the limit") << 0;
    QTest::newRow("one byte past, by its indentation") << 1;
}

// A save never writes a file that the next load refuses as too large, and the indentation the
// save adds counts: the book of the second row would fit without it.
void TestXmlDocument::savedBookStaysLoadable() {
    QFETCH(int, past);
    QTemporaryDir dir;
    const std::string path = dir.filePath("config.xml").toStdString();
    constexpr int computers = 40;
    // The bound is the document's; a small one keeps this cheap under the sanitizers.
    constexpr std::size_t limit = 512 * 1024;
    XmlDocument doc(limit);
    for (int i = 0; i < computers; ++i)
        AddComputer(doc, "G", "PC" + std::to_string(i), "PC", "", "", "");
    doc.save(path);
    const QByteArray small = testsupport::fileBytes(path);
    qsizetype indentation = small.count('\n');
    for (const QByteArray& line : small.split('\n'))
        indentation += line.size() - line.trimmed().size();
    QVERIFY(indentation > past);

    // The memos grow (each below the longest value) until the file would reach the limit plus
    // `past`.
    std::size_t grow = limit + static_cast<std::size_t>(past) - small.size();
    const XmlNodeList list = doc.documentElement().childNodes().item(0).childNodes();
    for (int i = 0; i < computers; ++i) {
        const std::size_t share = grow / static_cast<std::size_t>(computers - i);
        list.item(i).childNodes().item(3).setText(std::string(share, 'x'));
        grow -= share;
    }
    if (past == 0) {
        doc.save(path);
        QCOMPARE(testsupport::fileBytes(path).size(), qsizetype(limit));
        XmlDocument reloaded(limit);
        QCOMPARE(reloaded.load(path).kind, LoadOutcome::Kind::Loaded);
        return;
    }
    try {
        doc.save(path);
        QFAIL("saved a book that the next load refuses");
    } catch (const XmlError& e) {
        QVERIFY2(std::string(e.what()).find("通讯录太大") != std::string::npos, e.what());
    }
    QCOMPARE(testsupport::fileBytes(path), small);
    QCOMPARE(entriesOf(dir.path()), QStringList{"config.xml"});
}

void TestXmlDocument::symlinkedBookKeepsItsLink_data() {
    QTest::addColumn<QString>("link");   // what config.xml points at
    QTest::addColumn<QString>("hop");    // a second link on the way, made when not empty
    QTest::addColumn<QString>("target"); // the file that holds the book, relative to the folder
    const auto row = [](const char* name, const char* link, const char* hop, const char* target) {
        QTest::newRow(name) << QString(link) << QString(hop) << QString(target);
    };
    row("relative", "books/real.xml", "", "books/real.xml");
    row("absolute", "@/books/real.xml", "", "books/real.xml");
    row("link to a link", "hop.xml", "books/real.xml", "books/real.xml");
    row("relative to its own folder", "books/hop.xml", "real.xml", "books/real.xml");
    row("dangling: the book is made", "books/new.xml", "", "books/new.xml");
}

// A config.xml that is a link is saved into the file it leads to, beside that file; the link
// stays as it was.
void TestXmlDocument::symlinkedBookKeepsItsLink() {
    QFETCH(QString, link);
    QFETCH(QString, hop);
    QFETCH(QString, target);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("books"));
    if (link.startsWith('@'))
        link = dir.path() + link.mid(1);
    const std::string path = dir.filePath("config.xml").toStdString();
    QCOMPARE(::symlink(link.toLocal8Bit().constData(), path.c_str()), 0);
    if (!hop.isEmpty())
        QCOMPARE(::symlink(hop.toLocal8Bit().constData(), dir.filePath(link).toLocal8Bit()), 0);
    const std::string real = dir.filePath(target).toStdString();
    if (!target.endsWith("new.xml"))
        writeBytes(real, "<Lanquill><group id=\"G\"/></Lanquill>");

    XmlDocument doc;
    doc.load(path);
    AddComputer(doc, "G", "PC", "PC", "", "", "");
    doc.save(path);

    char linkText[4096] = {};
    QVERIFY(::readlink(path.c_str(), linkText, sizeof linkText - 1) > 0);
    QCOMPARE(QString::fromLocal8Bit(linkText), link);
    XmlDocument reloaded;
    QCOMPARE(reloaded.load(real).kind, LoadOutcome::Kind::Loaded);
    std::string name, user, ip, memo;
    QVERIFY(GetComputerInfo(reloaded, "G", "PC", name, user, ip, memo));
    for (const QString& entry : entriesOf(dir.filePath("books")) + entriesOf(dir.path()))
        QVERIFY2(!entry.startsWith('.'), qPrintable(entry));

    // An unreadable book behind the link is kept aside beside itself, not beside the link.
    writeBytes(real, "<Lanquill>");
    QCOMPARE(doc.load(path).kind, LoadOutcome::Kind::Unreadable);
    doc.save(path);
    QCOMPARE(testsupport::fileBytes(real + ".unreadable"), QByteArray("<Lanquill>"));
    QVERIFY(QFileInfo(QString::fromStdString(path)).isSymLink());
}

void TestXmlDocument::staleTemporaryFilesAreRemoved() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("config.xml").toStdString();
    const pid_t dead = ::fork();
    if (dead == 0)
        ::_exit(0);
    QVERIFY(dead > 0);
    QCOMPARE(::waitpid(dead, nullptr, 0), dead);
    const QString stale = ".config.xml." + QString::number(dead) + ".AbC123";
    const QString alive = ".config.xml." + QString::number(::getppid()) + ".XyZ789";
    const QString foreign = ".config.xml.keep";
    for (const QString& name : {stale, alive, foreign})
        writeBytes(dir.filePath(name).toStdString(), "partial");

    XmlDocument doc;
    QCOMPARE(doc.load(path).kind, LoadOutcome::Kind::Missing); // temps are never read
    doc.save(path);
    QStringList expected{foreign, alive, "config.xml"};
    expected.sort();
    QCOMPARE(entriesOf(dir.path()), expected);
}

void TestXmlDocument::domFacade() {
    XmlDocument doc;
    XmlNode root = doc.documentElement();
    QVERIFY(!root.lastChild());
    XmlNode a = doc.createElement("group");
    XmlNode b = doc.createElement("group");
    QCOMPARE(root.childNodes().length(), 0); // created, not yet in the tree
    QVERIFY(root.appendChild(a) == a);
    root.appendChild(b);
    a.setAttribute("id", "A");
    a.setAttribute("id", "A2"); // replaces
    QCOMPARE(a.getAttribute("id"), std::string("A2"));
    QCOMPARE(a.getAttribute("missing"), std::string(""));
    QVERIFY(root.lastChild() == b);

    // Moving an element, and refusing to put one inside itself or to take a stranger's.
    XmlNode c = doc.createElement("computer");
    b.appendChild(c);
    a.appendChild(c);
    QCOMPARE(b.childNodes().length(), 0);
    QVERIFY(a.lastChild() == c);
    QVERIFY_THROWS_EXCEPTION(XmlError, c.appendChild(a));
    QVERIFY_THROWS_EXCEPTION(XmlError, a.appendChild(a));
    XmlDocument other;
    QVERIFY_THROWS_EXCEPTION(XmlError, a.appendChild(other.createElement("x")));
    QVERIFY_THROWS_EXCEPTION(XmlError, b.removeChild(c)); // not b's child
    QVERIFY_THROWS_EXCEPTION(XmlError, doc.createElement("not a name"));
    QVERIFY_THROWS_EXCEPTION(XmlError, XmlNode().nodeName());
    QVERIFY_THROWS_EXCEPTION(XmlError, root.appendChild(XmlNode()));

    // Text: markup characters are text, setText replaces everything inside.
    c.setText("<b>&amp; \"q\"</b>");
    QCOMPARE(c.text(), std::string("<b>&amp; \"q\"</b>"));
    XmlNode field = doc.createElement("Memo");
    c.appendChild(field);
    field.setText("inner");
    QCOMPARE(c.text(), std::string("<b>&amp; \"q\"</b>inner"));
    c.setText("plain");
    QCOMPARE(c.childNodes().length(), 0);
    QCOMPARE(c.text(), std::string("plain"));
    c.setAttribute("id", "a\"b<c>&d\ne");

    root.removeChild(b);
    QCOMPARE(root.childNodes().length(), 1);
    doc.createElement("orphan"); // never linked: not saved, freed with the document

    QTemporaryDir dir;
    const std::string path = dir.filePath("config.xml").toStdString();
    doc.save(path);
    QVERIFY(!testsupport::fileBytes(path).contains("orphan"));
    XmlDocument reloaded;
    QCOMPARE(reloaded.load(path).kind, LoadOutcome::Kind::Loaded);
    QCOMPARE(dump(reloaded), dump(doc));
    XmlNode c2 = reloaded.documentElement().childNodes().item(0).childNodes().item(0);
    QCOMPARE(c2.getAttribute("id"), std::string("a\"b<c>&d\ne"));
    QCOMPARE(c2.text(), std::string("plain"));
}

void TestXmlDocument::refusedValuesChangeNothing() {
    XmlDocument doc;
    XmlNode g = doc.createElement("group");
    doc.documentElement().appendChild(g);
    g.setAttribute("id", "keep");
    g.setText("kept");
    const std::string bad[] = {std::string("a\x01b"),                    // control character
                               std::string("a\xff"),                     // not UTF-8
                               std::string("\xc0\xaf"),                  // overlong
                               std::string("\xed\xa0\x80"),              // surrogate
                               std::string("\xef\xbf\xbe"),              // U+FFFE
                               std::string("x\0y", 3),                   // NUL
                               std::string(kMaxXmlValueBytes + 1, 'x')}; // too long
    for (const std::string& value : bad) {
        QVERIFY_THROWS_EXCEPTION(XmlError, g.setAttribute("id", value));
        QVERIFY_THROWS_EXCEPTION(XmlError, g.setText(value));
    }
    QCOMPARE(g.getAttribute("id"), std::string("keep"));
    QCOMPARE(g.text(), std::string("kept"));
    // What is allowed: tab, newlines, Chinese, characters beyond the BMP.
    g.setText("a\tb\r\nc 群体消息 😀");
    QCOMPARE(g.text(), std::string("a\tb\r\nc 群体消息 😀"));
}

QTEST_GUILESS_MAIN(TestXmlDocument)
#include "tst_xmldocument.moc"
