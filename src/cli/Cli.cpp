#include "cli/Cli.h"

#include "app/DebugChannel.h"
#include "app/MyLog.h"
#include "config/CfgCrypto.h"

#include <pthread.h>
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

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
    CliFlushLogLines();  // in the order printed
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
}

void CliPrint(const QString& line) {
    CliPrint(line.toUtf8());
}

namespace {

// Log lines reach stdout through one printing thread, so a server thread never waits for
// whoever reads the output (a paused pager, a full pipe). Lines beyond the bound are counted
// and left out, and the count is printed once the output moves again.
class LogLinePrinter {
  public:
    static LogLinePrinter& instance() {
        static auto* printer = new LogLinePrinter;  // never destroyed: its thread may outlive main
        return *printer;
    }

    void push(QByteArray line) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (bytes_ + static_cast<size_t>(line.size()) > kMaxQueuedBytes) {
            ++dropped_;
            return;
        }
        bytes_ += static_cast<size_t>(line.size());
        queue_.push_back(std::move(line));
        if (!thread_.joinable())
            thread_ = std::thread([this] { run(); });
        wake_.notify_one();
    }

    // Returns when every line pushed so far is written.
    void flush() {
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait(lock, [this] { return queue_.empty() && !writing_ && dropped_ == 0; });
    }

  private:
    static constexpr size_t kMaxQueuedBytes = 16 << 20;

    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return !queue_.empty() || dropped_ != 0; });
            std::deque<QByteArray> lines;
            lines.swap(queue_);
            bytes_ = 0;
            const quint64 dropped = std::exchange(dropped_, 0);
            writing_ = true;
            lock.unlock();
            for (const QByteArray& line : lines)
                std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
            if (dropped != 0) {
                const QByteArray note = MyLog::LineStamp() +
                                        " orvo-cli: " + QByteArray::number(dropped) +
                                        " log lines not printed: the output was not read\n";
                std::fwrite(note.constData(), 1, static_cast<size_t>(note.size()), stdout);
            }
            std::fflush(stdout);
            lock.lock();
            writing_ = false;
            idle_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<QByteArray> queue_;
    size_t bytes_ = 0;
    quint64 dropped_ = 0;
    bool writing_ = false;
    std::thread thread_;
};

}  // namespace

void CliPrintLogLine(const QByteArray& message) {
    LogLinePrinter::instance().push(MyLog::LineStamp() + ' ' + LogSafeText(message) + '\n');
}

