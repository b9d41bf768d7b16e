#pragma once

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Plug-and-play groups on loopback only: a listener joins one on 127.0.0.1 and the tests send
// to it out of the loopback interface, so nothing reaches the machine's networks.

// A group of the calling test's own (239.x.y.z), so that tests running at the same time on
// this machine never hear each other.
inline QString OwnMulticastGroup() {
    QRandomGenerator* r = QRandomGenerator::global();
    return QString("239.%1.%2.%3")
        .arg(r->bounded(1, 255))
        .arg(r->bounded(256))
        .arg(r->bounded(1, 255));
}

// A port nobody uses right now (the system picks it, then it is released).
inline int FreeLoopbackPort(int type = SOCK_DGRAM) {
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// Sends one datagram to group:port out of the loopback interface.
inline void SendToLoopbackGroup(const QString& group, int port, const QByteArray& datagram) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    in_addr loopback{};
    loopback.s_addr = htonl(INADDR_LOOPBACK);
    ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, group.toLatin1().constData(), &to.sin_addr);
    ::sendto(fd, datagram.constData(), static_cast<size_t>(datagram.size()), 0,
             reinterpret_cast<sockaddr*>(&to), sizeof to);
    ::close(fd);
}

// A phone's SUBSCRIBE whose Via names 127.0.0.1:phonePort.
inline QByteArray LoopbackSubscribe(int phonePort, const char* mac = "MAC0a1b2c3d4e5f",
                                    const char* callId = "4711-abc") {
    return QByteArray("SUBSCRIBE sip:") + mac +
           "@224.0.1.75 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + QByteArray::number(phonePort) +
           ";branch=z9hG4bK77\r\nCall-ID: " + callId +
           "\r\nCSeq: 1 SUBSCRIBE\r\nEvent: ua-profile\r\n\r\n";
}
