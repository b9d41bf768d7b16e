#pragma once

#include "support/TempDir.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

// An orvo-cli command running in the background; its output is read when it has ended.
class CliProcess {
  public:
    // environment: added to the program's own (none: as it is).
    explicit CliProcess(const QStringList& args,
                        const QProcessEnvironment& environment = QProcessEnvironment()) {
        if (!environment.isEmpty()) {
            QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
            e.insert(environment);
            process_.setProcessEnvironment(e);
        }
        process_.start(BuiltProgram("orvo-cli"), args);
        process_.waitForStarted();
    }
    ~CliProcess() { Stop(); }
    // The first line that matches, waiting up to ms for it.
    QString WaitForLine(const QRegularExpression& pattern, int ms = 15000) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            out_ += process_.readAllStandardOutput();
            for (const QByteArray& line : out_.split('\n'))
                if (pattern.match(QString::fromUtf8(line)).hasMatch())
                    return QString::fromUtf8(line);
            if (!process_.waitForReadyRead(200) && process_.state() == QProcess::NotRunning)
                break;
        }
        return {};
    }
    // SIGTERM; gives the exit code (-1 when it had to be killed).
    int Stop() {
        if (process_.state() == QProcess::NotRunning)
            return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
        process_.terminate();
        if (!process_.waitForFinished(10000)) {
            process_.kill();
            process_.waitForFinished(2000);
            return -1;
        }
        out_ += process_.readAllStandardOutput();
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    QByteArray Output() const { return out_; }
    // What it wrote to stderr so far.
    QByteArray ErrorOutput() {
        err_ += process_.readAllStandardError();
        return err_;
    }

  private:
    QProcess process_;
    QByteArray out_;
    QByteArray err_;
};
