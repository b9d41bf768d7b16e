#include "support/HttpClient.h"

#include "support/TempDir.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>

QByteArray CurlAnswer::header(const QByteArray& name) const {
    for (const QByteArray& line : headers.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

CurlAnswer Curl(const QString& url, const QStringList& extra) {
    TempDir dir;
    QStringList args = {"--silent",      "--path-as-is",
                        "--max-time",    "20",
                        "--dump-header", dir.file("headers"),
                        "--output",      dir.file("body"),
                        "--write-out",   "%{http_code}\n%{content_type}"};
    args << extra << url;
    CurlAnswer answer;
    QByteArray out;
    answer.exitCode = RunProgram("curl", args, &out);
    const QList<QByteArray> lines = out.split('\n');
    answer.status = lines.value(0).toInt();
    answer.contentType = QString::fromUtf8(lines.value(1));
    answer.headers = ReadFileBytes(dir.file("headers"));
    answer.body = ReadFileBytes(dir.file("body"));
    return answer;
}

int ConnectLoopback(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray ReadToEnd(int fd) {
    QByteArray all;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return all;
        all.append(buf, n);
    }
}

QByteArray ExchangeRaw(quint16 port, const QByteArray& request) {
    const int fd = ConnectLoopback(port);
    if (fd < 0)
        return {};
    QByteArray answer;
    if (SendAll(fd, request))
        answer = ReadToEnd(fd);
    ::close(fd);
    return answer;
}

bool PeerCloses(int fd, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0)
            continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return true;
    }
}
