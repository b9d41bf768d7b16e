#include "app/AtomicFile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>

namespace {

mode_t defaultFileMode() {
    static const mode_t mode = [] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

bool writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

}  // namespace

bool WriteFileAtomically(const QString& path, const char* data, qsizetype size) {
    const QByteArray target = QFile::encodeName(path);
    if (target.isEmpty())
        return false;
    const int slash = target.lastIndexOf('/');
    const QByteArray dir = slash >= 0 ? target.left(slash + 1) : QByteArray();
    const QByteArray base = target.mid(slash + 1);
    if (base.isEmpty())
        return false;

    QByteArray temp = dir + "." + base + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;

    struct stat old {};
    const mode_t mode = ::stat(target.constData(), &old) == 0 && S_ISREG(old.st_mode)
                            ? (old.st_mode & 07777)
                            : defaultFileMode();
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, data, size);
    ok = (::close(fd) == 0) && ok;
    if (ok)
        ok = ::rename(temp.constData(), target.constData()) == 0;
    if (!ok)
        ::unlink(temp.constData());
    return ok;
}
