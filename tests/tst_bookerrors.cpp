// The contact book's failures as the window shows them: in English under the English translation,
// in the book's own Chinese wording otherwise.
#include "contacts/XmlDocument.h"
#include "desktop/ErrorReport.h"
#include "support/BookFiles.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <sys/stat.h>

using namespace lanquill::contacts;
using lanquill::desktop::bookErrorText;
using lanquill::desktop::errorText;

class TestBookErrors : public QObject {
    Q_OBJECT

    QTranslator english_;

    // The sentences of a broken book at load and of a save over a read-only one.
    static QStringList brokenAndReadOnly(const QString& folder) {
        const std::string path = (folder + "/config.xml").toStdString();
        lanquill::testsupport::writeBytes(path, "<Lanquill><group id=\"A\">");
        XmlDocument doc;
        const LoadOutcome outcome = doc.load(path);
        ::chmod(path.c_str(), 0444);
        QString saved;
        try {
            doc.save(path);
        } catch (...) {
            saved = errorText(std::current_exception());
        }
        ::chmod(path.c_str(), 0644);
        return {bookErrorText(outcome.failure), saved};
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(english_.load(QStringLiteral(LANQUILL_BIN_DIR "/../app/lanquill_en.qm")));
    }

    void brokenOrReadOnlyBookInEachLanguage() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config.xml"));
        const QStringList chinese = brokenAndReadOnly(dir.path());
        QVERIFY2(chinese[0].startsWith(QStringLiteral("无法读取通讯录 %1，第 1 行：").arg(path)),
                 qPrintable(chinese[0]));
        QCOMPARE(chinese[1], QStringLiteral("无法保存通讯录 %1：文件是只读的").arg(path));

        QCoreApplication::installTranslator(&english_);
        const QStringList english = brokenAndReadOnly(dir.path());
        QCoreApplication::removeTranslator(&english_);
        QVERIFY2(english[0].startsWith(
                     QStringLiteral("Cannot read the contact book %1, line 1: ").arg(path)),
                 qPrintable(english[0]));
        QCOMPARE(
            english[1],
            QStringLiteral("Cannot save the contact book %1: the file is read-only").arg(path));
    }

    // Untranslated, every failure reads as the book words it for what(); translated, none keeps
    // a Chinese character.
    void everyFailureHasBothWordings() {
        const QRegularExpression han(QStringLiteral("\\p{Han}"));
        for (int code = int(BookError::CannotOpen); code <= int(BookError::ValueBadCharacter);
             ++code) {
            for (BookAction action :
                 {BookAction::Read, BookAction::Save, BookAction::Edit, BookAction::Store}) {
                BookFailure f;
                f.action = action;
                f.code = BookError(code);
                f.error = ENOSPC;
                f.path = "/home/ann/config.xml";
                f.detail = "GB2312";
                f.size = code % 2 ? 0x1F : 0;
                f.limit = 32;
                f.line = code % 3;
                f.field = BookField(code % (int(BookField::Text) + 1));
                const QString own = QString::fromStdString(describe(f));
                QCOMPARE(bookErrorText(f), own);
                QCoreApplication::installTranslator(&english_);
                const QString english = bookErrorText(f);
                QCoreApplication::removeTranslator(&english_);
                QVERIFY2(!english.contains(han), qPrintable(english));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestBookErrors)
#include "tst_bookerrors.moc"
