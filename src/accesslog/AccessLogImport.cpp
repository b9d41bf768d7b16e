#include "accesslog/AccessLogImport.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <cerrno>
#include <cstring>

namespace {

constexpr qint64 kChunkBytes = 256 * 1024;

// FetchEvent's method is a literal that lives for good.
const char* methodLiteral(QByteArrayView method) {
    static const char* const known[] = {"GET",     "HEAD",    "POST",  "PUT",  "DELETE",
                                        "OPTIONS", "CONNECT", "TRACE", "PATCH"};
    for (const char* name : known)
        if (method == QByteArrayView(name))
            return name;
    return "OTHER";
}

// The same text as last time keeps sharing last time's bytes.
const QByteArray& shared(QByteArray& last, QByteArrayView text) {
    if (last != text)
        last = text.toByteArray();
    return last;
}

// The event of a line; the peer and User-Agent share the bytes of the last event's when the
// same (many lines come from the same client and model).
bool fetchEvent(const AccessLogLine& line, const QByteArray& prefix, FetchEvent* event,
                QByteArray* lastPeer, QByteArray* lastAgent) {
    if (line.method.isEmpty())
        return false;
    QByteArray file = FileBelowPrefix(line.target, prefix);
    if (file.isEmpty())
        return false;
    event->time = line.time;
    event->protocol = "external";
    event->method = methodLiteral(line.method);
    event->peer = shared(*lastPeer, line.peer);
    event->path = std::move(file);
    event->status = line.status;
    event->bytes = line.bytes < 0 ? 0 : line.bytes;
    event->complete = false;
    event->userAgent = line.userAgent == "-" ? QByteArray() : shared(*lastAgent, line.userAgent);
    event->fileSize = -1;
    event->fileInode = 0;
    event->fileMtimeNs = 0;
    return true;
}

}  // namespace

bool FetchEventOfLine(const AccessLogLine& line, const QByteArray& prefix, FetchEvent* event) {
    QByteArray peer, agent;
    return fetchEvent(line, prefix, event, &peer, &agent);
}

LogStream::LogStream(const LogImportOptions& options, LogCursorStore& store,
                     LogImportCounts& counts)
    : options_(options), store_(store), counts_(counts), reader_(options.format) {}

LogStream::~LogStream() = default;

bool LogStream::Open(const QString& path, QString* error) {
    path_ = path;
    identified_ = false;
    checkedSize_ = -1;
    return file_.Open(path, error);
}

bool LogStream::Restart(QString* error) {
    identified_ = false;
    checkedSize_ = -1;
    return file_.Seek(0, error) == 0;
}

// Reads the first line, loads its cursor and moves to where it stands. Leaves identified_
// unset while the file holds no whole first line.
bool LogStream::identify(QString* error) {
    if (file_.Seek(0, error) != 0)
        return false;
    QByteArray head;
    char chunk[16 * 1024];
    qsizetype end = -1;
    while (end < 0 && head.size() < kMaxLineBytes) {
        const qint64 n = file_.Read(chunk, sizeof chunk, error);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        const qsizetype from = head.size();
        head.append(chunk, qsizetype(n));
        end = head.indexOf('\n', from);
    }
    if (end < 0 && head.size() < kMaxLineBytes)
        return file_.Seek(0, error) == 0;  // no whole line yet
    firstLine_ = head.left(end < 0 ? kMaxLineBytes : qMin(end, kMaxLineBytes));
    const QByteArray digest =
        QCryptographicHash::hash(firstLine_, QCryptographicHash::Sha256).toHex();
    LogCursor kept;
    if (!store_.Load(digest, &kept, error))
        return false;
    cursor_ = kept;
    cursor_.digest = digest;
    identified_ = true;
    checkedSize_ = -1;
    return moveTo(cursor_.offset, error);
}

