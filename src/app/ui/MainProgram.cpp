#include "app/ui/MainProgram.h"

#include "app/ui/OrvoApplication.h"
#include "app/ui/QuitSignals.h"
#include "app/ui/Unit1.h"

#include <QCommandLineParser>
#include <QIcon>
#include <QTimer>

static void initResources() {
    Q_INIT_RESOURCE(shell);
}

std::optional<QByteArray> InformationRequested(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    // "-name" is "--name", as Qt's own options are written; they are unknown here and left to Qt.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(
        {QCommandLineOption(QStringList{"h", "help"}), QCommandLineOption("version")});
    parser.parse(arguments);
    if (parser.isSet("version"))
        return QByteArray("orvo-provision-tool " ORVO_VERSION "\n");
    if (!parser.isSet("help"))
        return std::nullopt;
    return QByteArray(
        "usage: orvo-provision-tool [QT-OPTIONS]\n"
        "       orvo-provision-tool --help | --version\n"
        "Opens the window of Orvo Provision Tool: edit phone configurations, generate them per\n"
        "phone from a CSV table, find phones on the LAN, serve their files (HTTP, HTTPS, TFTP,\n"
        "plug-and-play) and follow each phone in the provisioning record.\n"
        "The window works in its current folder: started as orvo-provision-tool from PATH, that\n"
        "is the user's runtime folder ${XDG_DATA_HOME:-~/.local/share}/orvo-provision-tool.\n"
        "\n"
        "options:\n"
        "  -h, --help      print this help and exit\n"
        "  --version       print the version and exit\n"
        "  QT-OPTIONS      Qt's options, such as -platform offscreen (no display needed)\n"
        "\n"
        "See orvo-provision-tool(1); orvo-cli does the same work without the window.\n");
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
