#pragma once

#include <QString>
#include <QStringList>

// The names of the plain entries of a folder, sorted by name: sub-folders (or regular files)
// that are not hidden, not symbolic links and writable by their owner. Entries that are
// read-only, hidden or links are left out.
QStringList ListPlainDirectories(const QString& folder);
QStringList ListPlainFiles(const QString& folder);
