#pragma once

#include "record/RecordEvents.h"

#include <QByteArray>
#include <QString>
#include <vector>

// How far a log has been read into the record. A log is known by the digest of its first line,
// which stays with its content when the web server's rotation renames it (access.log.1),
// copies it or compresses it (access.log.2.gz): any of these reads on from the offset kept for
// it, so nothing is recorded twice. Device and inode tell where it was read last.
struct LogCursor {
    QByteArray digest;   // SHA-256 of the first line (without its line end), 64 hex digits
    QByteArray path;     // the log's path as it was read last
    quint64 device = 0;  // of the file read last (a compressed copy: its own)
    quint64 inode = 0;
    qint64 offset = 0;  // bytes of the log's text (uncompressed) read: the end of a whole line
};

// Where cursors are kept, together with the events of the lines read: the store records the
// events of a stretch of a log and moves its cursor in one step, so that a crash or a second
// reader of the same log never records a line twice.
class LogCursorStore {
  public:
    enum class Result {
        Done,
        Conflict,  // the kept offset was no longer `from`: another reader recorded these lines
        Failed,
    };

    virtual ~LogCursorStore() = default;
    // The cursor kept for the log whose first line has this digest: offset 0 when none is.
    // False with *error when the store cannot be read.
    virtual bool Load(const QByteArray& digest, LogCursor* cursor, QString* error) = 0;
    // Records the events and sets the kept cursor to `cursor`, if the kept offset is still
    // `from` (0 for a log not kept yet); nothing changes otherwise.
    virtual Result Commit(const LogCursor& cursor, qint64 from,
                          const std::vector<FetchEvent>& events, QString* error) = 0;
};