// Reads on from offset when a line ends just before it there. A text that ends before offset
// holds nothing that was not read (a copy made before the last lines were written, as by
// copy-and-truncate): it is left unidentified and looked at again next time. Another text
// (another log that begins with the same line) is read from its start.
bool LogStream::moveTo(qint64 offset, QString* error) {
    buffered_ = 0;
    discarding_ = false;
    discarded_ = 0;
    events_.clear();
    pending_ = {};
    consumed_ = 0;
    if (offset == 0)
        return file_.Seek(0, error) == 0;
    const qint64 at = file_.Seek(offset - 1, error);
    if (at < 0)
        return false;
    char before = 0;
    const qint64 n = at == offset - 1 ? file_.Read(&before, 1, error) : 0;
    if (n < 0)
        return false;
    if (n == 1 && before == '\n') {
        consumed_ = offset;
        return true;
    }
    if (n == 0) {
        identified_ = false;
        return true;
    }
    return file_.Seek(0, error) == 0;
}

bool LogStream::ReadAvailable(QString* error) {
    for (;;) {
        if (!identified_) {
            if (!identify(error))
                return false;
            if (!identified_)
                return true;  // no whole first line yet, or nothing that was not read
        }
        bool moved = false;
        if (!readLines(&moved, error) || (!moved && !commit(&moved, error)))
            return false;
        if (!moved)
            return true;
    }
}

// Takes the whole lines the file holds now, committing every kCommitLines; stops early with
// *moved set when a commit found that another reader moved the cursor.
bool LogStream::readLines(bool* moved, QString* error) {
    for (;;) {
        if (buffer_.size() < buffered_ + size_t(kChunkBytes))
            buffer_.resize(buffered_ + size_t(kChunkBytes));
        const qint64 n = file_.Read(buffer_.data() + buffered_, kChunkBytes, error);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        const size_t total = buffered_ + size_t(n);
        char* const data = buffer_.data();
        size_t start = 0;
        size_t scan = buffered_;  // the bytes before are known to hold no line end
        while (const void* found = std::memchr(data + scan, '\n', total - scan)) {
            const size_t end = size_t(static_cast<const char*>(found) - data);
            if (discarding_) {
                discarding_ = false;
                consumed_ += discarded_ + qint64(end + 1 - start);
                discarded_ = 0;
            } else {
                takeLine(data + start, data + end);
            }
            start = scan = end + 1;
            if (events_.size() >= kCommitLines && (!commit(moved, error) || *moved))
                return *moved;
        }
        buffered_ = total - start;
        if (start > 0 && buffered_ > 0)
            std::memmove(data, data + start, buffered_);
        if (qint64(buffered_) > kMaxLineBytes || (discarding_ && buffered_ > 0)) {
            // The rest of a line this long is left out; the cursor stays before it.
            if (!discarding_) {
                ++pending_.lines;
                ++pending_.malformed;
            }
            discarding_ = true;
            discarded_ += qint64(buffered_);
            buffered_ = 0;
        }
        if (interrupted_ && interrupted_())
            return true;
    }
}

void LogStream::takeLine(const char* begin, const char* end) {
    consumed_ += qint64(end - begin) + 1;
    ++pending_.lines;
    AccessLogLine line;
    if (!reader_.Read(QByteArrayView(begin, end - begin), &line)) {
        ++pending_.malformed;
        return;
    }
    FetchEvent event;
    if (!fetchEvent(line, options_.prefix, &event, &lastPeer_, &lastAgent_)) {
        ++pending_.notFiles;
        return;
    }
    events_.push_back(std::move(event));
    ++pending_.recorded;
}

