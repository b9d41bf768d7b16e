#include "app/FileProblem.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

QString SystemErrorWords(int error) {
    QString words = QString::fromLocal8Bit(std::strerror(error));
    if (!words.isEmpty())
        words[0] = words[0].toLower();
    return words;
}

QString FileReadProblem(const QString& path) {
    if (path.isEmpty())
        return "no file name";
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::stat(name.constData(), &info) != 0) {
        const int error = errno;
        if (error == ENOENT)
            return "no such file";
        if (error == ENOTDIR)
            return "no such file (a part of the path is not a folder)";
        return "cannot be reached: " + SystemErrorWords(error);
    }
    if (S_ISDIR(info.st_mode))
        return "is a folder, not a file";
    if (!S_ISREG(info.st_mode))
        return "is not a regular file";
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return "cannot be read: " + SystemErrorWords(errno);
    ::close(fd);
    return {};
}
