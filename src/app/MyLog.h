#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <mutex>

// Text from outside (a request path, a SIP field, a User-Agent) as one log line may hold it:
// every control byte (CR, LF, NUL, ... and DEL) written as "%" and two upper-case hex digits,
// so that no client can end a line or forge the next one. Other bytes stay as they are.
QByteArray LogSafeText(const QByteArray& text);

// The program's log: one file per run in <working directory>/log, one line per event.
// Write may be called from any thread; each line goes out whole in one write call.
class MyLog {
  public:
    MyLog() = default;
    ~MyLog();
    MyLog(const MyLog&) = delete;
    MyLog& operator=(const MyLog&) = delete;

    // The directory in which the log directory is made (the working directory).
    void SetDirectory(const QString& directory);
    // 0 when a new log file is open, -1 on any failure (the log then stays closed).
    int Open();
    // Appends "<date> <time> <message>\r\n", the message through LogSafeText, so that one call
    // is one line; does nothing while no file is open. The line observer, when set, gets every
    // message as written (open file or not) on the writing thread.
    void Write(const QByteArray& text) { Append(FormatLine(text)); }
    void Write(const QString& message) { Write(message.toUtf8()); }
    void Write(const char* message) { Write(QByteArray(message)); }
    // The two halves of Write, for a thread that writes several lines at once: FormatLine gives
    // the line Write would write (and hands the message to the line observer); Append writes
    // such lines, as many as given, in one write call.
    QByteArray FormatLine(const QByteArray& text) const;
    void Append(const QByteArray& lines);
    void Close();
    // Removes the oldest log files so that at most keep remain, the open one always among them;
    // nothing when keep <= 0.
    void TidyUp(int keep);

    // Set before any thread writes (orvo-cli prints the lines with it).
    void SetLineObserver(std::function<void(const QByteArray& message)> observer) {
        observer_ = std::move(observer);
    }

    bool IsOpen() const;
    QString Directory() const { return directory_; }
    QString FileName() const { return fileName_; }

    // The date and time rendering at the start of each line, e.g. "2024-01-05 13:04:05".
    static QByteArray LineStamp();

  private:
    QString directory_;
    QString fileName_;
    int fd_ = -1;
    std::function<void(const QByteArray& message)> observer_;
    mutable std::mutex mutex_;
};
