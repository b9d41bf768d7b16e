#pragma once

#include <QApplication>

// The application object. An exception that escapes an event handler unguarded ends in notify,
// which reports it to the application-level handler (EscapedErrors.h) and goes on with the event
// loop.
class OrvoApplication : public QApplication {
    Q_OBJECT
  public:
    OrvoApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};
