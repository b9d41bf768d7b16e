#include "app/ui/MainProgram.h"

#include "app/ui/OrvoApplication.h"
#include "app/ui/QuitSignals.h"
#include "app/ui/Unit1.h"

#include <QIcon>
#include <QTimer>

static void initResources() {
    Q_INIT_RESOURCE(shell);
}

bool DisplayAvailable() {
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

int RunOrvoProvisionTool(int argc, char** argv, const std::function<void(TForm1&)>& afterShow) {
    OrvoApplication app(argc, argv);
    initResources();
    app.setWindowIcon(QIcon(":/orvo/orvo-provision-tool.png"));
    QuitSignals quitSignals;
    // A quit signal closes the window as its close button does, also while message boxes wait
    // for an answer: they are closed and no further one opens.
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &app, [] {
        QtDialogs::SetClosing(true);
        QApplication::closeAllWindows();
        QCoreApplication::quit();
    });

    TForm1 form;
    form.show();
    // A quit signal that came while the first page prepared itself (its messages run their own
    // event loops) has closed the window already.
    if (QtDialogs::IsClosing())
        return 0;
    if (afterShow)
        QTimer::singleShot(0, &form, [&form, &afterShow] { afterShow(form); });
    return app.exec();
}