bool LogStream::commit(bool* moved, QString* error) {
    *moved = false;
    if (consumed_ == cursor_.offset && events_.empty()) {
        counts_.lines += pending_.lines;
        counts_.malformed += pending_.malformed;
        counts_.notFiles += pending_.notFiles;
        pending_ = {};
        return true;
    }
    LogCursor next = cursor_;
    next.path = QFile::encodeName(QFileInfo(path_).absoluteFilePath());
    next.device = file_.Device();
    next.inode = file_.Inode();
    next.offset = consumed_;
    switch (store_.Commit(next, cursor_.offset, events_, error)) {
        case LogCursorStore::Result::Done:
            cursor_ = next;
            counts_.lines += pending_.lines;
            counts_.recorded += pending_.recorded;
            counts_.malformed += pending_.malformed;
            counts_.notFiles += pending_.notFiles;
            pending_ = {};
            events_.clear();
            return true;
        case LogCursorStore::Result::Conflict: {
            // Another reader recorded lines of this log meanwhile: go on from where it stopped.
            LogCursor kept;
            if (!store_.Load(cursor_.digest, &kept, error))
                return false;
            cursor_.offset = kept.offset;
            *moved = true;
            return moveTo(kept.offset, error);
        }
        case LogCursorStore::Result::Failed:
            break;
    }
    return false;
}

bool LogStream::Truncated() {
    if (file_.Compressed() || !identified_)
        return false;
    const qint64 size = file_.Size();
    if (size < 0)
        return false;
    if (size < consumed_ + discarded_ + qint64(buffered_))
        return true;
    if (size == checkedSize_)
        return false;
    checkedSize_ = size;
    // Cut and written anew between two looks: the first line is another (its beginning tells).
    const QByteArrayView first =
        QByteArrayView(firstLine_).first(qMin<qsizetype>(firstLine_.size(), 4096));
    char head[4096];
    QString error;
    const qint64 n = file_.ReadAt(0, head, first.size(), &error);
    return n == first.size() && QByteArrayView(head, first.size()) != first;
}

LogFollower::LogFollower(const QString& path, const LogImportOptions& options,
                         LogCursorStore& store)
    : path_(path), options_(options), store_(store) {}

LogFollower::~LogFollower() = default;

bool LogFollower::Start(QString* error) {
    current_ = std::make_unique<LogStream>(options_, store_, counts_);
    current_->SetInterrupt(interrupted_);
    return current_->Open(path_, error);
}

// The file now at the path, after a rotation: false with *error when it is there but cannot be
// read; true without a file while none is there yet.
bool LogFollower::openNew(QString* error) {
    QString openError;
    if (Start(&openError))
        return true;
    current_.reset();
    if (!QFileInfo::exists(path_))
        return true;
    *error = openError;
    return false;
}

bool LogFollower::Poll(QString* error) {
    lastChange_.clear();
    const auto now = std::chrono::steady_clock::now();
    if (previous_) {
        if (!previous_->ReadAvailable(error))
            return false;
        if (now >= previousUntil_)
            previous_.reset();
    }
    if (!current_) {
        if (!openNew(error))
            return false;
        if (!current_)
            return true;  // not there yet
    }
    // Before reading: bytes written anew past the old end must not be read as old ones.
    if (current_->Truncated()) {
        lastChange_ = "truncated";
        if (!current_->Restart(error))
            return false;
    }
    if (!current_->ReadAvailable(error))
        return false;
    struct stat st {};
    if (::stat(QFile::encodeName(path_).constData(), &st) != 0)
        return true;  // renamed away, the new file not made yet: the old one is read on
    if (quint64(st.st_dev) == current_->File().Device() &&
        quint64(st.st_ino) == current_->File().Inode())
        return true;
    lastChange_ = "rotated";
    if (previous_ && !previous_->ReadAvailable(error))
        return false;
    previous_ = std::move(current_);
    previousUntil_ = now + kRotationGrace;
    if (!openNew(error))
        return false;
    return !current_ || current_->ReadAvailable(error);
}

bool ImportLog(const QString& path, const LogImportOptions& options, LogCursorStore& store,
               LogImportCounts* counts, QString* error) {
    LogStream stream(options, store, *counts);
    return stream.Open(path, error) && stream.ReadAvailable(error);
}
