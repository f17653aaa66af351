#include "desktop/ChmHelpViewer.h"

#include <QApplication>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWidget>

#include <chm_lib.h>

#include <memory>

namespace lanquill::desktop {

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

    chmFile* file() const { return file_.get(); }

private:
    ChmHandle file_;
};

} // namespace

bool ChmHelpViewer::closeWindowTitled(const QString& title) {
    bool closed = false;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->windowTitle() == title) {
            window->close();
            closed = true;
        }
    }
    return closed;
}

bool ChmHelpViewer::open(const std::string& path) {
    ChmHandle file(chm_open(path.c_str()), &chm_close);
    if (!file)
        return false;
    QString topic = systemRecord(file.get(), 2);
    if (topic.isEmpty())
        topic = QStringLiteral("index.html");
    QString title = systemRecord(file.get(), 3);

    auto* window = new QWidget(nullptr, Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(title.isEmpty() ? QStringLiteral("Lanquill 2.0") : title);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* browser = new ChmBrowser(std::move(file), window);
    layout->addWidget(browser);
    browser->setSource(QUrl(QStringLiteral("chm:/") + topic));
    window->resize(640, 480);
    window->show();
    return true;
}

} // namespace lanquill::desktop
