#include "accesslog/LogFile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <cerrno>
#include <cstring>

namespace {

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

LogFile::~LogFile() {
    Close();
}

void LogFile::Close() {
    if (gz_)
        gzclose_r(gz_);  // closes its own descriptor, a duplicate of fd_
    gz_ = nullptr;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool LogFile::Open(const QString& path, QString* error) {
    Close();
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
        *error = systemError(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = S_ISDIR(st.st_mode) ? QStringLiteral("is a folder")
                                     : QStringLiteral("is no regular file");
        Close();
        return false;
    }
    device_ = quint64(st.st_dev);
    inode_ = quint64(st.st_ino);
    unsigned char magic[2] = {};
    const ssize_t n = ::pread(fd_, magic, sizeof magic, 0);
    if (n < 0) {
        *error = systemError(errno);
        Close();
        return false;
    }
    if (n == 2 && magic[0] == 0x1f && magic[1] == 0x8b)
        return openGzip(error);
    return true;
}

bool LogFile::openGzip(QString* error) {
    if (gz_)
        gzclose_r(gz_);
    gz_ = nullptr;
    const int copy = ::dup(fd_);
    if (copy < 0 || ::lseek(copy, 0, SEEK_SET) != 0) {
        *error = systemError(errno);
        if (copy >= 0)
            ::close(copy);
        Close();
        return false;
    }
    gz_ = gzdopen(copy, "rb");
    if (!gz_) {
        ::close(copy);
        *error = QStringLiteral("cannot be read as gzip");
        Close();
        return false;
    }
    gzbuffer(gz_, 256 * 1024);
    return true;
}

qint64 LogFile::Size() const {
    struct stat st {};
    return fd_ >= 0 && ::fstat(fd_, &st) == 0 ? qint64(st.st_size) : -1;
}

qint64 LogFile::Read(char* data, qint64 size, QString* error) {
    if (fd_ < 0) {
        *error = QStringLiteral("is not open");
        return -1;
    }
    if (gz_) {
        const int n = gzread(gz_, data, unsigned(qMin<qint64>(size, 1 << 30)));
        if (n < 0) {
            int code = 0;
            const char* message = gzerror(gz_, &code);
            *error = code == Z_ERRNO ? systemError(errno)
                                     : "is a damaged gzip file (" + QString(message) + ")";
            return -1;
        }
        // A gzip file cut short reads as far as it goes and then fails: it is damaged.
        if (n == 0) {
            int code = 0;
            const char* message = gzerror(gz_, &code);
            if (code != Z_OK && code != Z_STREAM_END) {
                *error = "is a damaged gzip file (" + QString(message) + ")";
                return -1;
            }
        }
        return n;
    }
    for (;;) {
        const ssize_t n = ::read(fd_, data, size_t(size));
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            return 0;
        *error = systemError(errno);
        return -1;
    }
}

qint64 LogFile::Seek(qint64 offset, QString* error) {
    if (!gz_) {
        const qint64 size = Size();
        const qint64 to = size < 0 ? offset : qMin(offset, size);
        if (::lseek(fd_, to, SEEK_SET) == to)
            return to;
        *error = systemError(errno);
        return -1;
    }
    if (!openGzip(error))
        return -1;
    char skip[64 * 1024];
    qint64 at = 0;
    while (at < offset) {
        const qint64 n = Read(skip, qMin<qint64>(offset - at, sizeof skip), error);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        at += n;
    }
    return at;
}

qint64 LogFile::ReadAt(qint64 offset, char* data, qint64 size, QString* error) const {
    const ssize_t n = ::pread(fd_, data, size_t(size), offset);
    if (n < 0)
        *error = systemError(errno);
    return n;
}
