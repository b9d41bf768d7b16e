#pragma once

#include <QByteArray>
#include <QString>
#include <exception>
#include <functional>
#include <type_traits>
#include <utility>

// What the program does with an exception that escaped an event handler: socket failures give
// a message; what gives none is one log line, so that no failure passes unseen.
struct EscapedErrorReaction {
    QString messageKey;            // empty: nothing is shown
    bool resetHttpButton = false;  // a listening socket could not be bound (in use, or EACCES)
    // Without a message: what the exception says ("unknown exception" when it says nothing).
    QByteArray unshown;
};

EscapedErrorReaction ClassifyEscapedException(std::exception_ptr error);

// The application-level handler (the main window's while it exists). Reporting with none set
// drops the exception.
using EscapedExceptionHandler = std::function<void(std::exception_ptr)>;
void SetEscapedExceptionHandler(EscapedExceptionHandler handler);
void ReportEscapedException(std::exception_ptr error);

// Wraps an event handler so that an exception escaping it goes to the application-level
// handler right there instead of unwinding through the toolkit's frames (which are not
// exception safe). Connect every handler through it:
//   connect(button, &QPushButton::clicked, this, Guarded([this] { DDButtonClick(); }));
// A handler without parameters ignores the signal's arguments.
template <typename Handler>
auto Guarded(Handler handler) {
    return [handler = std::move(handler)](auto&&... args) {
        try {
            if constexpr (std::is_invocable_v<const Handler&, decltype(args)...>)
                handler(std::forward<decltype(args)>(args)...);
            else
                handler();
        } catch (...) {
            ReportEscapedException(std::current_exception());
        }
    };
}
