#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

TempDir::TempDir() : dir_(QDir::tempPath() + "/orvo-test-XXXXXX") {}

QString TempDir::write(const QString& name, const QByteArray& bytes) const {
    const QString p = file(name);
    QDir().mkpath(QFileInfo(p).path());
    QFile f(p);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
    return p;
}

QByteArray ReadFileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int RunProgram(const QString& program, const QStringList& args, QByteArray* out, QByteArray* err,
               const QString& workDir) {
    QProcess process;
    if (!workDir.isEmpty())
        process.setWorkingDirectory(workDir);
    process.start(program, args);
    if (!process.waitForStarted(10000))
        return -1;
    process.closeWriteChannel();
    if (!process.waitForFinished(120000))
        return -1;
    if (out)
        *out = process.readAllStandardOutput();
    if (err)
        *err = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QString BuiltProgram(const QString& name) {
    QByteArray dir = qgetenv("ORVO_BINARY_DIR");
    if (dir.isEmpty())
        dir = ORVO_BUILD_DIR;
    return QString::fromLocal8Bit(dir) + "/bin/" + name;
}
