#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// One answer as curl saw it.
struct CurlAnswer {
    int exitCode = -1;  // curl's own exit code (0 when a whole answer arrived)
    int status = 0;
    QString contentType;
    QByteArray headers;
    QByteArray body;

    // The value of a response header, empty when missing.
    QByteArray header(const QByteArray& name) const;
};

// Fetches url with curl (paths sent as they stand, no "." or ".." folding); extra arguments are
// passed on, e.g. {"--head"} or {"--data", "x"}.
CurlAnswer Curl(const QString& url, const QStringList& extra = {});

// A TCP connection to 127.0.0.1:port; -1 when it fails. Receives time out after 10 s.
int ConnectLoopback(quint16 port);
// Sends bytes whole; false on failure.
bool SendAll(int fd, const QByteArray& bytes);
// Reads until the peer closes (or 10 s pass); gives what arrived.
QByteArray ReadToEnd(int fd);
// Sends a raw request on a new connection and gives everything received until the close.
QByteArray ExchangeRaw(quint16 port, const QByteArray& request);
// True when the peer closes the connection (end of stream or reset) within timeoutMs; data
// arriving before the close is read and dropped.
bool PeerCloses(int fd, int timeoutMs);
