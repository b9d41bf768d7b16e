#include "app/MyLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <ctime>

namespace {

bool isControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

}  // namespace

QByteArray LogSafeText(const QByteArray& text) {
    if (std::none_of(text.begin(), text.end(), isControl))
        return text;
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(text.size() + 8);
    for (const char c : text) {
        if (!isControl(c)) {
            out += c;
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        out += '%';
        out += hex[byte >> 4];
        out += hex[byte & 0xf];
    }
    return out;
}

MyLog::~MyLog() {
    Close();
}

void MyLog::SetDirectory(const QString& directory) {
    directory_ = directory;
}

int MyLog::Open() {
    if (directory_.isEmpty() || !QFileInfo(directory_).isDir())
        return -1;
    QString dir = directory_ + "/log";
    if (!QFileInfo(dir).isDir() && !QDir().mkdir(dir))
        return -1;
    dir += '/';
    directory_ = dir;

    const QString stamp = QDateTime::currentDateTime().toString("yyyyMMddhhmmss");
    QString name = dir + "log-" + stamp + ".log";
    for (int n = 1; QFileInfo::exists(name); ++n)
        name = dir + "log-" + stamp + "-" + QString::number(n) + ".log";

    const int fd = ::open(QFile::encodeName(name).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    std::lock_guard<std::mutex> lock(mutex_);
    fd_ = fd;
    fileName_ = name;
    return 0;
}

QByteArray MyLog::LineStamp() {
    // Rendered once per second per thread: a busy server writes many lines a second.
    thread_local std::time_t last = -1;
    thread_local QByteArray text;
    const std::time_t now = std::time(nullptr);
    if (now != last) {
        std::tm local{};
        localtime_r(&now, &local);
        char buf[32];
        const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
        text = QByteArray(buf, static_cast<qsizetype>(n));
        last = now;
    }
    return text;
}

QByteArray MyLog::FormatLine(const QByteArray& text) const {
    const QByteArray message = LogSafeText(text);
    if (observer_)
        observer_(message);
    const QByteArray stamp = LineStamp();
    QByteArray line;
    line.reserve(stamp.size() + message.size() + 3);
    line += stamp;
    line += ' ';
    line += message;
    line += "\r\n";
    return line;
}

void MyLog::Append(const QByteArray& lines) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ < 0)
        return;
    const char* p = lines.constData();
    qsizetype left = lines.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        left -= n;
    }
}

void MyLog::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool MyLog::IsOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fd_ >= 0;
}

void MyLog::TidyUp(int keep) {
    if (keep <= 0 || fileName_.isEmpty())
        return;
    QDir dir(directory_);
    // The open file is kept whatever its name; the others fill the remaining places.
    QStringList names = dir.entryList({"log*"}, QDir::Files | QDir::NoSymLinks);
    names.removeAll(QFileInfo(fileName_).fileName());
    const qsizetype others = keep - 1;
    if (names.size() <= others)
        return;
    // By name, ignoring case and the ".log" ending, so that "log-<stamp>-1.log" (opened later in
    // the same second) comes after "log-<stamp>.log".
    const auto stem = [](const QString& name) {
        return name.endsWith(".log", Qt::CaseInsensitive) ? QStringView(name).chopped(4)
                                                          : QStringView(name);
    };
    std::sort(names.begin(), names.end(), [&](const QString& a, const QString& b) {
        return stem(a).compare(stem(b), Qt::CaseInsensitive) < 0;
    });
    for (qsizetype i = 0; i < names.size() - others; ++i)
        QFile::remove(dir.filePath(names[i]));
}
