#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <csignal>
#include <functional>
#include <map>
#include <vector>

class CliArgs;

// One option of a command: "--name VALUE", or the switch "--name" when valueName is empty. A
// value that is empty or blank is a usage error unless mayBeEmpty (an empty key has a meaning,
// an empty file name, address or list has none).
struct CliOption {
    QString name;
    QString valueName;
    QString description;
    bool required = false;
    bool mayBeEmpty = false;
};

// One subcommand of orvo-cli. Its declaration is the one source of its parsing, its usage line
// and its help: positional is the syntax of the arguments after the options ("IN OUT", "FILE..."
// for one or more), and each word stands for one argument.
struct CliCommand {
    QString summary;
    std::vector<CliOption> options;
    QString positional;
    std::function<int(const CliArgs& args)> run;
    // A word that must come first among the arguments ("orvo-cli record import ..."); it is
    // not one of positional().
    QString subcommand = {};
};

// Subcommands register themselves from their own source files.
std::map<QString, CliCommand>& CliCommands();
struct CliRegistration {
    CliRegistration(const QString& name, CliCommand command);
};

// The whole program: dispatches args (without the program's name) to a command, or answers
// --help, --version, help COMMAND and the hidden --list-options [COMMAND]. Exit status 0, 1 when
// the work failed, 2 for a usage error (one line on stderr). Every command takes --help and
// --debug; without --debug the debug channel and Qt's own messages stay silent.
int CliMain(const QStringList& args);
// "orvo-cli NAME --opt VALUE [--opt VALUE] ... POSITIONAL".
QString CliUsageLine(const QString& name, const CliCommand& command);

// A usage error that a command finds itself, written as the parser writes its own ("orvo-cli
// NAME: PROBLEM; see 'orvo-cli NAME --help'"); returns the exit code 2. Whatever is wrong with
// the command line itself is one: an option's value that is not of its form (not a number, out
// of its range, not one of its choices, no address), options that exclude each other or go
// together. Found before any work is done.
int CliUsageError(const QString& name, const QString& problem);
// What is wrong with an XML key given on the command line, in words: longer than 16
// characters, or a character that is not a hexadecimal digit (the key would end there); empty
// when it can be used.
QString CliXmlKeyProblem(const QByteArray& key);
// "orvo-cli: <subject>: <problem>" on stderr; returns the exit code 1.
int CliFail(const QString& subject, const QString& problem);
// The same line for something the command told and went on after.
void CliWarn(const QString& subject, const QString& problem);
void CliPrint(const QByteArray& line);
void CliPrint(const QString& line);
// A log line on stdout as the log file holds it ("<date> <time> <message>"), flushed at once;
// from any thread, one whole line at a time.
void CliPrintLogLine(const QByteArray& message);
// Waits until every log line handed to CliPrintLogLine is on stdout (before the program ends).
void CliFlushLogLines();

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

// The options and arguments a command was given, checked against its declaration.
class CliArgs {
  public:
    // False with a usage error in error(): an undeclared option, a missing or empty value, an
    // option given twice, a required option or argument missing, an argument too many.
    bool parse(const CliCommand& command, const QStringList& args);
    QString error() const { return error_; }
    bool helpAsked() const;
    bool has(const QString& name) const { return parser_.isSet(name); }
    QString value(const QString& name, const QString& fallback = {}) const;
    QStringList positional() const { return parser_.positionalArguments().mid(skipped_); }

  private:
    QCommandLineParser parser_;
    QString error_;
    int skipped_ = 0;  // the subcommand's word
};
