#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include "support/QtPrinters.h"

// A temporary folder for one test, removed with it.
class TempDir {
  public:
    TempDir();
    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.path() + "/" + name; }
    // Writes a file (making its folders) and gives its path.
    QString write(const QString& name, const QByteArray& bytes) const;

  private:
    QTemporaryDir dir_;
};

QByteArray ReadFileBytes(const QString& path);
// Runs a program; gives its exit code (-1 when it could not run) and fills out/err.
int RunProgram(const QString& program, const QStringList& args, QByteArray* out = nullptr,
               QByteArray* err = nullptr, const QString& workDir = {});
// The build folder's path of a program built by the project.
QString BuiltProgram(const QString& name);
// A path in the source tree, e.g. SourcePath("data/ini/$default.ini").
inline QString SourcePath(const QString& relative) {
    return QStringLiteral(ORVO_SOURCE_DIR) + "/" + relative;
}
