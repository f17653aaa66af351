#include "desktop/ErrorReport.h"

#include "contacts/XmlDocument.h"
#include "platform/Platform.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace lanquill::desktop {

namespace {
std::function<void(const QString&)>& sink() {
    static std::function<void(const QString&)> instance;
    return instance;
}

using contacts::BookError;
using contacts::BookFailure;

// The contact book's sentences, in the words of contacts::describe, which stays the wording for
// what() and the terminal; a test holds the two to each other.
class BookTexts {
    Q_DECLARE_TR_FUNCTIONS(lanquill::desktop::BookTexts)

public:
    static QString field(const BookFailure& f) {
        switch (f.field) {
        case contacts::BookField::GroupName:
            return tr("工作组名");
        case contacts::BookField::ComputerName:
            return tr("机器名");
        case contacts::BookField::UserName:
            return tr("用户名");
        case contacts::BookField::IpAddress:
            return tr("IP地址");
        case contacts::BookField::Memo:
            return tr("说明");
        case contacts::BookField::Attribute:
            return tr("属性“%1”的值").arg(QString::fromStdString(f.detail));
        case contacts::BookField::None:
        case contacts::BookField::Text:
            break;
        }
        return tr("文本");
    }

    static QString reason(const BookFailure& f) {
        // The system's own text for the errno, in the locale's language.
        const QString why = QString::fromLocal8Bit(std::strerror(f.error));
        const QString detail = QString::fromStdString(f.detail);
        const QString size = QString::number(f.size), limit = QString::number(f.limit);
        switch (f.code) {
        case BookError::Internal:
            break;
        case BookError::CannotOpen:
            return tr("无法打开文件（%1）").arg(why);
        case BookError::CannotRead:
            return tr("无法读取文件（%1）").arg(why);
        case BookError::NotRegularFile:
            return tr("不是普通文件");
        case BookError::FileTooLarge:
            if (f.size == 0)
                return tr("文件太大（通讯录最多 %1 字节）").arg(limit);
            return tr("文件太大（%1 字节，通讯录最多 %2 字节）").arg(size, limit);
        case BookError::EmptyFile:
            return tr("文件是空的");
        case BookError::OutOfMemory:
            return tr("内存不足");
        case BookError::TooManyAttributes:
            return tr("有元素带有超过 %1 个属性，通讯录不会有这样的元素").arg(limit);
        case BookError::Doctype:
            return tr("通讯录中不允许文档类型声明（DOCTYPE）");
        case BookError::WrongEncoding:
            if (detail.isEmpty())
                return tr("文本不符合文件声明的编码");
            return tr("文本不符合文件声明的编码（%1）").arg(detail);
        case BookError::NotParsed:
            return detail; // libxml2's own account, which has no translation
        case BookError::NotWellFormed:
            return tr("文件不是格式正确的 XML");
        case BookError::NoRootElement:
            return tr("文件中没有根元素");
        case BookError::TooManyLinks:
            return tr("符号链接层数太多");
        case BookError::CannotReadLink:
            return tr("无法读取符号链接（%1）").arg(why);
        case BookError::NotAFileName:
            return tr("不是文件名");
        case BookError::ReadOnlyFile:
            return tr("文件是只读的");
        case BookError::NotWritable:
            return tr("文件不可写（%1）").arg(why);
        case BookError::CannotCheckFile:
            return why;
        case BookError::FolderUnusable:
            return tr("文件夹 %1 无法使用（%2）").arg(detail, why);
        case BookError::NotAFolder:
            return tr("%1 不是文件夹").arg(detail);
        case BookError::ReadOnlyFolder:
            return tr("文件夹 %1 是只读的").arg(detail);
        case BookError::EncodingUnavailable:
            return tr("无法以编码 %1 写入").arg(detail);
        case BookError::EncodingCannotHold:
            return tr("文档无法以编码 %1 写出").arg(detail);
        case BookError::BookTooLarge:
            return tr("通讯录太大（%1 字节，通讯录最多 %2 "
                      "字节）。什么也没有改动；请删除一些计算机或缩短备注")
                .arg(size, limit);
        case BookError::CannotSetAside:
            return tr("无法将那里无法读取的文件另存（%1）").arg(why);
        case BookError::TooManySetAside:
            return tr("另存的无法读取的副本太多");
        case BookError::CannotCreateTemporary:
            return tr("无法在 %1 中创建临时文件（%2）").arg(detail, why);
        case BookError::CannotSetMode:
            return tr("无法设置文件权限（%1）").arg(why);
        case BookError::CannotReplace:
            return tr("无法替换文件（%1）").arg(why);
        case BookError::WriteFailed:
            return tr("写入失败（%1）").arg(why);
        case BookError::CannotOpenLock:
            return tr("无法打开锁文件 %1（%2）").arg(detail, why);
        case BookError::CannotLock:
            return tr("无法锁定锁文件 %1（%2）").arg(detail, why);
        case BookError::ValueTooLong:
            return tr("%1太长（%2 字节，最多 %3 字节）").arg(field(f), size, limit);
        case BookError::ValueNotUtf8:
            return tr("%1不是有效的 UTF-8 文本").arg(field(f));
        case BookError::ValueBadCharacter:
            return tr("%1含有 XML 无法保存的字符（U+%2）")
                .arg(field(f),
                     QString::number(f.size, 16).toUpper().rightJustified(4, QLatin1Char('0')));
        }
        return tr("内部错误");
    }

    static QString sentence(const BookFailure& f) {
        const QString path = QString::fromStdString(f.path);
        switch (f.action) {
        case contacts::BookAction::Read:
            if (f.line > 0)
                return tr("无法读取通讯录 %1，第 %2 行：%3")
                    .arg(path, QString::number(f.line), reason(f));
            return tr("无法读取通讯录 %1：%2").arg(path, reason(f));
        case contacts::BookAction::Save:
            return tr("无法保存通讯录 %1：%2").arg(path, reason(f));
        case contacts::BookAction::Edit:
            return tr("无法修改通讯录 %1：%2").arg(path, reason(f));
        case contacts::BookAction::Store:
            break;
        }
        return reason(f);
    }
};

} // namespace

QString bookErrorText(const BookFailure& failure) {
    return BookTexts::sentence(failure);
}

void setErrorSink(std::function<void(const QString& text)> newSink) {
    sink() = std::move(newSink);
}

QString errorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const contacts::XmlError& e) {
        if (e.failure().code == BookError::Internal)
            return QString::fromUtf8(e.what());
        return bookErrorText(e.failure());
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error.");
    }
}

void reportCurrentException() {
    const QString text = errorText(std::current_exception());
    if (sink()) {
        sink()(text);
    } else {
        std::fprintf(stderr, "lanquill: %s\n", text.toLocal8Bit().constData());
    }
}

} // namespace lanquill::desktop
