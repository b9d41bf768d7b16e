#pragma once

#include "accesslog/AccessLogLine.h"
#include "accesslog/LogCursor.h"
#include "accesslog/LogFile.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

// What to take from a log's lines.
struct LogImportOptions {
    AccessLogFormat format = AccessLogFormat::Combined;
    QByteArray prefix;  // NormalizedUrlPrefix: the URL path of the batch output; "" the root
};

// What reading a log has met so far.
struct LogImportCounts {
    qint64 lines = 0;      // whole lines read (not those read before)
    qint64 recorded = 0;   // handed to the record as downloads
    qint64 notFiles = 0;   // in the format, but naming no file below the prefix
    qint64 malformed = 0;  // not in the format (a line longer than kMaxLineBytes among them)
};

// The download a line records, or false when it names no file below the prefix (no request,
// another folder). Protocol "external": the server's own acknowledgment is unknown, so
// complete stays false and fileSize -1; bytes is what the server says it sent.
bool FetchEventOfLine(const AccessLogLine& line, const QByteArray& prefix, FetchEvent* event);

// One log file read into a store from where its cursor stands: each whole line once, the last
// line only when its line end is written. Lines are recorded in stretches of at most
// kCommitLines; memory stays bounded by a stretch and the longest line.
class LogStream {
  public:
    static constexpr qsizetype kMaxLineBytes = 1 << 20;
    static constexpr size_t kCommitLines = 5000;

    LogStream(const LogImportOptions& options, LogCursorStore& store, LogImportCounts& counts);
    ~LogStream();

    bool Open(const QString& path, QString* error);
    // Asked after each chunk read: when it says so, ReadAvailable commits what it took and
    // returns (true), the rest left for the next call.
    void SetInterrupt(std::function<bool()> interrupted) { interrupted_ = std::move(interrupted); }
    bool IsOpen() const { return file_.IsOpen(); }
    const LogFile& File() const { return file_; }
    // Reads and records what the file holds now. False with *error when the file or the store
    // fails.
    bool ReadAvailable(QString* error);
    // A plain file that was cut (copy-and-truncate rotation): smaller than what was read, or
    // its first line changed. It is then read again from its start as a new log.
    bool Truncated();
    // Starts over at the file's beginning, the first line unknown again.
    bool Restart(QString* error);

  private:
    bool identify(QString* error);
    bool readLines(bool* moved, QString* error);
    void takeLine(const char* begin, const char* end);
    bool commit(bool* moved, QString* error);
    bool moveTo(qint64 offset, QString* error);

    LogImportOptions options_;
    LogCursorStore& store_;
    LogImportCounts& counts_;
    AccessLogReader reader_;
    LogFile file_;
    QString path_;
    LogCursor cursor_;          // as kept in the store
    bool identified_ = false;   // the first line is known, cursor_ loaded
    QByteArray firstLine_;      // its bytes, up to kMaxLineBytes
    std::vector<char> buffer_;  // bytes read, not yet a whole line
    size_t buffered_ = 0;
    bool discarding_ = false;          // within a line longer than kMaxLineBytes
    qint64 discarded_ = 0;             // of its bytes, those left out so far
    qint64 consumed_ = 0;              // offset after the last whole line taken
    qint64 checkedSize_ = -1;          // the size at the last look for a cut
    std::vector<FetchEvent> events_;   // the stretch not committed yet
    LogImportCounts pending_;          // and what it met
    QByteArray lastPeer_, lastAgent_;  // shared with the events while the same
    std::function<bool()> interrupted_;
};

// Follows a log by its path: reads what arrives, and when the web server rotates it, finishes
// the old file (renamed: read on for kRotationGrace after the new one appeared, as the server
// may write a last line before it reopens) and reads the new one from its start; a file
// truncated in place is read again from its start.
class LogFollower {
  public:
    static constexpr std::chrono::milliseconds kRotationGrace{2000};

    LogFollower(const QString& path, const LogImportOptions& options, LogCursorStore& store);
    ~LogFollower();

    // Asked after each chunk read (see LogStream::SetInterrupt): a follower asked to stop ends
    // its look soon also in a long backlog.
    void SetInterrupt(std::function<bool()> interrupted) { interrupted_ = std::move(interrupted); }
    // Opens the log; false with *error when it cannot be read.
    bool Start(QString* error);
    // One look: reads and records what arrived, and notices a rotation. False with *error when
    // the store fails or a file cannot be read any more.
    bool Poll(QString* error);
    const LogImportCounts& Counts() const { return counts_; }
    // What happened in the last Poll, for a log line: "rotated", "truncated" or empty.
    QByteArray LastChange() const { return lastChange_; }

  private:
    bool openNew(QString* error);

    QString path_;
    LogImportOptions options_;
    LogCursorStore& store_;
    LogImportCounts counts_;
    std::unique_ptr<LogStream> current_;
    std::unique_ptr<LogStream> previous_;  // the rotated file, read during its grace
    std::chrono::steady_clock::time_point previousUntil_;
    QByteArray lastChange_;
    std::function<bool()> interrupted_;
};

// Reads a log once, from where its cursor stands to its last whole line.
bool ImportLog(const QString& path, const LogImportOptions& options, LogCursorStore& store,
               LogImportCounts* counts, QString* error);
