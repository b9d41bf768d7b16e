#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at path with the given bytes. The bytes go to a temporary file in the same
// folder, which is then renamed over the target: a reader sees the old file or the whole new
// one, and a failed write leaves the old file as it was. False on any failure.
bool WriteFileAtomically(const QString& path, const char* data, qsizetype size);
inline bool WriteFileAtomically(const QString& path, const QByteArray& data) {
    return WriteFileAtomically(path, data.constData(), data.size());
}
