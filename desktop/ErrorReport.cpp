#include "desktop/ErrorReport.h"

#include "platform/Platform.h"

#include <cstdio>
#include <cstring>

namespace lanquill::desktop {

namespace {
std::function<void(const QString&)>& sink() {
    static std::function<void(const QString&)> instance;
    return instance;
}
} // namespace

void setErrorSink(std::function<void(const QString& text)> newSink) {
    sink() = std::move(newSink);
}

QString errorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
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
