#include "cli/Cli.h"

#include <QFile>

#include <cstdio>

std::map<QString, CliCommand>& CliCommands() {
    static std::map<QString, CliCommand> commands;
    return commands;
}

CliRegistration::CliRegistration(const QString& name, CliCommand command) {
    CliCommands()[name] = std::move(command);
}

int CliFail(const QString& subject, const QString& problem) {
    const QByteArray line =
        "orvo-cli: " + (subject.isEmpty() ? QString() : subject + ": ").toUtf8() +
        problem.toUtf8() + "\n";
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    return 1;
}

void CliPrint(const QByteArray& line) {
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
}

void CliPrint(const QString& line) {
    CliPrint(line.toUtf8());
}

CliArgs::CliArgs(const QStringList& args, const QStringList& flags) {
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (!a.startsWith("--") || a == "--") {
            positional_ << a;
            continue;
        }
        const QString name = a.mid(2);
        if (flags.contains(name)) {
            values_.emplace(name, QString());
        } else if (i + 1 < args.size()) {
            values_.emplace(name, args[++i]);
        } else {
            error_ = "option " + a + " needs a value";
            return;
        }
    }
}

QString CliArgs::value(const QString& name, const QString& fallback) const {
    const auto it = values_.find(name);
    return it == values_.end() ? fallback : it->second;
}

QStringList CliArgs::values(const QString& name) const {
    QStringList out;
    const auto range = values_.equal_range(name);
    for (auto it = range.first; it != range.second; ++it)
        out << it->second;
    return out;
}
