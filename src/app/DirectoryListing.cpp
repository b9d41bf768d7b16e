#include "app/DirectoryListing.h"

#include <QDir>
#include <QFileInfo>

namespace {

QStringList listPlain(const QString& folder, QDir::Filters kind) {
    QStringList names;
    if (folder.isEmpty())
        return names;
    const QFileInfoList entries =
        QDir(folder).entryInfoList(kind | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    for (const QFileInfo& entry : entries)
        if (entry.permission(QFileDevice::WriteOwner))
            names << entry.fileName();
    return names;
}

}  // namespace

QStringList ListPlainDirectories(const QString& folder) {
    return listPlain(folder, QDir::Dirs);
}

QStringList ListPlainFiles(const QString& folder) {
    return listPlain(folder, QDir::Files);
}
