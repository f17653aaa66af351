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

#include <optional>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace lanquill::contacts;
using lanquill::testsupport::fileBytes;
using lanquill::testsupport::writeBytes;
using Kind = LoadOutcome::Kind;

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

std::string fixture(const std::string& name) {
    return lanquill::testsupport::testDataPath("books/" + name);
}

// "user|memo", so that one comparison says whether the computer is there and what it holds.
std::string userAndMemo(const XmlDocument& doc, const std::string& group, const std::string& id) {
    std::string name, user, ip, memo;
    return GetComputerInfo(doc, group, id, name, user, ip, memo) ? user + "|" + memo : "(none)";
}

// A save that succeeds returns a text no expected failure contains.
std::string saveError(XmlDocument& doc, const std::string& path) {
    try {
        doc.save(path);
    } catch (const XmlError& e) {
        return e.what();
    }
    return "(saved)";
}

} // namespace

class TestXmlDocument : public QObject {
    Q_OBJECT

    std::optional<QTemporaryDir> dir_;
    std::string path_; // config.xml in dir_, not yet made

    std::string in(const QString& name) const { return dir_->filePath(name).toStdString(); }
    QStringList entries() const { return entriesOf(dir_->path()); }

private Q_SLOTS:
    void init() {
        dir_.emplace();
        QVERIFY(dir_->isValid());
        path_ = in("config.xml");
    }

    void newAndMissingBook() {
        XmlDocument fresh;
        QVERIFY(isEmptyBook(fresh));
        QCOMPARE(fresh.encoding(), std::string("UTF-8"));

        XmlDocument doc;
        AddComputer(doc, "G", "PC", "PC", "", "", "");
        QCOMPARE(doc.load(path_).kind, Kind::Missing);
        QVERIFY(isEmptyBook(doc)); // the previous content is gone
        QVERIFY(entries().isEmpty());

        AddComputer(doc, "研发部", "PC01", "PC01", "张三", "192.168.0.5", "");
        doc.save(path_);
        const QByteArray bytes = fileBytes(path_);
        // A new book is UTF-8 without declaration, indented for hand editing.
        QVERIFY2(bytes.startsWith("<Lanquill>\n  <group"), bytes.constData());
        QVERIFY(bytes.contains("研发部"));

        XmlDocument again;
        QCOMPARE(again.load(path_).kind, Kind::Loaded);
        QCOMPARE(dump(again), dump(doc));
        QCOMPARE(entries(), QStringList{"config.xml"});
    }

    void treeAsLoaded() {
        XmlDocument doc;
        QCOMPARE(doc.load(fixture("indented.xml")).kind, Kind::Loaded);
        // The ids, fields and texts of this book are what tst_xmlfile's operations read; here,
        // what they cannot see: ids missing or empty, the list's ends, and empty fields.
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

        QCOMPARE(doc.load(fixture("empty_root.xml")).kind, Kind::Loaded);
        QVERIFY(isEmptyBook(doc));

        // Comments and processing instructions are kept in the file but never handed out.
        QCOMPARE(doc.load(fixture("comments.xml")).kind, Kind::Loaded);
        QCOMPARE(doc.documentElement().childNodes().length(), 1);
        QCOMPARE(doc.documentElement().childNodes().item(0).childNodes().length(), 1);
        doc.save(path_);
        QVERIFY(fileBytes(path_).contains("<!-- a note -->"));
        QVERIFY(fileBytes(path_).startsWith("<!-- kept by hand -->"));
    }

    void blankTextGoesTextWithSpacesStays() {
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
        const std::string out = in("out.xml"), compactOut = in("compact.xml");

        XmlDocument doc;
        writeBytes(path_, indented);
        QCOMPARE(doc.load(path_).kind, Kind::Loaded);
        const XmlNodeList fields =
            doc.documentElement().childNodes().item(0).childNodes().item(0).childNodes();
        QCOMPARE(fields.length(), 3);
        QCOMPARE(fields.item(0).text(), std::string("  two & spaces  "));
        QCOMPARE(fields.item(1).text(), "  " + std::string(700, 'x') + "  &  ");
        QCOMPARE(fields.item(2).text(), std::string(""));
        doc.save(out);

        writeBytes(path_, compact);
        QCOMPARE(doc.load(path_).kind, Kind::Loaded);
        doc.save(compactOut);
        QCOMPARE(fileBytes(out), fileBytes(compactOut));
    }