void CliFlushLogLines() {
    LogLinePrinter::instance().flush();
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

namespace {

const QString kProgram = QStringLiteral("orvo-cli");

QString optionSyntax(const CliOption& option) {
    return "--" + option.name + (option.valueName.isEmpty() ? QString() : ' ' + option.valueName);
}

std::vector<CliOption> optionsWithHelp(const CliCommand& command) {
    std::vector<CliOption> options = command.options;
    options.push_back({"debug", {}, "print the debug lines on stderr as well"});
    options.push_back({"help", {}, "print this help and exit"});
    return options;
}

// Qt's own warnings are debug lines: stderr carries the command's errors only.
void qtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    DebugLine("Qt: " + message.toUtf8());
    if (type == QtFatalMsg)
        std::abort();
}

void write(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
}

// "orvo-cli[ NAME]: PROBLEM; see 'orvo-cli[ NAME] --help'" on stderr; gives the exit status 2.
int usageError(const QString& name, const QString& problem) {
    const QString program = name.isEmpty() ? kProgram : kProgram + ' ' + name;
    write(stderr, program + ": " + problem + "; see '" + program + " --help'\n");
    return 2;
}

QString programHelp() {
    QString text =
        "usage: orvo-cli COMMAND [OPTIONS] [ARGUMENTS]\n"
        "       orvo-cli help COMMAND | orvo-cli COMMAND --help\n"
        "       orvo-cli --version\n\ncommands:\n";
    for (const auto& [name, command] : CliCommands())
        text += "  " + CliUsageLine(name, command) + "\n      " + command.summary + '\n';
    return text + "\nexit status: 0 done, 1 the work failed, 2 a usage error\n";
}

QString commandHelp(const QString& name, const CliCommand& command) {
    const std::vector<CliOption> options = optionsWithHelp(command);
    qsizetype width = 0;
    for (const CliOption& option : options)
        width = std::max(width, optionSyntax(option).size());
    QString text =
        "usage: " + CliUsageLine(name, command) + '\n' + command.summary + "\n\noptions:\n";
    for (const CliOption& option : options)
        text += "  " + optionSyntax(option).leftJustified(width) + "  " + option.description + '\n';
    return text;
}

// The command names, or a command's options as its usage line writes them, one a line.
int listOptions(const QStringList& names) {
    if (names.isEmpty()) {
        for (const auto& [name, command] : CliCommands())
            CliPrint(name);
        return 0;
    }
    const auto it = CliCommands().find(names[0]);
    if (it == CliCommands().end())
        return usageError({}, "unknown command '" + names[0] + "'");
    for (const CliOption& option : optionsWithHelp(it->second))
        CliPrint(optionSyntax(option));
    return 0;
}

// The parser's "Unknown option 'x'." as "unknown option 'x'".
QString worded(const QString& parserError) {
    QString text = parserError;
    if (text.endsWith('.'))
        text.chop(1);
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

void configure(QCommandLineParser& parser) {
    // "-name" is "--name": a single dash never starts a group of one-letter options.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(QCommandLineOption(QStringList{"h", "help"}));
    parser.addOption(QCommandLineOption("debug"));
}

int runCommand(const QString& name, const QStringList& args) {
    const auto it = CliCommands().find(name);
    if (it == CliCommands().end())
        return usageError({}, "unknown command '" + name + "'");
    CliArgs parsed;
    const bool ok = parsed.parse(it->second, args);
    if (parsed.helpAsked()) {
        write(stdout, commandHelp(name, it->second));
        return 0;
    }
    if (!ok)
        return usageError(name, parsed.error());
    if (parsed.has("debug"))
        SetDebugChannel(true);
    const int status = it->second.run(parsed);
    CliFlushLogLines();
    return status;
}

}  // namespace

int CliUsageError(const QString& name, const QString& problem) {
    return usageError(name, problem);
}

QString CliXmlKeyProblem(const QByteArray& key) {
    if (key.size() > 16)
        return "the key is longer than 16 characters";
    if (!IsHexKeyText(key))
        return "the key holds characters that are not hexadecimal digits (0-9, a-f): it would "
               "end at the first of them";
    return {};
}

QString CliUsageLine(const QString& name, const CliCommand& command) {
    QStringList words{kProgram, name};
    if (!command.subcommand.isEmpty())
        words << command.subcommand;
    for (const CliOption& option : command.options)
        words << (option.required ? optionSyntax(option) : '[' + optionSyntax(option) + ']');
    if (!command.positional.isEmpty())
        words << command.positional;
    return words.join(' ');
}

int CliMain(const QStringList& args) {
    SetDebugChannel(false);
    qInstallMessageHandler(qtMessage);
    QCommandLineParser parser;
    configure(parser);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.addOptions({QCommandLineOption("version"), QCommandLineOption("list-options")});
    if (!parser.parse(QStringList{kProgram} + args))
        return usageError({}, worded(parser.errorText()));
    const QStringList words = parser.positionalArguments();
    if (parser.isSet("debug"))
        SetDebugChannel(true);
    if (parser.isSet("version")) {
        CliPrint(kProgram + ' ' + ORVO_VERSION);
        return 0;
    }
    if (parser.isSet("list-options"))
        return listOptions(words);
    if (parser.isSet("help") || words.value(0) == "help") {
        const QString name = words.value(words.value(0) == "help" ? 1 : 0);
        if (name.isEmpty()) {
            write(stdout, programHelp());
            return 0;
        }
        return runCommand(name, {"--help"});
    }
    if (words.isEmpty()) {
        write(stderr, programHelp());
        return 2;
    }
    return runCommand(words[0], words.mid(1));
}

bool CliArgs::parse(const CliCommand& command, const QStringList& args) {
    configure(parser_);
    for (const CliOption& option : command.options)
        parser_.addOption(QCommandLineOption(option.name, option.description, option.valueName));
    if (!parser_.parse(QStringList{kProgram} + args)) {
        error_ = worded(parser_.errorText());
        return false;
    }
    if (!command.subcommand.isEmpty()) {
        const QString first = parser_.positionalArguments().value(0);
        if (first != command.subcommand) {
            error_ = first.isEmpty() ? "missing " + command.subcommand
                                     : "unknown subcommand '" + first + "'";
            return false;
        }
        skipped_ = 1;
    }
    for (const CliOption& option : command.options) {
        if (parser_.values(option.name).size() > 1)
            error_ = "option '--" + option.name + "' is given more than once";
        else if (option.required && !parser_.isSet(option.name))
            error_ = "missing option '--" + option.name + "'";
        else if (!option.valueName.isEmpty() && !option.mayBeEmpty && parser_.isSet(option.name) &&
                 parser_.value(option.name).trimmed().isEmpty())
            error_ = "option '--" + option.name + "' is empty";
        if (!error_.isEmpty())
            return false;
    }
    const QStringList words = command.positional.split(' ', Qt::SkipEmptyParts);
    const QStringList given = positional();
    if (given.size() < words.size())
        error_ = "missing " + words.mid(given.size()).join(' ');
    else if (given.size() > words.size() && !(words.size() && words.last().endsWith("...")))
        error_ = "unexpected argument '" + given[words.size()] + "'";
    return error_.isEmpty();
}

bool CliArgs::helpAsked() const {
    return parser_.isSet("help");
}

QString CliArgs::value(const QString& name, const QString& fallback) const {
    return parser_.isSet(name) ? parser_.value(name) : fallback;
}
