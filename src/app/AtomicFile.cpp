#include "app/AtomicFile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>

namespace {

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

// The first bytes of name, at most limit, not cutting a UTF-8 character in two.
QByteArray leadingBytes(const QByteArray& name, qsizetype limit) {
    if (limit <= 0)
        return {};
    if (name.size() <= limit)
        return name;
    qsizetype n = limit;
    while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80)
        --n;
    return name.left(n);
}

// "." + base + ".tmp-<pid>-<n>", with base cut short where the whole would not fit the folder.
QByteArray temporaryName(const QByteArray& base, qsizetype nameMax, unsigned n) {
    const QByteArray suffix =
        ".tmp-" + QByteArray::number(::getpid()) + "-" + QByteArray::number(n);
    return "." + leadingBytes(base, nameMax - 1 - suffix.size()) + suffix;
}

}  // namespace

qsizetype FileNameLimit(const QString& folder) {
    const QByteArray dir = QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder);
    const long limit = ::pathconf(dir.constData(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<qsizetype>(limit) : 255;
}

// mode < 0: a replaced file keeps its permissions, a new one gets 0666 less the umask.
static bool writeAtomically(const QString& path, const char* data, qsizetype size, int mode,
                            struct stat* written = nullptr) {
    const QByteArray target = QFile::encodeName(path);
    if (target.isEmpty())
        return false;
    const int slash = target.lastIndexOf('/');
    const QByteArray dir = slash >= 0 ? target.left(slash + 1) : QByteArray();
    const QByteArray base = target.mid(slash + 1);
    if (base.isEmpty())
        return false;
    // The folder's name limit is asked for only when a temporary name turns out too long for it:
    // asking costs a system call per file.
    qsizetype nameMax = -1;

    struct stat old {};
    const bool replacing =
        mode < 0 && ::stat(target.constData(), &old) == 0 && S_ISREG(old.st_mode);
    static std::atomic<unsigned> counter{0};
    int fd = -1;
    QByteArray temp;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = dir + temporaryName(base, nameMax < 0 ? base.size() + 64 : nameMax, counter++);
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    mode < 0 ? 0666 : mode & 0600);
        if (fd < 0 && errno == ENAMETOOLONG && nameMax < 0)
            nameMax = FileNameLimit(QFile::decodeName(dir));
        else if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    const int wanted = replacing ? int(old.st_mode & 07777) : mode;
    bool ok = (wanted < 0 || ::fchmod(fd, mode_t(wanted)) == 0) && writeAll(fd, data, size);
    // The data is all there: the file's modification time is final.
    ok = ok && (!written || ::fstat(fd, written) == 0);
    ok = (::close(fd) == 0) && ok;
    if (ok)
        ok = ::rename(temp.constData(), target.constData()) == 0;
    if (!ok) {
        const int error = errno;  // the failure's reason, for the caller's message
        ::unlink(temp.constData());
        errno = error;
    }
    return ok;
}

bool WriteFileAtomically(const QString& path, const char* data, qsizetype size,
                         struct stat* written) {
    return writeAtomically(path, data, size, -1, written);
}

bool WriteFileAtomically(const QString& path, const QByteArray& data, mode_t mode) {
    return writeAtomically(path, data.constData(), data.size(), int(mode & 07777));
}
