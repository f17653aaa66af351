// The application's top-level error report. Every event handler of the program runs through it:
// an exception that leaves a handler is shown in a message box with its text, and the program
// carries on with the next event.
#pragma once

#include <QString>

#include <exception>
#include <functional>
#include <utility>

namespace lanquill::contacts {
struct BookFailure;
}

namespace lanquill::desktop {

// A failure of the contact book in the user's language (the Chinese is the book's own wording).
QString bookErrorText(const contacts::BookFailure& failure);

// Where reports go; the application sets a message box, tests set a recorder.
void setErrorSink(std::function<void(const QString& text)> sink);

// The text shown for an exception: for the contact book's, its bookErrorText.
QString errorText(const std::exception_ptr& error);

// Reports the exception being handled; call only from a catch block.
void reportCurrentException();

// Runs `handler`, reporting anything it throws. Returns false when it threw.
template <class Handler> bool runReported(Handler&& handler) {
    try {
        std::forward<Handler>(handler)();
        return true;
    } catch (...) {
        reportCurrentException();
        return false;
    }
}

// A slot for QObject::connect that runs `handler` through the error report, so an exception
// never unwinds through Qt's own frames.
template <class Handler> auto reported(Handler handler) {
    return [handler = std::move(handler)](auto&&... args) {
        runReported([&] { handler(std::forward<decltype(args)>(args)...); });
    };
}

} // namespace lanquill::desktop
