// lanquill-help FILE: shows a compiled HTML help file (.chm) in a window titled with the file's
// own title, and writes that title as one line to standard output once the window is up (the
// messenger closes a help window by its title). Exits 1 when the file cannot be opened.
#include "desktop/Language.h"
#include "helpviewer/HelpContents.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QListWidget>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QWidget>

#include <chm_lib.h>

#include <cstdio>
#include <memory>

namespace {

using ChmHandle = std::unique_ptr<chmFile, decltype(&chm_close)>;

QByteArray readObject(chmFile* file, const QString& path) {
    chmUnitInfo unit{};
    const QByteArray name = path.toUtf8();
    if (chm_resolve_object(file, name.constData(), &unit) != CHM_RESOLVE_SUCCESS)
        return {};
    // Help pages are small; refuse anything absurd rather than allocate it.
    constexpr LONGUINT64 MaxObjectSize = 16 * 1024 * 1024;
    if (unit.length == 0 || unit.length > MaxObjectSize)
        return {};
    QByteArray data(static_cast<qsizetype>(unit.length), '\0');
    const LONGINT64 got =
        chm_retrieve_object(file, &unit, reinterpret_cast<unsigned char*>(data.data()), 0,
                            static_cast<LONGINT64>(unit.length));
    if (got <= 0)
        return {};
    data.truncate(static_cast<qsizetype>(got));
    return data;
}

// The #SYSTEM object holds tagged records; tag 2 is the default topic, tag 3 the title.
QString systemRecord(chmFile* file, quint16 wanted) {
    const QByteArray system = readObject(file, QStringLiteral("/#SYSTEM"));
    qsizetype pos = 4; // version
    while (pos + 4 <= system.size()) {
        const auto byte = [&](qsizetype i) { return static_cast<quint8>(system[i]); };
        const quint16 code = static_cast<quint16>(byte(pos) | byte(pos + 1) << 8);
        const quint16 length = static_cast<quint16>(byte(pos + 2) | byte(pos + 3) << 8);
        pos += 4;
        if (pos + length > system.size())
            break;
        if (code == wanted) {
            QByteArray value = system.mid(pos, length);
            const qsizetype nul = value.indexOf('\0');
            if (nul >= 0)
                value.truncate(nul);
            return QString::fromUtf8(value);
        }
        pos += length;
    }
    return {};
}

class ChmBrowser : public QTextBrowser {
public:
    explicit ChmBrowser(ChmHandle file, QWidget* parent)
        : QTextBrowser(parent), file_(std::move(file)) {
        setOpenLinks(true);
        setOpenExternalLinks(false);
    }

    QVariant loadResource(int type, const QUrl& name) override {
        if (name.scheme() != QLatin1String("chm"))
            return {};
        const QByteArray bytes = readObject(file_.get(), name.path());
        if (bytes.isEmpty())
            return {};
        if (type == QTextDocument::HtmlResource || type == QTextDocument::StyleSheetResource)
            return QString::fromUtf8(bytes);
        return bytes;
    }

private:
    ChmHandle file_;
};

const QString DefaultTitle = QStringLiteral("Lanquill 2.0");

struct Topic {
    QString title;
    QString page;
};

// The topics of the contents file (a sitemap of <param name="Name"> and <param name="Local">
// pairs), in its order.
QList<Topic> readContents(chmFile* file) {
    QString name = systemRecord(file, 0);
    if (name.isEmpty())
        name = QStringLiteral("toc.hhc");
    const QString sitemap = QString::fromUtf8(readObject(file, QLatin1Char('/') + name));
    static const QRegularExpression entry(
        QStringLiteral(R"re(<param\s+name="Name"\s+value="([^"]*)"\s*/?>\s*)re"
                       R"re(<param\s+name="Local"\s+value="([^"]*)"\s*/?>)re"),
        QRegularExpression::CaseInsensitiveOption);
    QList<Topic> topics;
    for (const QRegularExpressionMatch& m : entry.globalMatch(sitemap))
        topics.append({m.captured(1), m.captured(2)});
    return topics;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The contents' titles in the user's language; the pages themselves stay as written.
    QTranslator english;
    lanquill::desktop::installEnglish(english);
    if (argc != 2) {
        std::fprintf(stderr, "usage: lanquill-help FILE.chm\n");
        return 2;
    }
    ChmHandle file(chm_open(argv[1]), &chm_close);
    if (!file)
        return 1;
    QString topic = systemRecord(file.get(), 2);
    if (topic.isEmpty())
        topic = QStringLiteral("index.html");
    const QString title = systemRecord(file.get(), 3);

    QWidget window;
    window.setWindowTitle(title.isEmpty() ? DefaultTitle : title);
    auto* layout = new QHBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    const QList<Topic> topics = readContents(file.get());
    auto* browser = new ChmBrowser(std::move(file), &window);
    // The contents beside the page: every topic one click away, titled in the user's language.
    if (!topics.isEmpty()) {
        auto* contents = new QListWidget(&window);
        contents->setObjectName(QStringLiteral("contents"));
        contents->setAccessibleName(QCoreApplication::translate("HelpContents", "目录"));
        for (const Topic& t : topics) {
            auto* item = new QListWidgetItem(
                QCoreApplication::translate("HelpContents", t.title.toUtf8().constData()),
                contents);
            item->setData(Qt::UserRole, t.page);
        }
        contents->setFixedWidth(contents->sizeHintForColumn(0) + 2 * contents->frameWidth() + 8);
        QObject::connect(contents, &QListWidget::itemActivated, browser,
                         [browser](QListWidgetItem* item) {
                             browser->setSource(QUrl(QStringLiteral("chm:/") +
                                                     item->data(Qt::UserRole).toString()));
                         });
        QObject::connect(contents, &QListWidget::itemClicked, contents,
                         &QListWidget::itemActivated);
        layout->addWidget(contents);
    }
    layout->addWidget(browser, 1);
    browser->setSource(QUrl(QStringLiteral("chm:/") + topic));
    window.resize(topics.isEmpty() ? 640 : 800, 480);
    window.show();
    std::printf("%s\n", window.windowTitle().toUtf8().constData());
    std::fflush(stdout);
    return app.exec();
}
