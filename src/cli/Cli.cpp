#include "cli/Cli.h"

#include "app/MyLog.h"

#include <QFile>

#include <pthread.h>
#include <cstdio>
#include <ctime>
#include <mutex>

std::map<QString, CliCommand>& CliCommands() {
    static std::map<QString, CliCommand> commands;
    return commands;
}

CliRegistration::CliRegistration(const QString& name, CliCommand command) {
    CliCommands()[name] = std::move(command);
}

void CliWarn(const QString& subject, const QString& problem) {
    const QByteArray line =
        "orvo-cli: " + (subject.isEmpty() ? QString() : subject + ": ").toUtf8() +
        problem.toUtf8() + "\n";
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
}

int CliFail(const QString& subject, const QString& problem) {
    CliWarn(subject, problem);
    return 1;
}

void CliPrint(const QByteArray& line) {
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
}

void CliPrint(const QString& line) {
    CliPrint(line.toUtf8());
}

void CliPrintLogLine(const QByteArray& message) {
    static std::mutex mutex;
    const QByteArray line = MyLog::LineStamp() + ' ' + message + '\n';
    std::lock_guard<std::mutex> lock(mutex);
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}

CliStopSignals::CliStopSignals() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
}

void CliStopSignals::Wait() {
    int signal = 0;
    while (!arrived_)
        arrived_ = sigwait(&signals_, &signal) == 0;
}

bool CliStopSignals::Arrived() {
    const timespec now{0, 0};
    if (!arrived_)
        arrived_ = sigtimedwait(&signals_, nullptr, &now) > 0;
    return arrived_;
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
