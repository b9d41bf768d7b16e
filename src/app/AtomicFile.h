#pragma once

#include <QByteArray>
#include <QString>

#include <sys/stat.h>
#include <sys/types.h>

// Replaces the file at path with the given bytes. The bytes go to a temporary file in the same
// folder, which is then renamed over the target: a reader sees the old file or the whole new
// one, and a failed write leaves the old file as it was. The temporary name is "." + the file's
// name + ".tmp-<pid>-<n>", the name cut short where that would be longer than the folder takes,
// so every name the folder takes can be written. False on any failure, errno telling why.
// written, when given, gets the new file's status (its inode and modification time, as a server
// opening it sees).
bool WriteFileAtomically(const QString& path, const char* data, qsizetype size,
                         struct stat* written = nullptr);
inline bool WriteFileAtomically(const QString& path, const QByteArray& data,
                                struct stat* written = nullptr) {
    return WriteFileAtomically(path, data.constData(), data.size(), written);
}

// The same, the file getting exactly mode (also while it is written, so that no other user can
// read the bytes of a private file for a moment), replaced or new.
bool WriteFileAtomically(const QString& path, const QByteArray& data, mode_t mode);

// The longest file name (in bytes) the folder takes; 255 when the system does not say.
qsizetype FileNameLimit(const QString& folder);
