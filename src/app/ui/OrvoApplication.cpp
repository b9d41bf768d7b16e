#include "app/ui/OrvoApplication.h"

#include "app/EscapedErrors.h"
#include "app/ui/Unit1.h"

OrvoApplication::OrvoApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(TForm1::Title);
    setApplicationDisplayName(TForm1::Title);
    setDesktopFileName("orvo-provision-tool");
}

bool OrvoApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ReportEscapedException(std::current_exception());
        return false;
    }
}
