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
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &app,
                     [] { QApplication::closeAllWindows(); });

    TForm1 form;
    form.show();
    if (afterShow)
        QTimer::singleShot(0, &form, [&form, &afterShow] { afterShow(form); });
    return app.exec();
}