    void chineseEncodingsRoundTrip_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("encoding");
        for (const char* row : {"GBK gbk.xml", "GB2312 gb2312.xml", "UTF-8 utf8_decl.xml"}) {
            const QStringList words = QString(row).split(' ');
            QTest::newRow(row) << words[1] << words[0];
        }
    }

    void chineseEncodingsRoundTrip() {
        QFETCH(QString, file);
        QFETCH(QString, encoding);
        const std::string source = fixture(file.toStdString());
        const QByteArray before = fileBytes(source);
        const bool gbk = encoding != "UTF-8";
        // 研发部, 张三 and 李四 in GBK (and GB2312, its subset).
        const QByteArray dept = gbk ? QByteArray::fromHex("d1d0b7a2b2bf") : QByteArray("研发部");
        const QByteArray zhang = gbk ? QByteArray::fromHex("d5c5c8fd") : QByteArray("张三");
        const QByteArray li = gbk ? QByteArray::fromHex("c0eecbc4") : QByteArray("李四");
        QVERIFY(before.contains(dept));
        QVERIFY(before.contains(zhang));

        XmlDocument doc;
        QCOMPARE(doc.load(source).kind, Kind::Loaded);
        QCOMPARE(doc.encoding(), encoding.toStdString());
        QCOMPARE(userAndMemo(doc, "研发部", "张三的电脑"), std::string("张三|三楼东侧"));

        doc.save(path_);
        const QByteArray saved = fileBytes(path_);
        QVERIFY2(
            saved.startsWith("<?xml version=\"1.0\" encoding=\"" + encoding.toLatin1() + "\"?>"),
            saved.left(60).constData());
        QVERIFY(saved.contains(dept));
        QVERIFY(saved.contains(zhang));

        // A new Chinese value goes out in the book's encoding; one the encoding cannot hold (the
        // euro sign is not in GB2312) goes out as a character reference and comes back intact.
        QVERIFY(SetComputerInfo(doc, path_, "研发部", "张三的电脑", "李四", "192.168.1.21", "€ 5"));
        QVERIFY(fileBytes(path_).contains(li));
        XmlDocument reloaded;
        QCOMPARE(reloaded.load(path_).kind, Kind::Loaded);
        QCOMPARE(userAndMemo(reloaded, "研发部", "张三的电脑"), std::string("李四|€ 5"));
        QCOMPARE(reloaded.encoding(), encoding.toStdString());
        QCOMPARE(fileBytes(source), before); // the source was only read
    }

    void unreadableFileIsKeptAside() {
        const QByteArray first = "<Lanquill><group id=\"A\">\n<computer id=\"B\"></group>";
        writeBytes(path_, first);

        XmlDocument doc;
        const LoadOutcome outcome = doc.load(path_);
        QCOMPARE(outcome.kind, Kind::Unreadable);
        QVERIFY2(outcome.message.rfind("无法读取通讯录 " + path_ + "，第 2 行：", 0) == 0,
                 outcome.message.c_str());
        QVERIFY(isEmptyBook(doc));
        QCOMPARE(fileBytes(path_), first);

        // A save elsewhere does not touch it.
        doc.save(in("other.xml"));
        QCOMPARE(fileBytes(path_), first);

        AddComputer(doc, "G", "PC", "PC", "", "", "");
        doc.save(path_);
        QCOMPARE(fileBytes(path_ + ".unreadable"), first);
        XmlDocument check;
        QCOMPARE(check.load(path_).kind, Kind::Loaded);
        QCOMPARE(dump(check), dump(doc));
        doc.save(path_); // kept once is enough
        QVERIFY(!QFile::exists(QString::fromStdString(path_ + ".unreadable-2")));

        // A second broken file never replaces the first kept copy.
        const QByteArray second = "not xml at all";
        writeBytes(path_, second);
        QCOMPARE(doc.load(path_).kind, Kind::Unreadable);
        doc.save(path_);
        QCOMPARE(fileBytes(path_ + ".unreadable"), first);
        QCOMPARE(fileBytes(path_ + ".unreadable-2"), second);
        QCOMPARE(entries(), (QStringList{"config.xml", "config.xml.unreadable",
                                         "config.xml.unreadable-2", "other.xml"}));
    }

    void badInputIsRefusedSafely_data() {
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

    void badInputIsRefusedSafely() {
        QFETCH(QString, file);
        QFETCH(QString, expected);
        if (file == "@empty") {
            writeBytes(path_, "");
        } else if (file == "@bomb") {
            QByteArray bomb =
                "<?xml version=\"1.0\"?>\n<!DOCTYPE Lanquill [\n<!ENTITY e0 \"lol\">\n";
            for (int i = 1; i < 12; ++i)
                bomb += "<!ENTITY e" + QByteArray::number(i) + " \"" +
                        QByteArray("&e" + QByteArray::number(i - 1) + ";").repeated(10) + "\">\n";
            bomb += "]>\n<Lanquill><group id=\"&e11;\">&e11;</group></Lanquill>\n";
            writeBytes(path_, bomb);
        } else if (file == "@deep") {
            writeBytes(path_,
                       QByteArray("<a>").repeated(100000) + QByteArray("</a>").repeated(100000));
        } else if (file == "@50mb") {
            writeBytes(path_, "<Lanquill><group id=\"A\">" + QByteArray(50 * 1024 * 1024, 'x') +
                                  "</group></Lanquill>");
        } else if (file == "@hugetext") {
            writeBytes(path_, "<Lanquill><group id=\"A\"><computer id=\"B\"><Memo>" +
                                  QByteArray(12 * 1000 * 1000, 'x') +
                                  "</Memo></computer></group></Lanquill>");
        } else if (file == "@decl") {
            writeBytes(path_, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
        } else if (file.startsWith("@attributes:") || file.startsWith("@namespaces:")) {
            const QByteArray attribute = file.startsWith("@namespaces") ? " xmlns:n" : " a";
            QByteArray tag = "<Lanquill><group";
            for (int i = file.section(':', 1).toInt(); i > 0; --i)
                tag += attribute + QByteArray::number(i) + "=\"u\"";
            writeBytes(path_, tag + "/></Lanquill>");
        } else if (file == "@folder") {
            QVERIFY(QDir(dir_->path()).mkdir("config.xml"));
        } else {
            QVERIFY(QFile::copy(QString::fromStdString(fixture(file.toStdString())),
                                QString::fromStdString(path_)));
        }
        const QByteArray before = file == "@folder" ? QByteArray() : fileBytes(path_);

        XmlDocument doc;
        AddComputer(doc, "OLD", "PC", "PC", "", "", "");
        const LoadOutcome outcome = doc.load(path_);
        if (file == "@hugetext" && outcome.kind == Kind::Loaded) {
            // libxml2 may take a 12 MB text; then it is whole.
            QCOMPARE(userAndMemo(doc, "A", "B").size(), std::size_t(1 + 12 * 1000 * 1000));
        } else {
            QCOMPARE(outcome.kind, Kind::Unreadable);
            QVERIFY2(outcome.message.rfind("无法读取通讯录 " + path_, 0) == 0,
                     outcome.message.c_str());
            QVERIFY2(outcome.message.find(expected.toStdString()) != std::string::npos,
                     outcome.message.c_str());
            QVERIFY2(outcome.message.size() < 300, outcome.message.c_str());
            QVERIFY(isEmptyBook(doc));
        }
        if (file != "@folder")
            QCOMPARE(fileBytes(path_), before);
        QCOMPARE(entries(), QStringList{"config.xml"});
    }

    void nothingOutsideTheFileIsRead() {
        // XInclude is not processed: the element stays an element and its target is not read.
        const std::string secret = in("secret.txt");
        writeBytes(secret, "TOP-SECRET-CONTENT");
        writeBytes(path_, QByteArray("<Lanquill xmlns:xi=\"http://www.w3.org/2001/XInclude\">"
                                     "<group id=\"A\"><xi:include href=\"") +
                              secret.c_str() + "\" parse=\"text\"/></group></Lanquill>");
        XmlDocument doc;
        QCOMPARE(doc.load(path_).kind, Kind::Loaded);
        QVERIFY(dump(doc).find("TOP-SECRET") == std::string::npos);
        QCOMPARE(doc.documentElement().childNodes().item(0).childNodes().item(0).nodeName(),
                 std::string("xi:include"));

        // An external entity pointing at the secret is refused with its DOCTYPE.
        writeBytes(path_, QByteArray("<!DOCTYPE L [<!ENTITY s SYSTEM \"file://") + secret.c_str() +
                              "\">]><L><group id=\"&s;\"/></L>");
        const LoadOutcome outcome = doc.load(path_);
        QCOMPARE(outcome.kind, Kind::Unreadable);
        QVERIFY(outcome.message.find("TOP-SECRET") == std::string::npos);
        QVERIFY(dump(doc).find("TOP-SECRET") == std::string::npos);
    }

    void readOnlyTargets() {
        XmlDocument doc;
        AddComputer(doc, "G", "PC", "PC", "", "", "");
        doc.save(path_);
        const QByteArray before = fileBytes(path_);
        QCOMPARE(::chmod(path_.c_str(), 0444), 0);

        AddComputer(doc, "G", "PC2", "PC2", "", "", "");
        QCOMPARE(saveError(doc, path_), "无法保存通讯录 " + path_ + "：文件是只读的");
        QCOMPARE(fileBytes(path_), before);
        QCOMPARE(entries(), QStringList{"config.xml"});
        // SetComputerInfo reports the same failure; the change stays in memory for a later save.
        QVERIFY_THROWS_EXCEPTION(XmlError, SetComputerInfo(doc, path_, "G", "PC", "u", "", ""));
        QCOMPARE(fileBytes(path_), before);
        QCOMPARE(::chmod(path_.c_str(), 0644), 0);
        doc.save(path_);
        XmlDocument reloaded;
        QCOMPARE(reloaded.load(path_).kind, Kind::Loaded);
        QCOMPARE(userAndMemo(reloaded, "G", "PC"), std::string("u|"));
        QCOMPARE(userAndMemo(reloaded, "G", "PC2"), std::string("|"));

        // A read-only folder, and one that does not exist.
        const QString sub = dir_->filePath("ro");
        QVERIFY(QDir().mkdir(sub));
        QCOMPARE(::chmod(sub.toLocal8Bit().constData(), 0555), 0);
        QVERIFY_THROWS_EXCEPTION(XmlError, doc.save((sub + "/config.xml").toStdString()));
        QVERIFY(entriesOf(sub).isEmpty());
        QCOMPARE(::chmod(sub.toLocal8Bit().constData(), 0755), 0);
        const std::string missing = saveError(doc, in("missing/config.xml"));
        QVERIFY2(missing.find("missing") != std::string::npos, missing.c_str());
    }

    void saveIsAtomicAndKeepsMode() {
        XmlDocument doc;
        AddComputer(doc, "G", "PC", "PC", "", "", "");
        doc.save(path_);
        QCOMPARE(::chmod(path_.c_str(), 0640), 0);
        struct stat before {};
        QCOMPARE(::stat(path_.c_str(), &before), 0);
        // Held open, the first file's inode cannot be handed to a later save once it is replaced.
        QFile first(QString::fromStdString(path_));
        QVERIFY(first.open(QIODevice::ReadOnly));
        for (int i = 0; i < 5; ++i) {
            AddComputer(doc, "G", "PC" + std::to_string(i), "", "", "", "");
            doc.save(path_);
        }
        struct stat after {};
        QCOMPARE(::stat(path_.c_str(), &after), 0);
        QCOMPARE(after.st_mode & 07777, mode_t(0640));
        QVERIFY(after.st_ino != before.st_ino); // replaced by rename, never written in place
        QCOMPARE(entries(), QStringList{"config.xml"});
    }

    void savedBookStaysLoadable_data() {
        QTest::addColumn<int>("past"); // bytes the saved file would have beyond the load limit
        QTest::newRow("exactly at the limit") << 0;
        QTest::newRow("one byte past, by its indentation") << 1;
    }

    void symlinkedBookKeepsItsLink_data() {
        QTest::addColumn<QString>("link");   // what config.xml points at
        QTest::addColumn<QString>("hop");    // a second link on the way, made when not empty
        QTest::addColumn<QString>("target"); // the file that holds the book, relative to the folder
        const auto row = [](const char* name, const char* link, const char* hop,
                            const char* target) {
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
    void symlinkedBookKeepsItsLink() {
        QFETCH(QString, link);
        QFETCH(QString, hop);
        QFETCH(QString, target);
        QVERIFY(QDir(dir_->path()).mkdir("books"));
        if (link.startsWith('@'))
            link = dir_->path() + link.mid(1);
        QCOMPARE(::symlink(link.toLocal8Bit().constData(), path_.c_str()), 0);
        if (!hop.isEmpty())
            QCOMPARE(::symlink(hop.toLocal8Bit().constData(), in(link).c_str()), 0);
        const std::string real = in(target);
        if (!target.endsWith("new.xml"))
            writeBytes(real, "<Lanquill><group id=\"G\"/></Lanquill>");

        XmlDocument doc;
        doc.load(path_);
        AddComputer(doc, "G", "PC", "PC", "", "", "");
        doc.save(path_);

        char linkText[4096] = {};
        QVERIFY(::readlink(path_.c_str(), linkText, sizeof linkText - 1) > 0);
        QCOMPARE(QString::fromLocal8Bit(linkText), link);
        XmlDocument reloaded;
        QCOMPARE(reloaded.load(real).kind, Kind::Loaded);
        QCOMPARE(userAndMemo(reloaded, "G", "PC"), std::string("|"));
        for (const QString& entry : entriesOf(dir_->filePath("books")) + entries())
            QVERIFY2(!entry.startsWith('.'), qPrintable(entry));

        // An unreadable book behind the link is kept aside beside itself, not beside the link.
        writeBytes(real, "<Lanquill>");
        QCOMPARE(doc.load(path_).kind, Kind::Unreadable);
        doc.save(path_);
        QCOMPARE(fileBytes(real + ".unreadable"), QByteArray("<Lanquill>"));
        QVERIFY(QFileInfo(QString::fromStdString(path_)).isSymLink());
    }

    // A save never writes a file that the next load refuses as too large, and the indentation the
    // save adds counts: the book of the second row would fit without it.
    void savedBookStaysLoadable() {
        QFETCH(int, past);
        constexpr int computers = 40;
        // The bound is the document's; a small one keeps this cheap under the sanitizers.
        constexpr std::size_t limit = 512 * 1024;
        XmlDocument doc(limit);
        for (int i = 0; i < computers; ++i)
            AddComputer(doc, "G", "PC" + std::to_string(i), "PC", "", "", "");
        doc.save(path_);
        const QByteArray small = fileBytes(path_);
        qsizetype indentation = small.count('\n');
        for (const QByteArray& line : small.split('\n'))
            indentation += line.size() - line.trimmed().size();
        QVERIFY(indentation > past);

        // The memos grow (each below the longest value) until the file would reach the limit
        // plus `past`.
        std::size_t grow = limit + static_cast<std::size_t>(past) - small.size();
        const XmlNodeList list = doc.documentElement().childNodes().item(0).childNodes();
        for (int i = 0; i < computers; ++i) {
            const std::size_t share = grow / static_cast<std::size_t>(computers - i);
            list.item(i).childNodes().item(3).setText(std::string(share, 'x'));
            grow -= share;
        }
        if (past == 0) {
            doc.save(path_);
            QCOMPARE(fileBytes(path_).size(), qsizetype(limit));
            XmlDocument reloaded(limit);
            QCOMPARE(reloaded.load(path_).kind, Kind::Loaded);
            return;
        }
        const std::string refused = saveError(doc, path_);
        QVERIFY2(refused.find("通讯录太大") != std::string::npos, refused.c_str());
        QCOMPARE(fileBytes(path_), small);
        QCOMPARE(entries(), QStringList{"config.xml"});
    }

    void staleTemporaryFilesAreRemoved() {
        const pid_t dead = ::fork();
        if (dead == 0)
            ::_exit(0);
        QVERIFY(dead > 0);
        QCOMPARE(::waitpid(dead, nullptr, 0), dead);
        const QString stale = ".config.xml." + QString::number(dead) + ".AbC123";
        const QString alive = ".config.xml." + QString::number(::getppid()) + ".XyZ789";
        const QString foreign = ".config.xml.keep";
        for (const QString& name : {stale, alive, foreign})
            writeBytes(in(name), "partial");

        XmlDocument doc;
        QCOMPARE(doc.load(path_).kind, Kind::Missing); // temps are never read
        doc.save(path_);
        QStringList expected{foreign, alive, "config.xml"};
        expected.sort();
        QCOMPARE(entries(), expected);
    }

    void domFacade() {
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

        doc.save(path_);
        QVERIFY(!fileBytes(path_).contains("orphan"));
        XmlDocument reloaded;
        QCOMPARE(reloaded.load(path_).kind, Kind::Loaded);
        QCOMPARE(dump(reloaded), dump(doc));
        XmlNode c2 = reloaded.documentElement().childNodes().item(0).childNodes().item(0);
        QCOMPARE(c2.getAttribute("id"), std::string("a\"b<c>&d\ne"));
        QCOMPARE(c2.text(), std::string("plain"));
    }

    void refusedValuesChangeNothing() {
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
};

QTEST_GUILESS_MAIN(TestXmlDocument)
#include "tst_xmldocument.moc"
