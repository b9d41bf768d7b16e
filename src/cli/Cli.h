#pragma once

#include <QString>
#include <QStringList>
#include <csignal>
#include <functional>
#include <map>

// One subcommand of orvo-cli: its usage line and its entry (arguments after the name).
struct CliCommand {
    QString usage;
    std::function<int(const QStringList& args)> run;
};

// Subcommands register themselves from their own source files.
std::map<QString, CliCommand>& CliCommands();
struct CliRegistration {
    CliRegistration(const QString& name, CliCommand command);
};

// "orvo-cli: <subject>: <problem>" on stderr; returns the exit code 1.
int CliFail(const QString& subject, const QString& problem);
// The same line for something the command told and went on after.
void CliWarn(const QString& subject, const QString& problem);
void CliPrint(const QByteArray& line);
void CliPrint(const QString& line);
// A log line on stdout as the log file holds it ("<date> <time> <message>"), flushed at once;
// from any thread, one whole line at a time.
void CliPrintLogLine(const QByteArray& message);

// SIGINT and SIGTERM end a foreground command. Make this before the command starts any thread:
// threads inherit the blocked signals, so only Wait and Arrived receive them (an ignored
// signal would never arrive, as in a background job, so both are set to their default first).
class CliStopSignals {
  public:
    CliStopSignals();
    // Blocks until one of them arrives.
    void Wait();
    // True once one has arrived; never blocks.
    bool Arrived();

  private:
    sigset_t signals_;
    bool arrived_ = false;
};

// A small option reader: "--name value" options, "--flag" switches and the rest positional.
class CliArgs {
  public:
    // flags: the switches that take no value.
    CliArgs(const QStringList& args, const QStringList& flags);
    bool ok() const { return error_.isEmpty(); }
    QString error() const { return error_; }
    bool has(const QString& name) const { return values_.count(name) != 0; }
    QString value(const QString& name, const QString& fallback = {}) const;
    // Every value of an option given several times.
    QStringList values(const QString& name) const;
    const QStringList& positional() const { return positional_; }

  private:
    std::multimap<QString, QString> values_;
    QStringList positional_;
    QString error_;
};
