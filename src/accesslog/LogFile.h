#pragma once

#include <QString>
#include <QtGlobal>

typedef struct gzFile_s* gzFile;

// One log file open for reading: a plain file, or a gzip file (known by its first bytes, not by
// its name), read as its uncompressed text. A plain file may grow while it is read: a read at
// its end gives 0 now and the new bytes later.
class LogFile {
  public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // False with *error for a path that is no regular file or cannot be read.
    bool Open(const QString& path, QString* error);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    bool Compressed() const { return gz_ != nullptr; }
    quint64 Device() const { return device_; }
    quint64 Inode() const { return inode_; }
    // The plain file's size now; -1 when it cannot be asked.
    qint64 Size() const;

    // Up to size bytes of the text from the current position; 0 at the end, -1 with *error.
    qint64 Read(char* data, qint64 size, QString* error);
    // Moves to a position of the text, or to its end when it is shorter: a plain file seeks, a
    // gzip file is read anew from its start up to there. The position reached; -1 with *error.
    qint64 Seek(qint64 offset, QString* error);
    // Bytes of the plain file at a position without moving; -1 with *error.
    qint64 ReadAt(qint64 offset, char* data, qint64 size, QString* error) const;

  private:
    bool openGzip(QString* error);

    int fd_ = -1;
    gzFile gz_ = nullptr;
    quint64 device_ = 0;
    quint64 inode_ = 0;
};
