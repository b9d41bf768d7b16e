// orvo-cli: the program's logic without the window, for scripts.
#include "cli/Cli.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return CliMain(app.arguments().mid(1));
}
