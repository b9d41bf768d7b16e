#pragma once

#include <QApplication>
#include <exception>
#include <functional>

// The application object. An exception that escapes an event handler ends in notify, which
// hands it to the exception handler (the main window's application-level handler) and goes on
// with the event loop.
class OrvoApplication : public QApplication {
    Q_OBJECT
  public:
    OrvoApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    std::function<void(std::exception_ptr)> exceptionHandler;
};
