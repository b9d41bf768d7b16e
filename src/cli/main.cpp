// orvo-cli: the program's logic without the window, for scripts.
#include "cli/Cli.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

void usage(FILE* out) {
    std::fprintf(out, "usage: orvo-cli <command> [options]\ncommands:\n");
    for (const auto& [name, command] : CliCommands())
        std::fprintf(out, "  orvo-cli %s\n", command.usage.toUtf8().constData());
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        usage(args.isEmpty() ? stderr : stdout);
        return args.isEmpty() ? 2 : 0;
    }
    const QString name = args.takeFirst();
    const auto it = CliCommands().find(name);
    if (it == CliCommands().end()) {
        std::fprintf(stderr, "orvo-cli: unknown command \"%s\"\n", name.toUtf8().constData());
        usage(stderr);
        return 2;
    }
    return it->second.run(args);
}
